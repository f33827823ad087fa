#!/usr/bin/env bash
# Export benchmark: `ravelo export` over the 365 day files of a year of
# 1-minute rows with 10 channels (the year-day output of run.sh), against
# `iconv -f CP932 -t UTF-8` over the same files. Both write to /dev/null, so
# what is compared is the reading and the conversion of the text.
#
#   bench/export.sh [options]
#     -n, --runs N     runs of each command (default 5); medians are shown
#     -w, --work DIR   scratch folder (default /tmp/ravelo-bench, shared with
#                      run.sh: the recording is generated there once)
#     -b, --build DIR  build folder (default build-bench in the repository)
#         --no-build   use the build folder as it is
#
# Columns: s = median wall time, ratio = median over runs of the command's
# time / iconv's time in the same run, peak = peak resident memory of export.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
runs=5
work=/tmp/ravelo-bench
build=$root/build-bench
do_build=1
while [ $# -gt 0 ]; do
  case $1 in
    -n|--runs) runs=$2; shift 2 ;;
    -w|--work) work=$2; shift 2 ;;
    -b|--build) build=$2; shift 2 ;;
    --no-build) do_build=0; shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "export.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
case $runs in ''|*[!0-9]*|0) echo "export.sh: --runs needs a positive number" >&2; exit 2 ;; esac
command -v iconv >/dev/null || { echo "export.sh: iconv is missing" >&2; exit 1; }

if [ $do_build = 1 ]; then
  echo "== building Release in $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRAVELO_BUILD_TESTS=OFF \
    -DRAVELO_BUILD_BENCH=ON $(command -v ninja >/dev/null && echo -G Ninja) >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
fi
bin=$build/bench
ravelo=$build/tools/ravelo
for p in "$bin/make_recording" "$bin/measure" "$bin/convert_host" "$ravelo"; do
  [ -x "$p" ] || { echo "export.sh: $p is missing (build first)" >&2; exit 1; }
done

mkdir -p "$work/input" "$work/ini"
work=$(cd "$work" && pwd)
input=$work/input/year.Q38
if [ ! -s "$input" ] || [ ! -s "$input.count" ]; then
  echo "== generating $input"
  "$bin/make_recording" year "$input" >"$input.count"
fi
day=$work/export-day
if [ ! -d "$day/CSV/Day" ] || [ "$(find "$day/CSV/Day" -name '*.CSV' | wc -l)" -ne 365 ]; then
  echo "== converting $input into day files in $day"
  rm -rf "$day"; mkdir -p "$day"
  "$bin/convert_host" --work "$work/ini" "$input" "$day"
fi
files=()
while IFS= read -r f; do files+=("$f"); done < <(find "$day/CSV/Day" -name '*.CSV' | sort)

# Sanity: one header line and one line per data line of the files.
lines=$("$ravelo" export "$day" | wc -l)
data=$(cat "${files[@]}" | grep -c '^[0-9]\{4\}/[0-9][0-9]/[0-9][0-9],')
[ "$lines" -eq $((data + 1)) ] || { echo "export.sh: export wrote $lines lines for $data data lines" >&2; exit 1; }

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

cat "${files[@]}" >/dev/null  # in the page cache for every command alike
iconv_s=() wide_s=() long_s=() wide_r=() long_r=() peaks=()
for i in $(seq "$runs"); do
  "$bin/measure" "$work/m" iconv -f CP932 -t UTF-8 "${files[@]}" >/dev/null
  read -r t_iconv _ <"$work/m"
  "$bin/measure" "$work/m" "$ravelo" export "$day" >/dev/null
  read -r t_wide peak <"$work/m"
  "$bin/measure" "$work/m" "$ravelo" export --long "$day" >/dev/null
  read -r t_long _ <"$work/m"
  iconv_s+=("$t_iconv"); wide_s+=("$t_wide"); long_s+=("$t_long"); peaks+=("$peak")
  wide_r+=("$(ratio "$t_wide" "$t_iconv")"); long_r+=("$(ratio "$t_long" "$t_iconv")")
  printf '   run %d: iconv %.3f s  export %.3f s  export --long %.3f s  peak %d KiB\n' \
    "$i" "$t_iconv" "$t_wide" "$t_long" "$peak"
done

bytes=$(cat "${files[@]}" | wc -c)
echo
echo "input: ${#files[@]} day files, $bytes bytes, $data data lines; runs: $runs"
printf '%-22s %8s %7s %7s\n' command "s" ratio target
printf '%-22s %8.3f %7s %7s\n' "iconv CP932 -> UTF-8" "$(printf '%s\n' "${iconv_s[@]}" | median)" 1 ""
printf '%-22s %8.3f %7.3f %7s\n' "ravelo export" "$(printf '%s\n' "${wide_s[@]}" | median)" \
  "$(printf '%s\n' "${wide_r[@]}" | median)" 3.0
printf '%-22s %8.3f %7.3f %7s\n' "ravelo export --long" "$(printf '%s\n' "${long_s[@]}" | median)" \
  "$(printf '%s\n' "${long_r[@]}" | median)" ""
p=$(printf '%s\n' "${peaks[@]}" | median)
echo "peak memory of ravelo export: $((p / 1024)).$(((p % 1024) * 10 / 1024)) MiB"
