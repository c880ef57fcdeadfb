#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, with clang) and runs each for a while.
#   scripts/fuzz.sh [--seconds N] [TARGET...]
# N defaults to 20 per target (the test suite's run); give more for a deeper
# run. New inputs found go to a scratch corpus, not the repository's seeds;
# a crash leaves its input in build-fuzz/crashes/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=20
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
  --seconds) seconds=$2; shift 2 ;;
  *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=(connection_text rowstore identifier csv print_table import_csv xlsx_xml)

build=${CORVANE_FUZZ_BUILD:-build-fuzz}
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 >/dev/null

mkdir -p "$build/crashes"
status=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work"
  echo "fuzz_$t: ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 QT_QPA_PLATFORM=offscreen \
    "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$t-" "$work" "fuzz/corpus/$t" >"$build/fuzz_$t.log" 2>&1; then
    echo "fuzz_$t FAILED: see $build/fuzz_$t.log" >&2
    tail -40 "$build/fuzz_$t.log" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$build/fuzz_$t.log" | tr '\n' ' '
    echo
  fi
done
exit $status
