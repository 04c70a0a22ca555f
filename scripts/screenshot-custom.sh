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
root=$1; build=$2; out=$3
source "$root/scripts/screenshot-lib.sh"
log="$build/src/kv.log"
rm -f "$log"
"$root/scripts/run-demo.sh" "$build" --quit-after=180000 -geometry 1200x760+0+0 &
run=$!
program_pid() { pgrep -P "$run" -x kv || true; }
stop() {
  local p; p=$(program_pid)
  [ -z "$p" ] || kill "$p" 2>/dev/null || true
  wait "$run" || true
}
done_count() { grep -c 'Готово' "$log" 2>/dev/null || true; }
identified() { [ "$(done_count)" -ge 1 ]; }
logic_read() { grep -q 'Чтение внешней логики' "$log" 2>/dev/null && [ "$(done_count)" -ge "$before" ]; }
shot_wait 600 "$run" identified
identified || { echo "no identification within 60 s"; tail -20 "$log" || true; stop; exit 1; }
window=$(xdotool search --sync --onlyvisible --name 'Вартон' | head -1)
xdotool windowfocus --sync "$window"
xdotool key ctrl+l
sleep 1
before=$(( $(done_count) + 1 ))
xdotool key ctrl+r
for _ in $(seq 300); do logic_read && break; sleep 0.1; done
logic_read || { echo "the logic was not read within 30 s"; tail -20 "$log" || true; stop; exit 1; }
sleep 1
# The first unit of the list at the page's left.
xdotool mousemove --window "$window" "${UNIT_X:-60}" "${UNIT_Y:-166}" click 1
sleep 1.5
shot_capture "$out"
stop
INNER
chmod +x "$inner"
env -u QT_QPA_PLATFORM HOME="$scratch" XDG_CONFIG_HOME="$scratch/.config" \
  xvfb-run -a -s "-screen 0 1240x800x24" "$inner" "$root" "$build" "$out"
echo "saved $out"
