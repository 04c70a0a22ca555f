#pragma once
// When the program was built, in seconds since 1970 (UTC): defined by a
// source file written at every build and linked into the program alone.
extern const long long KvBuildEpochSeconds;
