#!/usr/bin/env bash
# Opens a converted oscillogram with "Открыть" as a user would (Ctrl+Shift+O,
# the file's name, all channels in the set-up dialog) under a virtual X
# server, then zooms in with Ctrl and the wheel over the plot and makes the
# strips taller with Ctrl+Shift and the wheel.
# Usage: scripts/screenshot-osc.sh [build folder, default build/test]
# Result: <build folder>/screenshot-osc.png, screenshot-osc-zoom.png and
# screenshot-osc-cursors.png (two time cursors, a value cursor, the phasors)
set -euo pipefail
source "$(dirname "$0")/screenshot-lib.sh"
shot_begin build/test screenshot-osc.png "build first" "${1:-}"
[ -x "$build/bench/osc_view_bench" ] || { echo "no osc_view_bench in $build"; exit 1; }
ASAN_OPTIONS=detect_leaks=0 "$build/bench/osc_view_bench" make "$scratch/record" 10 >/dev/null

inner="$scratch/inner.sh"
cat > "$inner" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
root=$1; program=$2; out=$3; record=$4
source "$root/scripts/screenshot-lib.sh"
"$program" --quit-after=90000 -geometry 1440x800+0+0 &
pid=$!
shot_wait 300 "$pid"
shot_has_window || { echo "no main window"; kill "$pid"; exit 1; }
window() { xdotool search --sync --onlyvisible --name "$1" | head -1; }
xdotool windowfocus --sync "$(window 'Вартон')"
xdotool key ctrl+shift+o
xdotool windowfocus --sync "$(window 'Открыть осциллограмму')"
xdotool type --delay 5 "$record.dat"
xdotool key Return
# No side file yet: the set-up dialog asks for the channels.
xdotool windowfocus --sync "$(window 'Настройка диаграммы')"
xdotool key space Return
sleep 1.5
shot_capture "$out"
main=$(window 'Вартон')
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 700)) $((Y + 400))
for _ in 1 2 3 4 5 6; do xdotool keydown ctrl click 5 keyup ctrl; sleep 0.2; done
# Taller strips: Ctrl+Shift and the wheel.
for _ in 1 2 3; do xdotool keydown ctrl keydown shift click 5 keyup shift keyup ctrl; sleep 0.2; done
sleep 1
shot_capture "${out%.png}-zoom.png"
# The phasor diagram first (its panel's width re-lays the plot out, which
# clears cursors), then two time cursors and a value cursor (Shift).
xdotool mousemove $((X + 480)) $((Y + 132)) click 1
sleep 1
xdotool mousemove $((X + 400)) $((Y + 170)) click 1
sleep 0.3
xdotool mousemove $((X + 560)) $((Y + 170)) click 1
sleep 0.3
xdotool mousemove $((X + 800)) $((Y + 180)) keydown shift click 1 keyup shift
sleep 1
shot_capture "${out%.png}-cursors.png"
kill "$pid"
wait "$pid" || true
INNER
chmod +x "$inner"
shot_xvfb 1480x840 "$inner" "$root" "$program" "$out" "$scratch/record"
echo "saved $out, ${out%.png}-zoom.png and ${out%.png}-cursors.png"
