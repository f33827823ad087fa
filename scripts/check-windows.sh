#!/usr/bin/env bash
# Builds the Windows DLLs and proves them:
#  - build-win32/Ravelo.dll (i686, the shipped one): exactly the five plain
#    export names at ordinals 1..5, imports only from KERNEL32 and the C
#    run-time (objdump -p), the version resource; then the 32-bit host
#    program tests/windows/host.c (built with i686-w64-mingw32-gcc) runs it
#    under Wine's 32-bit loader: the exports' calling convention (__stdcall),
#    the scenarios of tests/windows/scenarios.txt, and those of
#    scenarios_cp932.txt in code page 932;
#  - build-win64/Ravelo.dll (x86_64, for testing): the same scenarios through
#    the 64-bit host program under wine64;
#  - the Linux library (build/) runs the same scenarios through the same
#    host program, and every CSV and INI file of each Windows run must be
#    byte-identical to the Linux run's (INI files after replacing each run's
#    folder prefix).
# Installs the cross compilers and Wine (with the i386 architecture for its
# 32-bit loader) with apt-get when they are missing.
# RAVELO_WIN32_DLL=PATH runs the 32-bit checks against another DLL.
# Some kernels run no 32-bit x86 programs at all ("Exec format error"):
# there Wine's 32-bit loader cannot start, so the 32-bit DLL is built and
# checked statically (exports, imports, version, the stack bytes each export
# removes) and every 64-bit and Linux check runs, but the 32-bit runs under
# Wine are reported as one SKIP line with the reason, never as passed.
# Exits nonzero on any failure; the last line is "N passed, M failed"
# (with ", 1 skipped" when the 32-bit runs were skipped).
# The outputs stay in /tmp/ravelo-windows.* after a failure, or always with
# KEEP_OUTPUTS=1.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

passed=0
failed=0
skipped=0
pass() { passed=$((passed + 1)); echo "PASS $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
skip() { skipped=$((skipped + 1)); echo "SKIP $*"; }
finish() {
  echo "== summary: Windows checks =="
  if [ "$skipped" -gt 0 ]; then echo "$passed passed, $failed failed, $skipped skipped"
  else echo "$passed passed, $failed failed"; fi
  [ "$failed" -eq 0 ]
  exit $?
}

# ---- Tools ------------------------------------------------------------------
echo "== tools =="
need=()
command -v i686-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-x86-64)
command -v i686-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-i686)
[ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || need+=(wine64)
command -v wine >/dev/null || need+=(wine)
# Wine's 32-bit loader is a 32-bit Linux program: Debian ships it in wine32
# of the i386 architecture (wine64 alone cannot start 32-bit programs).
[ -x /usr/lib/wine/wine ] || need+=(wine32:i386)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/share/i18n/locales/ja_JP ] && [ -f /usr/share/i18n/charmaps/UTF-8.gz ] ||
  need+=(locales)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  if [[ " ${need[*]} " == *" wine32:i386 "* ]] &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || { fail "adding the i386 architecture"; finish; }
  fi
  apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" \
    >/dev/null || { fail "installing ${need[*]}"; finish; }
fi
if [ -x /usr/lib/wine/wine64 ]; then wine64=/usr/lib/wine/wine64; else wine64=$(command -v wine64); fi
wine32=/usr/lib/wine/wine
if [ -x /usr/lib/wine/wineserver64 ]; then wineserver=/usr/lib/wine/wineserver64
else wineserver=$(command -v wineserver || echo true); fi

# Can this kernel start 32-bit x86 programs? Wine's 32-bit loader is one,
# and it prints its version without a Wine prefix. A kernel without 32-bit
# support refuses it with "Exec format error".
run32=1
why32=
if [ -x "$wine32" ]; then
  if ! out32=$(unset DISPLAY; "$wine32" --version 2>&1) || ! grep -q '^wine-' <<<"$out32"; then
    run32=0
    why32="this kernel cannot run 32-bit x86 programs ($wine32 --version: $(head -1 <<<"$out32"))"
  fi
else
  run32=0
  why32="Wine's 32-bit loader $wine32 is missing"
fi
if [ "$run32" = 1 ]; then echo "32-bit programs run here: $out32"; else echo "32-bit programs cannot run here: $why32"; fi

