#!/usr/bin/env bash
# The long hardening runs, for anyone to start (CI runs the short forms):
#   1. each fuzz target for FUZZ_SECONDS (default 600) seconds;
#   2. the concurrent-run tests for ROUNDS (default 500) rounds per case;
#   3. the unit and end-to-end tests under valgrind.
# The injected-fault and kill tests are exhaustive (every platform call of
# their scenarios) and run in full in every test run.
#
#   scripts/hardening-long.sh
#   FUZZ_SECONDS=3600 ROUNDS=2000 scripts/hardening-long.sh
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${FUZZ_SECONDS:-600}
rounds=${ROUNDS:-500}

echo "== fuzzing, $fuzz_seconds s per target"
fuzz/run.sh "$fuzz_seconds"

echo "== concurrent runs, $rounds rounds per case"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"
RAVELO_CONCURRENT_ROUNDS=$rounds ctest --test-dir build -R '^Concurrent\.' --output-on-failure -V |
  grep -E 'rounds|Passed|Failed|tests passed'

echo "== valgrind"
scripts/valgrind.sh
