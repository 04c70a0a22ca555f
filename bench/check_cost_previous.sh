#!/bin/sh
# The check-cost bench of this tree beside the same bench built from an
# earlier commit (default 3f70869, before the checks were last changed): the
# bench's source is copied into a worktree of that commit made in a temporary
# folder, built there (ccache has most of it), and both binaries run one after
# the other, in turns. Prints each one's own lines, then every figure's
# medians side by side with the ratio ours / previous (below 1: ours is faster).
#
#   bench/check_cost_previous.sh [commit]
#
# Ours is built in build/release (configured as `make bench` does, when it is
# not yet). Exits non-zero when either bench measured nothing or failed.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
rev=${1:-3f70869}
jobs=${JOBS:-3}
git -C "$here" rev-parse --verify --quiet "$rev^{commit}" >/dev/null || {
  echo "no commit $rev" >&2
  exit 2
}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kv-check-cost.XXXXXX")
prev=$tmp/kv
cleanup() {
  git -C "$here" worktree remove --force "$prev" 2>/dev/null || true
  rm -rf "$tmp"
  git -C "$here" worktree prune
}
trap cleanup EXIT INT TERM

# Configures (when not yet) and builds the bench of source folder $1 in $2.
build() {
  [ -f "$2/build.ninja" ] ||
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TESTS=ON -DKV_BENCH=ON >"$tmp/build.log" 2>&1 &&
    cmake --build "$2" -j "$jobs" --target check_cost_bench >"$tmp/build.log" 2>&1 || {
    tail -n 40 "$tmp/build.log"
    echo "the bench did not build in $2" >&2
    exit 2
  }
}

echo "== building ours ($(git -C "$here" rev-parse --short HEAD))"
build "$here" "$here/build/release"

echo "== building the previous build ($rev) in $prev"
git -C "$here" worktree add --detach --quiet "$prev" "$rev"
cp "$here/bench/check_cost_bench.cpp" "$here/bench/check_cost.cmake" "$prev/bench/"
# The build folder at the depth ours has, and the temporary folder as ccache's
# base: the paths it hashes are the ones every worktree's build gives.
CCACHE_BASEDIR=$tmp
export CCACHE_BASEDIR
build "$prev" "$prev/build/release"

# The two binaries take turns, ROUNDS times (default 2): the machine's other
# work falls on both alike, and each figure is the lower of its medians.
rounds=${ROUNDS:-2}
status=0
round=1
while [ "$round" -le "$rounds" ]; do
  for who in ours prev; do
    if [ $who = ours ]; then bin=$here/build/release/bench/check_cost_bench; else bin=$prev/build/release/bench/check_cost_bench; fi
    "$bin" --table >"$tmp/$who.$round.txt" 2>&1 || status=1
  done
  round=$((round + 1))
done
echo "== ours, round 1"
grep -v -e '^fig	' -e XDG_RUNTIME_DIR "$tmp/ours.1.txt" || true
echo "== previous build ($rev), round 1"
grep -v -e '^fig	' -e XDG_RUNTIME_DIR "$tmp/prev.1.txt" || true

echo "== medians, ms (the lower of $rounds rounds): ours beside the previous build ($rev); ratio ours / previous"
cat "$tmp"/prev.*.txt | sed 's/^fig	/prev	/' >"$tmp/all.txt"
cat "$tmp"/ours.*.txt | sed 's/^fig	/ours	/' >>"$tmp/all.txt"
awk -F '\t' '
  $1 != "ours" && $1 != "prev" { next }
  {
    key = $2 FS $3 FS $4
    if (!(key in seen)) { seen[key] = 1; order[++n] = key }
    m = $1 SUBSEP key
    if (!(m in low) || $6 < low[m]) low[m] = $6
  }
  END {
    for (i = 1; i <= n; ++i) {
      split(order[i], k, FS)
      o = ("ours" SUBSEP order[i]) in low ? sprintf("%7.1f", low["ours" SUBSEP order[i]]) : "      -"
      p = ("prev" SUBSEP order[i]) in low ? sprintf("%7.1f", low["prev" SUBSEP order[i]]) : "      -"
      r = (o !~ /-/ && p !~ /-/ && low["prev" SUBSEP order[i]] > 0) ? sprintf("%5.2f", low["ours" SUBSEP order[i]] / low["prev" SUBSEP order[i]]) : "    -"
      printf "%-7s custom=%-3s %-8s ours %s   previous %s   ratio %s\n", k[1], k[2], k[3], o, p, r
    }
  }' "$tmp/all.txt"
exit $status