# ---- Builds -----------------------------------------------------------------
# A build passes when it succeeds and the compiler says nothing.
build() {  # name dir target cmake-args...
  local name=$1 dir=$2 target=$3; shift 3
  mkdir -p "$dir"
  local log="$dir/check-build.log"
  local generator=(-G Ninja)
  [ -f "$dir/CMakeCache.txt" ] && generator=()
  if cmake -S . -B "$dir" "${generator[@]}" "$@" >"$log" 2>&1 &&
     cmake --build "$dir" -j "$jobs" --target "$target" >>"$log" 2>&1; then
    if grep -q 'warning:' "$log"; then
      grep -B2 -A4 'warning:' "$log" | head -60
      fail "$name builds without warnings (log: $log)"
    else
      pass "$name builds"
    fi
    return 0
  fi
  tail -40 "$log"
  fail "$name builds (log: $log)"
  return 1
}

echo "== builds =="
cross=(-DCMAKE_BUILD_TYPE=Release -DRAVELO_BUILD_TESTS=OFF -DRAVELO_BUILD_TOOLS=OFF)
build "i686 Ravelo.dll" build-win32 ravelo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  "${cross[@]}"
have32=$?
build "x86_64 Ravelo.dll" build-win64 ravelo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  "${cross[@]}"
have64=$?
build "Linux libravelo.so" build ravelo -DCMAKE_BUILD_TYPE=RelWithDebInfo
havelinux=$?
linuxlib=$(ls build/libravelo.so 2>/dev/null || true)

mkdir -p build-win32/check build-win64/check build/windows-check
cflags=(-std=c11 -O1 -Wall -Wextra -Wpedantic -Wshadow -Iinclude)
if i686-w64-mingw32-gcc "${cflags[@]}" -o build-win32/check/host.exe tests/windows/host.c \
     2>build-win32/check/host.log && ! [ -s build-win32/check/host.log ]; then
  pass "32-bit Windows host program builds"
else
  cat build-win32/check/host.log; fail "32-bit Windows host program builds"
fi
if x86_64-w64-mingw32-gcc "${cflags[@]}" -o build-win64/check/host.exe tests/windows/host.c \
     2>build-win64/check/host.log && ! [ -s build-win64/check/host.log ]; then
  pass "64-bit Windows host program builds"
else
  cat build-win64/check/host.log; fail "64-bit Windows host program builds"
fi
if gcc "${cflags[@]}" -o build/windows-check/host tests/windows/host.c -ldl \
     2>build/windows-check/host.log && ! [ -s build/windows-check/host.log ]; then
  pass "Linux host program builds"
else
  cat build/windows-check/host.log; fail "Linux host program builds"
fi
if g++ -std=c++20 -O1 -Wall -Wextra -o build/windows-check/make_inputs \
     tests/windows/make_inputs.cc 2>build/windows-check/make_inputs.log &&
   ! [ -s build/windows-check/make_inputs.log ]; then
  pass "input generator builds"
else
  cat build/windows-check/make_inputs.log; fail "input generator builds"
fi

# The platform layer alone, on both systems (needs no engine).
pflags=(-std=c++20 -O1 -Wall -Wextra -Wpedantic -Wshadow -Isrc -Iinclude)
for bits in 32 64; do
  if [ "$bits" = 32 ]; then cxx=i686-w64-mingw32-g++; else cxx=x86_64-w64-mingw32-g++; fi
  dir=build-win$bits/check
  if "$cxx" "${pflags[@]}" -static -o "$dir/platform_check.exe" tests/windows/platform_check.cc \
       src/platform/platform_win32.cc src/platform/fault.cc 2>"$dir/platform_check.log" &&
     ! [ -s "$dir/platform_check.log" ]; then
    pass "$bits-bit Windows platform check builds"
  else
    cat "$dir/platform_check.log"; fail "$bits-bit Windows platform check builds"
  fi
done
if g++ "${pflags[@]}" -o build/windows-check/platform_check tests/windows/platform_check.cc \
     src/platform/platform_posix.cc src/platform/profile_posix.cc src/platform/fault.cc \
     -lpthread 2>build/windows-check/platform_check.log &&
   ! [ -s build/windows-check/platform_check.log ]; then
  pass "Linux platform check builds"
else
  cat build/windows-check/platform_check.log; fail "Linux platform check builds"
fi

