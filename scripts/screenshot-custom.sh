#!/usr/bin/env bash
# Runs the program against the demo terminal under a virtual X server, as
# `make run` does, and goes to the custom logic as a new user would: once the
# device is identified, "Внешняя логика" (Ctrl+L), "Обновить" (Ctrl+R) to
# read the device's logic, then a click on the first unit of "Блоки".
# Usage: scripts/screenshot-custom.sh [build folder, default build/release]
# Result: <build folder>/screenshot-custom.png
set -euo pipefail
source "$(dirname "$0")/screenshot-lib.sh"
shot_begin build/release screenshot-custom.png "build first (make release)" "${1:-}"

inner="$scratch/inner.sh"
cat >"$inner" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
source "$1/scripts/screenshot-lib.sh"
out=$3
shot_demo_start "$2" 180000
identified() { [ "$(shot_log_count 'Готово')" -ge 1 ]; }
logic_read() { [ "$(shot_log_count 'Чтение внешней логики')" -ge 1 ] && [ "$(shot_log_count 'Готово')" -ge "$before" ]; }
shot_wait 600 "$run" identified
identified || shot_fail "no identification within 60 s"
window=$(xdotool search --sync --onlyvisible --name 'Вартон' | head -1)
xdotool windowfocus --sync "$window"
xdotool key ctrl+l
sleep 1
before=$(( $(shot_log_count 'Готово') + 1 ))
xdotool key ctrl+r
for _ in $(seq 300); do logic_read && break; sleep 0.1; done
logic_read || shot_fail "the logic was not read within 30 s"
sleep 1
# The first unit of the list at the page's left.
xdotool mousemove --window "$window" "${UNIT_X:-60}" "${UNIT_Y:-166}" click 1
sleep 1.5
shot_capture "$out"
shot_demo_stop
INNER
chmod +x "$inner"
shot_xvfb 1040x720 "$inner" "$root" "$build" "$out"
echo "saved $out"
