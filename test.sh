#!/bin/sh
# Builds with ASan and UBSan and runs every test (see README).
exec "$(dirname "$0")/scripts/bootstrap.sh" test "$@"
