#!/usr/bin/env bash
# A picture of one page of the main window, identified against the demo
# terminal served in-process, under a virtual X server.
# Usage: scripts/screenshot-page.sh PAGE [build folder, default build/test]
#   PAGE: dashboard, param, ustav, event, osc, osc-read, osc-cursors, osc-note,
#   osc-print (also OUT.pdf), preferences, boards (the device boards tab),
#   designer (the board designer with its property editor), a row the screenshot program
#   adds, or a tab's object name or caption.
# Result: <build folder>/screenshot-PAGE.png
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 PAGE [build folder]"; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${2:-$root/build/test}" && pwd)
program="$build/tools/screenshot/screenshot_page"
[ -x "$program" ] || { echo "no program at $program: ninja -C $build screenshot_page"; exit 1; }
out="$build/screenshot-$1.png"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
env -u QT_QPA_PLATFORM HOME="$scratch" XDG_CONFIG_HOME="$scratch/.config" \
  ASAN_OPTIONS=detect_leaks=0 \
  xvfb-run -a -s "-screen 0 1480x840x24" "$program" "$1" "$out"
echo "saved $out"
# The printed page, rendered as a picture beside it.
if [ -f "${out%.png}.pdf" ]; then
  pdftoppm -r 100 -png -singlefile "${out%.png}.pdf" "${out%.png}-page"
  echo "saved ${out%.png}-page.png"
fi
