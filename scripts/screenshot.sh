#!/usr/bin/env bash
# Takes a screenshot of the main window under a virtual X server.
# Usage: scripts/screenshot.sh [build folder, default build/test]
# Result: <build folder>/screenshot-mainwindow.png
set -euo pipefail
source "$(dirname "$0")/screenshot-lib.sh"
shot_begin build/test screenshot-mainwindow.png "build first" "${1:-}"

inner="$scratch/inner.sh"
cat > "$inner" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
root=$1; program=$2; out=$3
source "$root/scripts/screenshot-lib.sh"
"$program" --quit-after=30000 &
pid=$!
# Wait (up to 30 s) until the main window is mapped and painted.
shot_wait 300 "$pid"
shot_has_window || { echo "no main window"; kill "$pid"; exit 1; }
sleep 1   # let the first paint finish
shot_capture "$out"
kill "$pid"
wait "$pid" || true
INNER
chmod +x "$inner"
shot_xvfb 1100x760 "$inner" "$root" "$program" "$out"
echo "saved $out"
