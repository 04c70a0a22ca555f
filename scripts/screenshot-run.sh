#!/usr/bin/env bash
# Runs the program against the demo terminal under a virtual X server, as
# `make run` does, and saves a screenshot once the device is identified and
# the title panel has been refreshed (its event list read).
# Usage: scripts/screenshot-run.sh [build folder, default build/release]
# Result: <build folder>/screenshot-run.png
set -euo pipefail
source "$(dirname "$0")/screenshot-lib.sh"
shot_begin build/release screenshot-run.png "build first (make release)" "${1:-}"

inner="$scratch/inner.sh"
cat >"$inner" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
source "$1/scripts/screenshot-lib.sh"
out=$3
shot_demo_start "$2" 120000
identified() { [ "$(shot_log_count 'Готово')" -ge 1 ]; }
# The panel's refresh reads the event list last and ends with a second "Готово".
refreshed() { [ "$(shot_log_count 'Чтение событий')" -ge 1 ] && [ "$(shot_log_count 'Готово')" -ge 2 ]; }
# Wait (up to 60 s) for the window, the identification and the panel's first refresh.
shot_wait 600 "$run" refreshed
identified || shot_fail "no identification within 60 s"
refreshed || echo "the title panel was not refreshed within 60 s"

sleep 1.5   # the pages and labels repaint after the last step
shot_capture "$out"
shot_demo_stop
INNER
chmod +x "$inner"
shot_xvfb 1040x720 "$inner" "$root" "$build" "$out"
echo "saved $out"