# ---- The shipped DLL's form -------------------------------------------------
# Exports: objdump lists "[Ordinal/Name Pointer] Table" entries as
# "[ i] Name" with i = ordinal - base.
check_form() {  # objdump dll label
  local objdump=$1 dll=$2 label=$3 dump
  dump=$("$objdump" -p "$dll") || { fail "$label: objdump -p"; return; }
  local base names
  base=$(sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\)/\1/p' <<<"$dump")
  names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
          sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p')
  local want=$'0 RaveloDayCntlTypeSet\n1 RaveloErrMsgGet\n2 RaveloINIFileDelete\n3 RaveloInit\n4 RaveloProc'
  local count
  # The first "Export Address Table" line is the count, the second an address.
  count=$(sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' <<<"$dump" |
          head -1)
  if [ "$base" = 1 ] && [ "$names" = "$want" ] && [ "$((16#${count:-0}))" = 5 ]; then
    pass "$label exports exactly the five plain names at ordinals 1..5"
  else
    echo "ordinal base: $base, functions: $count"; echo "$names"
    fail "$label exports exactly the five plain names at ordinals 1..5"
  fi
  local dlls bad
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | sort -u)
  bad=$(grep -viE '^(kernel32\.dll|msvcrt\.dll|api-ms-win-crt-.*\.dll)$' <<<"$dlls")
  if [ -n "$dlls" ] && [ -z "$bad" ]; then
    pass "$label imports only from $(tr '\n' ' ' <<<"$dlls")"
  else
    echo "imports: $(tr '\n' ' ' <<<"$dlls")"
    fail "$label imports only from KERNEL32 and the C run-time"
  fi
}

