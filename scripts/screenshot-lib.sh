# Shared by the screenshot scripts; sourced, never run.

# shot_begin DEFAULT_BUILD OUT_NAME HINT [BUILD] [PROGRAM]: sets root, build
# (BUILD or root/DEFAULT_BUILD), program (build/PROGRAM, default src/kv) and
# out (build/OUT_NAME); stops with HINT when the program is not built. The
# program keeps its per-user state under HOME, so a scratch folder (scratch)
# is made for it and removed on exit.
shot_begin() {
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  build=$(cd "${4:-$root/$1}" && pwd)
  program="$build/${5:-src/kv}"
  [ -x "$program" ] || { echo "no program at $program: $3"; exit 1; }
  out="$build/$2"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
}

# shot_xvfb SCREEN COMMAND...: runs COMMAND on a virtual X server of SCREEN
# pixels (WIDTHxHEIGHT), with HOME in the scratch folder and the display the
# caller may have chosen for the tests dropped. A sanitizer build's leak report
# at exit is no concern of a picture.
shot_xvfb() {
  local screen=$1
  shift
  env -u QT_QPA_PLATFORM HOME="$scratch" XDG_CONFIG_HOME="$scratch/.config" ASAN_OPTIONS=detect_leaks=0 \
    xvfb-run -a -s "-screen 0 ${screen}x24" "$@"
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

# shot_demo_start BUILD QUIT_AFTER_MS: starts the program of BUILD against the
# demo terminal (scripts/run-demo.sh) at the screen's corner in its default
# window size (1000x680), for at most QUIT_AFTER_MS; sets log (the program's
# log, emptied first) and run (the pid of run-demo.sh, which stops devsim when
# the program ends).
shot_demo_start() {
  log="$1/src/kv.log"
  rm -f "$log"
  "$(dirname "${BASH_SOURCE[0]}")/run-demo.sh" "$1" --quit-after="$2" -geometry +0+0 &
  run=$!
}

# shot_demo_stop: ends the program started by shot_demo_start and waits for
# run-demo.sh to stop devsim.
shot_demo_stop() {
  local p
  p=$(pgrep -P "$run" -x kv || true)
  [ -z "$p" ] || kill "$p" 2>/dev/null || true
  wait "$run" || true
}

# shot_log_count TEXT: how many lines of the program's log hold TEXT.
shot_log_count() { grep -c "$1" "$log" 2>/dev/null || true; }

# shot_fail MESSAGE: reports MESSAGE with the end of the log, stops the program
# and the script.
shot_fail() {
  echo "$1"
  tail -20 "$log" || true
  shot_demo_stop
  exit 1
}
