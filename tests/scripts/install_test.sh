#!/usr/bin/env bash
# cmake --install into a scratch prefix: the program folder holds the program,
# its data files and the example settings, the program starts from it and
# writes its files there, and a second install replaces none of the
# engineer's files.
#   tests/scripts/install_test.sh BUILD_FOLDER
set -euo pipefail
build=${1:?build folder}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
folder=$prefix/kv
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
got=$(cd "$folder" && ls -A | sort | tr '\n' ' ')
[ "$got" = "EventReportTemplate.xml MultiLingual.txt kv kv.ini.example " ] || fail "installed: $got"

# The program starts from the installed folder and keeps its files there.
printf '[debug]\r\npoll=0\r\n' >"$folder/kv.ini"
(cd "$prefix" && HOME="$prefix/home" XDG_CONFIG_HOME="$prefix/home/.config" QT_QPA_PLATFORM=offscreen \
  "$folder/kv" --quit-after=300) || fail "the installed program did not start and end cleanly"
for f in kv.log cache osc; do
  [ -e "$folder/$f" ] || fail "no $f in the program folder"
done

# The engineer's files, and the template saved from the report tab, survive
# the next install byte for byte.
echo '<saved/>' >"$folder/EventReportTemplate.xml"
echo 'panel' >"$folder/dashboard.XML"
echo 'record' >"$folder/osc/1_2026-03-05_141502.dat"
echo 'cached' >"$folder/cache/IDENT.bin"
mine=(kv.ini kv.log EventReportTemplate.xml dashboard.XML osc/1_2026-03-05_141502.dat cache/IDENT.bin)
mkdir -p "$prefix/before"
for f in "${mine[@]}"; do cp "$folder/$f" "$prefix/before/$(echo "$f" | tr / _)"; done
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in "${mine[@]}"; do
  cmp -s "$folder/$f" "$prefix/before/$(echo "$f" | tr / _)" || fail "$f was replaced"
done
echo "install: program folder made, the program started from it, the engineer's files kept"