echo "== DLL form =="
if [ "$have32" = 0 ] && [ -f build-win32/Ravelo.dll ]; then
  check_form i686-w64-mingw32-objdump build-win32/Ravelo.dll "i686 Ravelo.dll"
  if file build-win32/Ravelo.dll 2>/dev/null | grep -q 'Intel 80386\|Intel i386' ||
     i686-w64-mingw32-objdump -f build-win32/Ravelo.dll | grep -q 'pei-i386'; then
    pass "i686 Ravelo.dll is a 32-bit x86 DLL"
  else
    fail "i686 Ravelo.dll is a 32-bit x86 DLL"
  fi
  # The version resource holds the project version (UTF-16 strings).
  version=$(sed -n 's/^project(Ravelo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  if strings -el build-win32/Ravelo.dll | grep -A1 -x FileVersion | grep -qx "$version"; then
    pass "i686 Ravelo.dll has the version resource $version"
  else
    fail "i686 Ravelo.dll has the version resource $version"
  fi
  # __stdcall, read off the code: each export's decorated name carries the
  # bytes of its arguments, and every return of the export (or of the member
  # function it jumps to) removes exactly those bytes ("ret $N").
  if i686-w64-mingw32-objdump -d build-win32/Ravelo.dll |
     python3 scripts/check_stdcall.py RaveloDayCntlTypeSet=4 RaveloErrMsgGet=8 \
       RaveloINIFileDelete=0 RaveloInit=12 RaveloProc=20; then
    pass "i686 Ravelo.dll: each export removes its own argument bytes (ret N, read from the code)"
  else
    fail "i686 Ravelo.dll: each export removes its own argument bytes (ret N, read from the code)"
  fi
fi
if [ "$have64" = 0 ] && [ -f build-win64/Ravelo.dll ]; then
  check_form x86_64-w64-mingw32-objdump build-win64/Ravelo.dll "x86_64 Ravelo.dll"
fi

tmp=$(mktemp -d /tmp/ravelo-windows.XXXXXX)
mkdir -p "$tmp/in" "$tmp/lin" "$tmp/prefix" "$tmp/plin"
winpath() { printf 'Z:%s' "${1//\//\\}"; }  # Wine shows / as drive Z:
wine_env=()
wine_run() {  # 32|64 program args... (output: $tmp/wine.out, $tmp/wine.err)
  local loader=$wine64
  [ "$1" = 32 ] && loader=$wine32
  shift
  env -u DISPLAY WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    "${wine_env[@]}" "$loader" "$@" >"$tmp/wine.out" 2>"$tmp/wine.err"
}
stop_wine() { WINEPREFIX="$tmp/prefix" "$wineserver" -k >/dev/null 2>&1; }
trap stop_wine EXIT

# The widths of Windows programs that run here: 64 always, 32 where the
# kernel starts 32-bit programs (otherwise one SKIP line says why).
widths=(32 64)
if [ "$run32" != 1 ]; then
  widths=(64)
  skip "32-bit runs under Wine (platform layer, host program, scenarios, code page 932," \
    "comparisons with Linux): $why32; the 32-bit DLL was built and checked statically only"
fi

# ---- The platform layer on both systems --------------------------------------
echo "== platform layer =="
if [ -x build/windows-check/platform_check ]; then
  build/windows-check/platform_check "$tmp/plin" "$tmp/plin.transcript" >"$tmp/plin.out" 2>&1
  rc=$?
  grep -v '^PASS' "$tmp/plin.out"
  if [ "$rc" = 0 ]; then pass "Linux platform layer"; else fail "Linux platform layer"; fi
fi
for bits in "${widths[@]}"; do
  exe=build-win$bits/check/platform_check.exe
  [ -x "$exe" ] && [ -x build/windows-check/platform_check ] || continue
  mkdir -p "$tmp/pwin$bits"
  start=$(date +%s)
  wine_run "$bits" "$exe" "$(winpath "$tmp/pwin$bits")" "$(winpath "$tmp/pwin$bits.transcript")"
  rc=$?
  echo "($bits-bit Wine run$([ "$bits" = 32 ] && echo ", with a new Wine prefix"): $(( $(date +%s) - start )) s)"
  sed 's/\r$//' "$tmp/wine.out" | grep -v '^PASS'
  if [ "$rc" = 0 ]; then pass "$bits-bit Windows platform layer under Wine"; else
    tail -5 "$tmp/wine.err"; fail "$bits-bit Windows platform layer under Wine (exit $rc)"; fi
  if cmp -s "$tmp/pwin$bits.transcript" "$tmp/plin.transcript"; then
    pass "$bits-bit Windows and Linux platform layers agree (results and INI bytes)"
  else
    diff "$tmp/pwin$bits.transcript" "$tmp/plin.transcript" | head -20
    fail "$bits-bit Windows and Linux platform layers agree (results and INI bytes)"
  fi
done

# ---- Scenarios on both systems ---------------------------------------------
dll32=${RAVELO_WIN32_DLL:-build-win32/Ravelo.dll}
if [ "$have32" != 0 ] || [ "$have64" != 0 ] || [ "$havelinux" != 0 ] || [ -z "$linuxlib" ] ||
   ! [ -f "$dll32" ] || ! [ -x build-win32/check/host.exe ] ||
   ! [ -x build-win64/check/host.exe ] || ! [ -x build/windows-check/host ] ||
   ! [ -x build/windows-check/make_inputs ]; then
  fail "scenarios not run: a build failed"
  echo "outputs kept in $tmp"
  finish
fi

echo "== scenarios =="
if build/windows-check/make_inputs "$tmp/in"; then pass "inputs generated"; else
  fail "inputs generated"; finish; fi

# The shipped 32-bit DLL under Wine's 32-bit loader, and the 64-bit build
# under wine64: each runs every scenario, and each run's files are compared
# with the Linux run's below.
win_run() {  # bits dll
  local bits=$1 dll=$2
  echo "-- Windows, $bits-bit ($(basename "$dll") under Wine) --"
  mkdir -p "$tmp/win$bits" "$tmp/dll$bits"
  cp "$dll" "$tmp/dll$bits/Ravelo.dll"
  local start rc
  start=$(date +%s)
  wine_run "$bits" "build-win$bits/check/host.exe" "$(winpath "$tmp/dll$bits/Ravelo.dll")" \
    "$(winpath "$root/tests/windows/scenarios.txt")" "$(winpath "$tmp/in")" \
    "$(winpath "$tmp/win$bits")" "$(winpath "$tmp/win$bits.transcript")"
  rc=$?
  cp "$tmp/wine.out" "$tmp/win$bits.out"
  cp "$tmp/wine.err" "$tmp/win$bits.err"
  sed 's/\r$//' "$tmp/win$bits.out" | sed -n '/^\(PASS\|FAIL\|  \|export\)/p'
  echo "($bits-bit Wine run: $(( $(date +%s) - start )) s)"
  if [ "$rc" = 0 ] && sed 's/\r$//' "$tmp/win$bits.out" | tail -1 | grep -q ' 0 failed$'; then
    pass "$bits-bit host program under Wine: every check and scenario"
  else
    tail -5 "$tmp/win$bits.err"
    fail "$bits-bit host program under Wine (exit $rc)"
  fi
}
[ "$run32" = 1 ] && win_run 32 "$dll32"
win_run 64 build-win64/Ravelo.dll

# The code page 932 scenarios with the shipped 32-bit DLL; where 32-bit
# programs cannot run, with the 64-bit build, so that they run at all.
jabits=${widths[0]}
echo "-- Windows, $jabits-bit, in code page 932 --"
# Wine takes its code page from the Linux locale: a Japanese UTF-8 locale,
# made here in a private folder (LOCPATH), gives code page 932 and keeps
# the file names UTF-8 on disk.
mkdir -p "$tmp/wja" "$tmp/locale"
localedef -i ja_JP -f UTF-8 "$tmp/locale/ja_JP.UTF-8" >/dev/null 2>&1
wine_env=(LOCPATH="$tmp/locale" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)
wine_run "$jabits" "build-win$jabits/check/host.exe" \
  "$(winpath "$tmp/dll$jabits/Ravelo.dll")" "$(winpath "$root/tests/windows/scenarios_cp932.txt")" \
  "$(winpath "$tmp/in")" "$(winpath "$tmp/wja")" "$(winpath "$tmp/wja.transcript")"
jarc=$?
wine_env=()
sed 's/\r$//' "$tmp/wine.out" | sed -n '/^\(FAIL\|  \)/p'
if [ "$jarc" = 0 ]; then pass "$jabits-bit host program under Wine in code page 932"; else
  fail "$jabits-bit host program under Wine in code page 932 (exit $jarc)"; fi

echo "-- Linux --"
build/windows-check/host "$root/$linuxlib" tests/windows/scenarios.txt "$tmp/in" "$tmp/lin" \
  "$tmp/lin.transcript" >"$tmp/lin.out" 2>&1
linrc=$?
sed -n '/^\(PASS\|FAIL\|  \)/p' "$tmp/lin.out"
if [ "$linrc" = 0 ]; then pass "host program on Linux: every check and scenario"; else
  fail "host program on Linux (exit $linrc)"; fi

echo "-- comparison --"
rm -f "$tmp/compare.out"
for bits in "${widths[@]}"; do
python3 - "$tmp" "win$bits" "$(winpath "$tmp/win$bits")" "$bits-bit Windows" \
  >>"$tmp/compare.out" <<'PYEOF'
import os, sys
tmp, windir, winprefix, label = sys.argv[1:5]
win, lin = os.path.join(tmp, windir), os.path.join(tmp, "lin")
linprefix = lin

def tree(top):
    files = {}
    for d, dirs, names in os.walk(top):
        for n in dirs + names:
            p = os.path.join(d, n)
            files[os.path.relpath(p, top)] = None if os.path.isdir(p) else open(p, "rb").read()
    return files

def norm(rel, data, prefix):
    if data is not None and rel.lower().endswith(".ini"):
        return data.replace(prefix.encode(), b"<ROOT>")
    return data

w, l = tree(win), tree(lin)
scenarios = sorted({k.split(os.sep)[0] for k in list(w) + list(l)})
for s in scenarios:
    problems = []
    files = 0
    for rel in sorted(set(w) | set(l)):
        if rel.split(os.sep)[0] != s:
            continue
        if rel not in w:
            problems.append("only on Linux: " + rel)
        elif rel not in l:
            problems.append("only on " + label + ": " + rel)
        elif norm(rel, w[rel], winprefix) != norm(rel, l[rel], linprefix):
            problems.append("differs: " + rel)
        elif w[rel] is not None:
            files += 1
    if s == "final":
        for rel in w:
            if rel.startswith(os.path.join("final", "work") + os.sep):
                problems.append("left after unload: " + rel)
    status = "PASS" if not problems else "FAIL"
    print("%s %s and Linux outputs of %s equal (%d files)" % (status, label, s, files))
    for p in problems[:20]:
        print("    " + p)
PYEOF
done
cat "$tmp/compare.out"
while read -r status _; do
  case $status in PASS) passed=$((passed + 1)) ;; FAIL) failed=$((failed + 1)) ;; esac
