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
root=$1; build=$2; out=$3
source "$root/scripts/screenshot-lib.sh"
log="$build/src/kv.log"
rm -f "$log"
"$root/scripts/run-demo.sh" "$build" --quit-after=120000 -geometry 1000x680+0+0 &
run=$!
program_pid() { pgrep -P "$run" -x kv || true; }
stop() {
  local p; p=$(program_pid)
  [ -z "$p" ] || kill "$p" 2>/dev/null || true
  wait "$run" || true
}
identified() { grep -q 'Готово' "$log" 2>/dev/null; }
# The panel's refresh reads the event list last and ends with a second "Готово".
refreshed() { grep -q 'Чтение событий' "$log" 2>/dev/null && [ "$(grep -c 'Готово' "$log")" -ge 2 ]; }
# Wait (up to 60 s) for the window, the identification and the panel's first refresh.
shot_wait 600 "$run" refreshed
identified || { echo "no identification within 60 s"; tail -20 "$log" || true; stop; exit 1; }
refreshed || echo "the title panel was not refreshed within 60 s"

sleep 1.5   # the pages and labels repaint after the last step
shot_capture "$out"
stop
INNER
chmod +x "$inner"
env -u QT_QPA_PLATFORM HOME="$scratch" XDG_CONFIG_HOME="$scratch/.config" \
  xvfb-run -a -s "-screen 0 1040x720x24" "$inner" "$root" "$build" "$out"
echo "saved $out"
