#!/usr/bin/env bash
# Moves, once, what the program wrote beside itself when `make run` started it
# in its build folder (build/release/src/) into the program folder it runs from
# now: settings, panels, boards, the cache, recorded oscillograms, logs and
# work files. The build's own files stay: the program and the files the build
# copies beside it, and CMake's folders, one per library (osc/ is also the
# build folder of src/osc: only the files the program wrote there move).
# Nothing in the new folder is replaced: a name found in both stays where it
# is, and is listed.
#   scripts/move-build-files.sh OLD_FOLDER NEW_FOLDER
set -euo pipefail
old=${1:?old program folder}
new=${2:?new program folder}
root=$(cd "$(dirname "$0")/.." && pwd)
[ -d "$old" ] || exit 0
kept=()
moved=0

# Moves a file or folder to Dest, never over one of that name: folders are
# merged entry by entry.
move() {
  local from=$1 to=$2 e
  if [ ! -e "$to" ] && [ ! -L "$to" ]; then
    mkdir -p "$(dirname "$to")"
    mv "$from" "$to"
    moved=$((moved + 1))
  elif [ -d "$from" ] && [ ! -L "$from" ] && [ -d "$to" ]; then
    for e in "$from"/* "$from"/.[!.]*; do
      [ -e "$e" ] || [ -L "$e" ] || continue
      move "$e" "$to/$(basename "$e")"
    done
    rmdir "$from" 2>/dev/null || true
  else
    kept+=("$from")
  fi
}

for e in "$old"/* "$old"/.[!.]*; do
  [ -e "$e" ] || [ -L "$e" ] || continue
  name=$(basename "$e")
  case "$name" in
  kv | MultiLingual.txt | cmake_install.cmake | CTestTestfile.cmake | CMakeFiles | *_autogen) continue ;;
  EventReportTemplate.xml) ! cmp -s "$e" "$root/src/resources/EventReportTemplate.xml" || continue ;;
  esac
  if [ -d "$e" ] && [ -e "$e/cmake_install.cmake" ]; then
    [ "$name" = osc ] || continue
    for f in "$e"/*; do
      [ -f "$f" ] || continue
      case "$(basename "$f")" in *.a | *.cmake) continue ;; esac
      move "$f" "$new/osc/$(basename "$f")"
    done
    continue
  fi
  move "$e" "$new/$name"
done
[ "$moved" -eq 0 ] || echo "moved $moved files and folders the program kept in $old to $new"
if [ ${#kept[@]} -gt 0 ]; then
  echo "left in $old (the same name is in $new):"
  printf '  %s\n' "${kept[@]}"
fi
