#!/usr/bin/env bash
# Ravelo conversion benchmark. Builds a Release tree, generates the workloads,
# converts each one RUNS times next to the write limit program, and prints
# the medians as a table. Needs only cmake, a C++ compiler and coreutils.
#
#   bench/run.sh [options]
#     -n, --runs N           runs per workload (default 3); medians are shown
#     -w, --work DIR         scratch folder (default /tmp/ravelo-bench)
#     -b, --build DIR        build folder (default build-bench in the repository)
#     -o, --only LIST        comma-separated workloads out of
#                            year-day,year-month,remerge,wide (default: all;
#                            remerge also runs year-day once if needed)
#         --lib PATH         load this build of the library instead of the one
#                            in the build folder (for before/after comparisons)
#         --cli              convert with the ravelo command line instead of
#                            bench/convert_host (both load the same library)
#         --no-build         use the build folder as it is
#         --save-manifest F  copy the sha256 manifest of all outputs to F
#         --verify F         compare the outputs with manifest F; exit 1 on
#                            any difference
#         --keep             keep the outputs of the last run in the work folder
#         --without-flushes  turn the conversion's flushes to the disk (fsync)
#                            into no-ops, to measure what they cost; the
#                            outputs are the same, only less safe
#
# Columns: wall = conversion wall time, limit = write_limit on the same files,
# ratio = median over runs of wall/limit (each pair measured back to back),
# rec/s = logger records per second, MB/s = CSV megabytes (10^6) written per
# second, peak = peak resident memory of the converting process, +idle = peak
# minus that of the same host loading the library and doing nothing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
runs=3
work=/tmp/ravelo-bench
build=$root/build-bench
only=year-day,year-month,remerge,wide
use_cli=0
do_build=1
save_manifest=
verify=
keep=0
lib=
no_flush=0

while [ $# -gt 0 ]; do
  case $1 in
    -n|--runs) runs=$2; shift 2 ;;
    -w|--work) work=$2; shift 2 ;;
    -b|--build) build=$2; shift 2 ;;
    -o|--only) only=$2; shift 2 ;;
    --lib) lib=$2; shift 2 ;;
    --cli) use_cli=1; shift ;;
    --no-build) do_build=0; shift ;;
    --save-manifest) save_manifest=$2; shift 2 ;;
    --verify) verify=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --without-flushes) no_flush=1; shift ;;
    -h|--help) sed -n '2,29p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
case $runs in ''|*[!0-9]*|0) echo "run.sh: --runs needs a positive number" >&2; exit 2 ;; esac
[ -z "$lib" ] || lib=$(cd "$(dirname "$lib")" && pwd)/$(basename "$lib")
[ -z "$verify" ] || verify=$(cd "$(dirname "$verify")" && pwd)/$(basename "$verify")

if [ $do_build = 1 ]; then
  echo "== building Release in $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRAVELO_BUILD_TESTS=OFF \
    -DRAVELO_BUILD_BENCH=ON $(command -v ninja >/dev/null && echo -G Ninja) >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
fi
bin=$build/bench
for p in make_recording write_limit measure convert_host; do
  [ -x "$bin/$p" ] || { echo "run.sh: $bin/$p is missing (build first)" >&2; exit 1; }
done
preload=
if [ $no_flush = 1 ]; then
  preload=$bin/without_flushes.so
  [ -f "$preload" ] || { echo "run.sh: $preload is missing (build first)" >&2; exit 1; }
  # A preload that exports nothing would silently measure the flushes anyway.
  if command -v nm >/dev/null && ! nm -D "$preload" | grep -q ' T fsync$'; then
    echo "run.sh: $preload does not export fsync" >&2; exit 1
  fi
fi
if [ $use_cli = 1 ] && [ ! -x "$build/tools/ravelo" ]; then
  echo "run.sh: $build/tools/ravelo is missing" >&2; exit 1
fi

mkdir -p "$work/input" "$work/ini" "$work/out"
work=$(cd "$work" && pwd)

# Outputs of earlier runs are moved aside and emptied, and deleted only at
# the end: on a file system that avoids reusing recently freed inodes (ext4
# without a journal), a file creation gets slower with every file deleted in
# the last half minute, which would slow the measured runs by the
# benchmark's own clean-up. Emptying them frees their pages and blocks.
trash=$work/trash
rm -rf "$trash"; mkdir -p "$trash"
discard() {
  local p t
  for p in "$@"; do
    [ -e "$p" ] || continue
    t=$(mktemp -d "$trash/XXXXXX")
    mv "$p" "$t/"
    find "$t" -type f -exec truncate -s 0 {} +
  done
  return 0
}

# ---- Workload inputs ------------------------------------------------------
declare -A records
make_input() {  # name kind
  local file=$work/input/$1.Q38
  if [ ! -s "$file" ] || [ ! -s "$file.count" ]; then
    echo "== generating $file"
    "$bin/make_recording" "$2" "$file" >"$file.count"
  fi
  records[$1]=$(cat "$file.count")
}

# ---- Helpers --------------------------------------------------------------
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
tree_bytes() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }
tree_files() { find "$1" -type f | wc -l; }

convert() {  # report input dest [flags...]
  local report=$1 input=$2 dest=$3; shift 3
  if [ $use_cli = 1 ]; then
    env ${preload:+LD_PRELOAD="$preload"} \
    "$bin/measure" "$report" "$build/tools/ravelo" convert --work-dir "$work/ini" --new-batch \
      --end-batch "$@" "$input" --out "$dest" >/dev/null
  else
    env ${preload:+LD_PRELOAD="$preload"} \
    "$bin/measure" "$report" "$bin/convert_host" ${lib:+--lib "$lib"} --work "$work/ini" "$@" \
      "$input" "$dest"
  fi
}

