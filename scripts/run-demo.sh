#!/usr/bin/env bash
# Runs the program against the simulated demo terminal: starts devsim with the
# demo device on 127.0.0.1, points the program's ini file at it (Modbus TCP to
# that port; on a first run also the device type and dates shown, the
# custom-logic names read, the event journal's report and export offered),
# starts the program and stops devsim when the program ends.
# Usage: scripts/run-demo.sh [build folder, default build/release] [program arguments...]
# The program is the build's (build folder/src/kv) unless KV_PROGRAM_FOLDER
# names the folder it was installed to (make run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
shift || true
devsim="$build/bin/devsim"
program="${KV_PROGRAM_FOLDER:-$build/src}/kv"
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

# The ini file always sits beside the program and is named after it. A file
# there already keeps every line but the link's: the demo's other settings
# are only added where the file has no such key.
ini="$(dirname "$program")/$(basename "$program").ini"
[ -e "$ini" ] || : >"$ini"
# Lines "section key value force": force 1 replaces the key's value.
settings="setup protocol modbustcp 1
modbustcp host 127.0.0.1 1
modbustcp port $port 1
setup custom 1 0
dashboard deviceType 1 0
dashboard coreDate 1 0
dashboard descDate 1 0
tools deviceBoard 1 0
tools customLogic 1 0
tools eventReport 1 0
tools eventExport 1 0"
# Sections and keys are matched without regard to case, as the program reads
# them; line ends and bytes are kept as they are (the file may be Windows-1251).
LC_ALL=C awk -v settings="$settings" '
  function flush(sec,   i) {
    for (i = 1; i <= n; ++i)
      if (!done[i] && S[i] == sec) {
        print K[i] "=" V[i] eol
        done[i] = 1
      }
  }
  BEGIN {
    n = split(settings, lines, "\n")
    for (i = 1; i <= n; ++i) {
      split(lines[i], f, " ")
      S[i] = tolower(f[1]); K[i] = f[2]; V[i] = f[3]; F[i] = f[4]
    }
    eol = ""
  }
  {
    line = $0
    if (sub(/\r$/, "", line)) eol = "\r"
    if (line ~ /^[ \t]*\[/) {
      # The pending keys of the section that ends go before the next one.
      flush(section)
      section = tolower(line)
      gsub(/^[ \t]*\[|\][ \t]*$/, "", section)
      print $0
      next
    }
    eq = index(line, "=")
    if (eq > 0 && line !~ /^[ \t]*;/) {
      key = tolower(substr(line, 1, eq - 1))
      gsub(/^[ \t]+|[ \t]+$/, "", key)
      for (i = 1; i <= n; ++i)
        if (!done[i] && S[i] == section && tolower(K[i]) == key) {
          done[i] = 1
          if (F[i] == 1) {
            print substr(line, 1, eq) V[i] eol
            next
          }
        }
    }
    print $0
  }
  END {
    flush(section)
    for (i = 1; i <= n; ++i)
      if (!done[i]) {
        if (S[i] != last) {
          if (NR > 0 || last != "") print eol
          print "[" S[i] "]" eol
        }
        last = S[i]
        flush(S[i])
      }
  }' "$ini" >"$ini.new"
mv "$ini.new" "$ini"
# The demo title panel and device boards go beside the program unless they are
# there already (a page the user saved is never overwritten).
panel="$(dirname "$program")/dashboard.XML"
[ -e "$panel" ] || cp "$root/tools/devsim/dashboard.XML" "$panel"
boards="$(dirname "$program")/deviceFrame.xml"
[ -e "$boards" ] || cp "$root/tools/devsim/deviceFrame.xml" "$boards"
echo "devsim demo terminal on 127.0.0.1:$port; settings in $ini"
"$program" "$@"
