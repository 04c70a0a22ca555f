# Writes the program's build time (seconds since 1970, UTC) into OUT. Run at
# every build; only the program itself compiles the file, so the stamp costs
# one small compile and a link.
string(TIMESTAMP now "%s" UTC)
file(WRITE "${OUT}" "// Written by BuildStamp.cmake at every build.\n#include \"uBuildStamp.h\"\n\nconst long long KvBuildEpochSeconds = ${now};\n")