idle_peak() {
  local peaks=() i
  for i in $(seq "$runs"); do
    if [ $use_cli = 1 ]; then
      "$bin/measure" "$work/m" "$build/tools/ravelo" --help >/dev/null
    else
      "$bin/measure" "$work/m" "$bin/convert_host" ${lib:+--lib "$lib"} --idle
    fi
    peaks+=("$(awk '{ print $2 }' "$work/m")")
  done
  printf '%s\n' "${peaks[@]}" | median
}

# The reference day files that "remerge" converts into.
make_remerge_base() {
  [ -d "$work/remerge-base/CSV" ] && return 0
  echo "== converting year into day files once, as the base of remerge"
  discard "$work/remerge-base"; mkdir -p "$work/remerge-base"
  convert "$work/m" "$work/input/year.Q38" "$work/remerge-base" || {
    echo "run.sh: conversion failed" >&2; exit 1; }
}

rows=()
run_workload() {  # name input input-name [flags...]
  local name=$1 input=$2 recs=${records[$3]}; shift 3
  local dest=$work/out/$name walls=() limits=() ratios=() peaks=() i wall peak limit
  echo "== $name: $runs run(s)"
  for i in $(seq "$runs"); do
    discard "$dest" "$work/limit"
    if [ "$name" = remerge ]; then cp -a "$work/remerge-base" "$dest"; else mkdir -p "$dest"; fi
    sync
    convert "$work/m" "$input" "$dest" "$@" || { echo "run.sh: $name: conversion failed" >&2; exit 1; }
    read -r wall peak <"$work/m"
    sync
    limit=$("$bin/write_limit" "$dest" "$work/limit" | awk '{ print $1 }')
    walls+=("$wall"); limits+=("$limit"); peaks+=("$peak")
    ratios+=("$(awk -v a="$wall" -v b="$limit" 'BEGIN { printf "%.3f", a / b }')")
    printf '   run %d: wall %.3f s  limit %.3f s  peak %d KiB\n' "$i" "$wall" "$limit" "$peak"
  done
  local bytes files mw ml mr mp
  bytes=$(tree_bytes "$dest"); files=$(tree_files "$dest")
  mw=$(printf '%s\n' "${walls[@]}" | median)
  ml=$(printf '%s\n' "${limits[@]}" | median)
  mr=$(printf '%s\n' "${ratios[@]}" | median)
  mp=$(printf '%s\n' "${peaks[@]}" | median)
  (cd "$work/out" && find "$name" -type f -print0 | sort -z | xargs -0 sha256sum) >>"$work/manifest.sha256"
  rows+=("$name $files $bytes $mw $ml $mr $recs $mp")
  [ $keep = 1 ] || discard "$work/limit"
}

target_of() {
  case $1 in year-day) echo 4.0 ;; year-month) echo 3.0 ;; remerge) echo 6.0 ;; wide) echo 3.0 ;; esac
}

# ---- Run ------------------------------------------------------------------
: >"$work/manifest.sha256"
IFS=, read -r -a selected <<<"$only"
for w in "${selected[@]}"; do
  case $w in
    year-day|year-month|remerge) make_input year year ;;
    wide) make_input wide wide ;;
    *) echo "run.sh: unknown workload $w" >&2; exit 2 ;;
  esac
done
idle=$(idle_peak)
for w in "${selected[@]}"; do
  case $w in
    year-day) run_workload year-day "$work/input/year.Q38" year ;;
    year-month) run_workload year-month "$work/input/year.Q38" year --month ;;
    remerge) make_remerge_base; run_workload remerge "$work/input/year.Q38" year ;;
    wide) run_workload wide "$work/input/wide.Q38" wide ;;
  esac
done
discard "$work/remerge-base"

echo
echo "converter: $([ $use_cli = 1 ] && echo "ravelo convert" || echo "bench/convert_host"); runs: $runs; idle peak: $((idle / 1024)).$(((idle % 1024) * 10 / 1024)) MiB$([ $no_flush = 1 ] && echo "; flushes turned off")"
printf '%-11s %5s %9s %8s %8s %6s %6s %10s %7s %8s %7s\n' \
  workload files "CSV MB" "wall s" "limit s" ratio target "rec/s" "MB/s" "peak MiB" "+idle"
for r in "${rows[@]}"; do
  read -r name files bytes mw ml mr recs mp <<<"$r"
  awk -v n="$name" -v f="$files" -v b="$bytes" -v w="$mw" -v l="$ml" -v r="$mr" -v t="$(target_of "$name")" \
      -v rc="$recs" -v p="$mp" -v i="$idle" 'BEGIN {
    printf "%-11s %5d %9.1f %8.3f %8.3f %6.2f %6s %10.0f %7.1f %8.1f %7.1f%s\n",
      n, f, b / 1e6, w, l, r, t, rc / w, b / 1e6 / w, p / 1024, (p - i) / 1024,
      (r <= t + 0 && p - i <= 4096) ? "" : "  (over target)" }'
done

[ -z "$save_manifest" ] || cp "$work/manifest.sha256" "$save_manifest"
status=0
if [ -n "$verify" ]; then
  # Compare only the workloads that ran this time.
  ref=$(mktemp)
  for w in "${selected[@]}"; do grep "  $w/" "$verify" || true; done >"$ref"
  if diff <(sort -k2 "$ref") <(sort -k2 "$work/manifest.sha256") >"$work/verify.diff"; then
    echo "verify: all $(wc -l <"$work/manifest.sha256") output files identical to $verify"
  else
    echo "verify: OUTPUT DIFFERS from $verify (see $work/verify.diff)"
    status=1
  fi
  rm -f "$ref"
fi
[ $keep = 1 ] || rm -rf "$work/out"
rm -rf "$trash"
exit $status
