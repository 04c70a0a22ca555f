#!/usr/bin/env bash
# Runs the program against the simulated demo terminal: starts devsim with the
# demo device on 127.0.0.1, writes the program's ini file beside the program
# (Modbus TCP to that port, device type and dates shown, the custom-logic
# names read), starts the program and stops devsim when the program ends.
# Usage: scripts/run-demo.sh [build folder, default build/release] [program arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
shift || true
devsim="$build/bin/devsim"
program="$build/src/kv"
for f in "$devsim" "$program"; do
  [ -x "$f" ] || { echo "no $f: build first (make release)"; exit 1; }
done

out=$(mktemp)
"$devsim" --demo --no-pty --port 0 >"$out" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -f "$out"' EXIT
# devsim prints "tcp 127.0.0.1:PORT" once it answers.
for _ in $(seq 300); do
  grep -q '^tcp ' "$out" && break
  kill -0 "$sim" 2>/dev/null || { echo "devsim ended early"; exit 1; }
  sleep 0.1
done
port=$(sed -n 's/^tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out")
[ -n "$port" ] || { echo "devsim did not report its port"; exit 1; }

# The ini file always sits beside the program and is named after it.
ini="$(dirname "$program")/$(basename "$program").ini"
cat >"$ini" <<INI
[setup]
protocol=modbustcp
custom=1

[modbustcp]
host=127.0.0.1
port=$port

[dashboard]
deviceType=1
coreDate=1
descDate=1

[tools]
deviceBoard=1
customLogic=1
INI
# The demo title panel and device boards go beside the program unless they are
# there already (a page the user saved is never overwritten).
panel="$(dirname "$program")/dashboard.XML"
[ -e "$panel" ] || cp "$root/tools/devsim/dashboard.XML" "$panel"
boards="$(dirname "$program")/deviceFrame.xml"
[ -e "$boards" ] || cp "$root/tools/devsim/deviceFrame.xml" "$boards"
echo "devsim demo terminal on 127.0.0.1:$port; settings in $ini"
"$program" "$@"
