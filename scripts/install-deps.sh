#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent and quick
# when everything is there: apt is only touched when a package is missing.
set -euo pipefail
PKGS=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-serialport-dev qt6-declarative-dev qt6-serialbus-dev
  qt6-translations-l10n
  libpugixml-dev zlib1g-dev libxlsxwriter-dev
  libgtest-dev libgmock-dev
  libmodbus-dev python3 python3-pymodbus python3-serial-asyncio python3-openpyxl
  binutils-avr
  clang libclang-rt-14-dev
  xvfb xauth imagemagick poppler-utils xdotool
  fonts-dejavu-core
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  # Through env: sudo drops the caller's environment, and a package asking
  # questions (tzdata) would stop an unattended first run.
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
