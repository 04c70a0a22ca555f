#!/usr/bin/env bash
# Installs the Debian packages the build needs. Idempotent and quick when
# everything is there: apt is only touched when a package is missing.
#   scripts/install-deps.sh        what the tests, the fuzzers and the benchmarks need too
#   scripts/install-deps.sh run    only what building and running the program and devsim needs
set -euo pipefail
# The program and devsim: the compiler and build tools, Qt (Qml for the code
# generator's scripts), the XML, zlib and spreadsheet libraries, Qt's own
# dialog translations and the font the PDF reports embed.
RUN_PKGS=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev qt6-declarative-dev
  qt6-translations-l10n
  libpugixml-dev zlib1g-dev libxlsxwriter-dev
  fonts-dejavu-core
)
# The tests (GoogleTest; libmodbus and pymodbus as independent peers of
# devsim; the PDF, screenshot and X tools), the fuzzers (clang) and the
# benchmarks (the AVR assembler beside ours), and ccache for the many builds.
TEST_PKGS=(
  ccache
  libgtest-dev libgmock-dev
  libmodbus-dev python3 python3-pymodbus python3-serial-asyncio python3-openpyxl
  binutils-avr
  clang libclang-rt-14-dev
  xvfb xauth imagemagick poppler-utils xdotool
)
PKGS=("${RUN_PKGS[@]}")
[ "${1:-}" = run ] || PKGS+=("${TEST_PKGS[@]}")
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