done < <(grep -E '^(PASS|FAIL) ' "$tmp/compare.out")
if ! grep -q '^PASS' "$tmp/compare.out"; then fail "no output compared"; fi

# Wine keeps Linux file names in UTF-8: "\xE8\xA1\xA8" is the character
# that is 0x95 0x5C in code page 932.
hyo=$'\xE8\xA1\xA8'
ja_ok=1
for day in 20240131 20240201; do
  cmp -s "$tmp/wja/dbcs/dst/CSV/Day/${hyo}_$day.CSV" "$tmp/lin/day/dst/CSV/Day/LOG_$day.CSV" ||
    { echo "    dbcs/dst/CSV/Day/${hyo}_$day.CSV missing or unlike LOG_$day.CSV"; ja_ok=0; }
done
[ -f "$tmp/wja/dbcs/dst/${hyo}_0001.CSV" ] || { echo "    dbcs/dst/${hyo}_0001.CSV missing"; ja_ok=0; }
if [ "$ja_ok" = 1 ]; then pass "a double-byte file name keeps its characters whole"; else
  ls -R "$tmp/wja/dbcs/dst" | head; fail "a double-byte file name keeps its characters whole"; fi

for bits in "${widths[@]}"; do
  if sed 's/\r$//' "$tmp/win$bits.transcript" | cmp -s - "$tmp/lin.transcript"; then
    pass "results and message bytes equal on $bits-bit Windows and Linux"
  else
    diff <(sed 's/\r$//' "$tmp/win$bits.transcript") "$tmp/lin.transcript" | head -20
    fail "results and message bytes equal on $bits-bit Windows and Linux"
  fi
