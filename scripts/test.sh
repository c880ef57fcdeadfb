#!/usr/bin/env bash
# Installs what is missing, checks the rules the build cannot see
# (scripts/lint.sh), runs each fuzz target for 20 seconds
# (CORVANE_FUZZ_SECONDS; 0 skips them), builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite (ctest starts and
# stops its own MariaDB server). ctest runs last, so its summary closes the
# output.
#   test.sh --tsan [ctest args]  - instead builds with ThreadSanitizer (in
#                                  build-tsan) the tests labelled "threads",
#                                  those whose code starts threads, and runs
#                                  only them
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/lint.sh
if [ "${1:-}" = "--tsan" ]; then
  shift
  build=${CORVANE_TSAN_BUILD:-build-tsan}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_TSAN=ON >/dev/null
  mapfile -t targets < <(ctest --test-dir "$build" -N -L threads | sed -n 's/^ *Test *#[0-9]*: *\(tst_[a-z_0-9]*\)$/\1/p')
  [ ${#targets[@]} -gt 0 ] || { echo "no test is labelled threads" >&2; exit 1; }
  cmake --build "$build" --target "${targets[@]}"
  cd "$build"
  ctest --output-on-failure --timeout 600 -L threads "$@"
  exit 0
fi
build=${CORVANE_TEST_BUILD:-build-asan}
seconds=${CORVANE_FUZZ_SECONDS:-20}
if [ "$seconds" -gt 0 ]; then
  bash scripts/fuzz.sh --seconds "$seconds"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON >/dev/null
cmake --build "$build"
cd "$build"
ctest --output-on-failure --timeout 600 "$@"
