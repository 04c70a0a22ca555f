#!/usr/bin/env bash
# Runs the program against the demo terminal under a virtual X server, as
# `make run` does, and saves a screenshot once the device is identified.
# Usage: scripts/screenshot-run.sh [build folder, default build/release]
# Result: <build folder>/screenshot-run.png
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
[ -x "$build/src/kv" ] || { echo "no program at $build/src/kv: build first (make release)"; exit 1; }
out="$build/screenshot-run.png"

# The program keeps its per-user state under HOME; use a scratch one.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

inner="$scratch/inner.sh"
cat >"$inner" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
root=$1; build=$2; out=$3
log="$build/src/kv.log"
rm -f "$log"
"$root/scripts/run-demo.sh" "$build" --quit-after=120000 -geometry 1440x800+0+0 &
run=$!
program_pid() { pgrep -P "$run" -x kv || true; }
stop() {
  local p; p=$(program_pid)
  [ -z "$p" ] || kill "$p" 2>/dev/null || true
  wait "$run" || true
}
# Wait (up to 60 s) for the window and for the identification to end ("Готово").
for _ in $(seq 600); do
  if xwininfo -root -tree 2>/dev/null | grep -q 'Вартон' && grep -q 'Готово' "$log" 2>/dev/null; then break; fi
  kill -0 "$run" 2>/dev/null || { echo "program ended early"; exit 1; }
  sleep 0.1
done
grep -q 'Готово' "$log" 2>/dev/null || { echo "no identification within 60 s"; tail -20 "$log" || true; stop; exit 1; }
sleep 1.5   # the pages and labels repaint after the last step
id=$(xwininfo -root -tree | grep 'Вартон' | awk '{print $1}' | head -1)
import -window "$id" "$out"
stop
INNER
chmod +x "$inner"
env -u QT_QPA_PLATFORM HOME="$scratch" XDG_CONFIG_HOME="$scratch/.config" \
  xvfb-run -a -s "-screen 0 1480x840x24" "$inner" "$root" "$build" "$out"
echo "saved $out"
