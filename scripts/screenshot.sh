#!/usr/bin/env bash
# Takes a screenshot of the main window under a virtual X server.
# Usage: scripts/screenshot.sh [build folder, default build/test]
# Result: <build folder>/screenshot-mainwindow.png
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/test}" && pwd)
program="$build/src/kv"
[ -x "$program" ] || { echo "no program at $program: build first"; exit 1; }
out="$build/screenshot-mainwindow.png"

# The program keeps its per-user state under HOME; use a scratch one.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

inner="$scratch/inner.sh"
cat > "$inner" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
program=$1; out=$2
"$program" --quit-after=30000 &
pid=$!
# Wait (up to 30 s) until the main window is mapped and painted.
for _ in $(seq 300); do
  if xwininfo -root -tree 2>/dev/null | grep -q 'Вартон'; then break; fi
  kill -0 "$pid" 2>/dev/null || { echo "program ended early"; exit 1; }
  sleep 0.1
done
xwininfo -root -tree | grep -q 'Вартон' || { echo "no main window"; kill "$pid"; exit 1; }
sleep 1   # let the first paint finish
id=$(xwininfo -root -tree | grep 'Вартон' | awk '{print $1}' | head -1)
import -window "$id" "$out"
kill "$pid"
wait "$pid" || true
INNER
chmod +x "$inner"
HOME="$scratch" XDG_CONFIG_HOME="$scratch/.config" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1100x760x24" "$inner" "$program" "$out"
echo "saved $out"
