#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for
# SECONDS seconds (default 60) on a copy of its seed corpus (fuzz/corpus/ is
# never changed). Prints the executions per target; exits 1 when any target
# finds a crash, whose input is kept in fuzz/findings/.
#
#   fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: fuzz/run.sh [SECONDS]" >&2
  exit 2
fi
build=build-fuzz
findings=fuzz/findings

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRAVELO_BUILD_FUZZ=ON -DRAVELO_BUILD_TESTS=OFF -DRAVELO_BUILD_TOOLS=OFF \
  -DRAVELO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target proc_fuzzer merge_fuzzer profile_fuzzer

# Corpus copies, logs, and the scratch folders the targets convert in (in
# memory where the machine has /dev/shm).
work=$(mktemp -d "${TMPDIR:-/tmp}/ravelo-fuzz.XXXXXX")
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  scratch=$(mktemp -d /dev/shm/ravelo-fuzz.XXXXXX)
else
  scratch=$work/scratch
fi
trap 'rm -rf "$work" "$scratch"' EXIT
mkdir -p "$findings"

# Input size limits: a few hundred logger records; CSV files past two read
# blocks of 8192 bytes; INI texts.
declare -A max_len=([proc]=4096 [merge]=20000 [profile]=4096)

failed=0
for target in proc merge profile; do
  mkdir -p "$work/corpus/$target"
  cp fuzz/corpus/$target/* "$work/corpus/$target/"
  log=$work/$target.log
  status=0
  RAVELO_FUZZ_SCRATCH=$scratch "$build/fuzz/${target}_fuzzer" "$work/corpus/$target" \
    -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/$target-" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    echo "$target: ${runs:-?} executions in ${seconds} s, no crash"
  else
    failed=1
    echo "$target: CRASH after ${runs:-?} executions (exit $status); input in $findings/:"
    grep -E "^(==[0-9]+==|SUMMARY|fuzz check failed|artifact_prefix|Test unit written)" "$log" | head -n 20
    tail -n 40 "$log" >&2
  fi
done
exit $failed
