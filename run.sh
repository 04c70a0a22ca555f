#!/bin/sh
# Builds and starts the program against the simulated device (see README).
exec "$(dirname "$0")/scripts/bootstrap.sh" run "$@"
