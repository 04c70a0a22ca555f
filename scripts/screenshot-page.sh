#!/usr/bin/env bash
# A picture of one page of the main window, identified against the demo
# terminal served in-process, under a virtual X server.
# Usage: scripts/screenshot-page.sh PAGE [build folder, default build/release]
#   PAGE: dashboard, param, ustav, event, osc, osc-read, osc-cursors, osc-note,
#   osc-print (also OUT.pdf), preferences, boards (the device boards tab),
#   designer (the board designer with its property editor), a row the screenshot program
#   adds, or a tab's object name or caption.
# Result: <build folder>/screenshot-PAGE.png
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 PAGE [build folder]"; exit 2; }
source "$(dirname "$0")/screenshot-lib.sh"
shot_begin build/release "screenshot-$1.png" "ninja -C ${2:-build/release} screenshot_page (or make release)" "${2:-}" \
  tools/screenshot/screenshot_page
shot_xvfb 1480x840 "$program" "$1" "$out"
echo "saved $out"
# The printed page, rendered as a picture beside it.
if [ -f "${out%.png}.pdf" ]; then
  pdftoppm -r 100 -png -singlefile "${out%.png}.pdf" "${out%.png}-page"
  echo "saved ${out%.png}-page.png"
fi
