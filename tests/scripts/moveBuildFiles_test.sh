#!/usr/bin/env bash
# What an earlier `make run` kept beside the program in its build folder moves
# to the program folder: the engineer's files (osc/ records too, though osc/ is
# also a library's build folder), never the build's, and never over a file of
# the same name.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
old=$t/old new=$t/new
mkdir -p "$old/CMakeFiles" "$old/gui" "$old/osc/CMakeFiles" "$old/cache" "$new"
touch "$old/kv" "$old/MultiLingual.txt" "$old/cmake_install.cmake" "$old/gui/cmake_install.cmake" \
  "$old/gui/uBuildStamp.cpp" "$old/osc/cmake_install.cmake" "$old/osc/libkvosc.a"
cp "$src/src/resources/EventReportTemplate.xml" "$old/"
for f in osc/1_x.cfg osc/1_x.dat osc/1_x.xml cache/a.bin kv.log kv.log.1 dashboard.XML; do echo "$f" >"$old/$f"; done
echo old >"$old/kv.ini"
echo new >"$new/kv.ini"
"$src/scripts/move-build-files.sh" "$old" "$new" >/dev/null
got=$(cd "$t" && find . -type f | sort | tr '\n' ' ')
want="./new/cache/a.bin ./new/dashboard.XML ./new/kv.ini ./new/kv.log ./new/kv.log.1 ./new/osc/1_x.cfg \
./new/osc/1_x.dat ./new/osc/1_x.xml ./old/EventReportTemplate.xml ./old/MultiLingual.txt ./old/cmake_install.cmake \
./old/gui/cmake_install.cmake ./old/gui/uBuildStamp.cpp ./old/kv ./old/kv.ini ./old/osc/cmake_install.cmake \
./old/osc/libkvosc.a "
[ "$got" = "$want" ] || { echo "FAIL: files now: $got"; exit 1; }
[ "$(cat "$new/kv.ini")" = new ] && [ "$(cat "$new/osc/1_x.dat")" = osc/1_x.dat ] || { echo "FAIL: contents"; exit 1; }
echo "move-build-files.sh: the engineer's files moved, the build's and the clashing one left"
