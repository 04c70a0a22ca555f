# Shared by the screenshot scripts; sourced, never run.

# shot_begin DEFAULT_BUILD OUT_NAME HINT [BUILD]: sets root, build (BUILD or
# root/DEFAULT_BUILD), program and out (build/OUT_NAME); stops with HINT when
# the program is not built. The program keeps its per-user state under HOME,
# so a scratch folder (scratch) is made for it and removed on exit.
shot_begin() {
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  build=$(cd "${4:-$root/$1}" && pwd)
  program="$build/src/kv"
  [ -x "$program" ] || { echo "no program at $program: $3"; exit 1; }
  out="$build/$2"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
}

# The main window's caption is what tells it apart on the virtual screen.
shot_has_window() { xwininfo -root -tree 2>/dev/null | grep -q 'Вартон'; }

# shot_wait TENTHS PID [READY...]: polls every 0.1 s, at most TENTHS times,
# until the main window is mapped and the command READY (if given) succeeds;
# stops the script when PID has ended first.
shot_wait() {
  local tenths=$1 pid=$2
  shift 2
  for _ in $(seq "$tenths"); do
    if shot_has_window && { [ $# -eq 0 ] || "$@"; }; then break; fi
    kill -0 "$pid" 2>/dev/null || { echo "program ended early"; exit 1; }
    sleep 0.1
  done
}

# shot_capture OUT: saves the main window as a picture.
shot_capture() {
  local id
  id=$(xwininfo -root -tree | grep 'Вартон' | awk '{print $1}' | head -1)
  import -window "$id" "$1"
}
