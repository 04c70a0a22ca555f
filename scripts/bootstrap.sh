#!/bin/sh
# The first step on a fresh Debian machine, before make exists: installs make
# and bash (with sudo only when not root), then hands over to make, whose deps
# target installs the rest. Needs only sh.
set -eu
need=""
command -v make >/dev/null 2>&1 || need="$need make"
command -v bash >/dev/null 2>&1 || need="$need bash"
if [ -n "$need" ]; then
  if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
  elif command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
  else
    echo "kv: installing$need needs root: run this as root, or install sudo first (as root: apt-get install sudo)" >&2
    exit 1
  fi
  echo "installing:$need"
  # Through env: sudo drops the caller's environment.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $need
fi
cd "$(dirname "$0")/.."
exec make "$@"
