#!/usr/bin/env bash
# Runs the unit and end-to-end test programs under valgrind's memcheck: any
# invalid access, use of uninitialised memory or leak fails the run. A plain
# Debug build (no sanitizers, which valgrind cannot run beside).
#
#   scripts/valgrind.sh [GTEST_FILTER]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { echo "valgrind.sh: valgrind is not installed" >&2; exit 1; }
filter=${1:-*}
dir=build-valgrind
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRAVELO_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)"
status=0
for t in "$dir/tests/ravelo_tests" "$dir/tests/ravelo_e2e_tests"; do
  [ -x "$t" ] || continue
  echo "== valgrind $t"
  # Children of the crash and concurrency tests run under valgrind too.
  if ! valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      --trace-children=no --child-silent-after-fork=yes \
      "$t" --gtest_filter="$filter" --gtest_brief=1; then
    status=1
  fi
done
[ $status = 0 ] && echo "valgrind: no errors" || echo "valgrind: ERRORS (see above)"
exit $status