done

# The message bytes, checked against the texts converted here to code page
# 932 (the transcripts already agree with each other).
if python3 - "$tmp/win${widths[0]}.transcript" <<'PYEOF'
import subprocess, sys
texts = [
    "エラーなし", "入力ファイルＥＯＦ検出", "Q38ファイルパスの指定がありません。",
    "Q38ファイルが存在しません。", "Q38ファイルの拡張子でありません。",
    "保存先フォルダパスの指定がありません。", "保存先フォルダが存在しません。",
    "作成するCSVファイルの種類が指定範囲外です。", "CSVファイル作成方法の種類が指定範囲外です。",
    "Q38ファイルのオープンに失敗しました。", "保存先フォルダの下のCSVフォルダ作成に失敗しました。",
    "CSVフォルダの下のCSVサブフォルダ作成に失敗しました。",
    "Q38ファイルのIDとサイズ情報の読込みに失敗しました。",
    "Q38ファイルのヘッダ内のメモ情報の先頭へのシークに失敗しました。",
    "Q38ファイルのヘッダ内のメモ情報の読込みに失敗しました。",
    "Q38ファイルの記録データの先頭へのシークに失敗しました。",
    "Q38ファイルの記録データの読込みに失敗しました。",
    "Q38ファイルの記録データのチャンネル番号が範囲外です。",
    "Q38ファイルの記録データの記録モード番号が範囲外です。",
    "Q38ファイルの記録データの記録モード番号に該当がありません。",
    "Q38ファイルの記録データのデータ値が範囲外です。", "ファイルへのデータ書込みに失敗しました。",
    "CSVファイルのオープンに失敗しました。", "TMPファイルのオープンに失敗しました",
    "ファイルを削除に失敗しました。", "ファイルをリネームに失敗しました。",
    "CSVファイルの文字列（１行分）の読込みに失敗しました。",
]
got = {}
for line in open(sys.argv[1], encoding="ascii"):
    if line.startswith("message "):
        head, _, hexbytes = line.partition(":")
        code = int(head.split()[1])
        got[code] = (head.split()[-1], bytes.fromhex(hexbytes.strip()))
bad = 0
for code, text in enumerate(texts):
    want = subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=text.encode(),
                          capture_output=True, check=True).stdout
    if got.get(code) != ("1", want):
        print("    message %d differs" % code)
        bad += 1
for code in (-1, 27):
    if got.get(code) != ("0", b""):
        print("    message %d: %r" % (code, got.get(code)))
        bad += 1
sys.exit(1 if bad else 0)
PYEOF
then pass "message texts are the code page 932 bytes"; else
  fail "message texts are the code page 932 bytes"; fi

# The Wine server writes the prefix until it has stopped.
stop_wine
WINEPREFIX="$tmp/prefix" "$wineserver" -w >/dev/null 2>&1
if [ "$failed" = 0 ] && [ -z "${KEEP_OUTPUTS:-}" ]; then rm -rf "$tmp"; else echo "outputs kept in $tmp"; fi
finish
