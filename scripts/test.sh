#!/usr/bin/env bash
# Installs what is missing, checks the rules the build cannot see
# (scripts/lint.sh), runs each fuzz target for 20 seconds
# (CORVANE_FUZZ_SECONDS; 0 skips them), builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite (ctest starts and
# stops its own MariaDB server). ctest runs last, so its summary closes the
# output.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/lint.sh
build=${CORVANE_TEST_BUILD:-build-asan}
seconds=${CORVANE_FUZZ_SECONDS:-20}
if [ "$seconds" -gt 0 ]; then
  bash scripts/fuzz.sh --seconds "$seconds"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON >/dev/null
cmake --build "$build"
cd "$build"
ctest --output-on-failure --timeout 600 "$@"
