#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for SECONDS each, also after one
# of them has found something, then prints one line per target (runs,
# findings) and fails when any target found something.
#   fuzz/run-all.sh BUILD_DIR SECONDS
# Each X_fuzz is seeded by X_seeds when there is one; the inputs kept in
# fuzz/regress/X/ are replayed first; what a target finds lands in
# BUILD_DIR/artifacts/X/ (copy it into fuzz/regress/X/ once mended).
set -u
build=${1:?build folder}
seconds=${2:?seconds per target}
src=$(cd "$(dirname "$0")/.." && pwd)
summary=()
failed=0
for f in "$build"/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  n=$(basename "$f" _fuzz)
  corpus=$build/corpus/$n
  art=$build/artifacts/$n
  log=$build/logs/$n.log
  mkdir -p "$corpus" "$art" "$build/logs" "$src/fuzz/regress/$n"
  if [ -x "$build/fuzz/${n}_seeds" ]; then
    "$build/fuzz/${n}_seeds" "$corpus" >/dev/null 2>&1 || echo "seeds of $n failed"
  fi
  before=$(find "$art" -type f | wc -l)
  echo "fuzzing $n for $seconds s"
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 \
    LSAN_OPTIONS=suppressions=$src/scripts/lsan.supp:print_suppressions=0 \
    "$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$art/" "$corpus" "$src/fuzz/regress/$n" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(($(find "$art" -type f | wc -l) - before))
  # A target that stopped without leaving an input still failed.
  if [ "$rc" -ne 0 ] && [ "$found" -eq 0 ]; then
    found=1
  fi
  if [ "$found" -gt 0 ]; then
    failed=1
    tail -n 30 "$log"
  fi
  summary+=("$(printf '%-16s runs %10s  findings %d' "$n" "${runs:-?}" "$found")")
done
echo
printf '%s\n' "${summary[@]}"
exit "$failed"
