#!/usr/bin/env bash
# Checks the release as a user meets it:
#  - the library and the tool build where GoogleTest is missing, and
#    `cmake --install` puts them under a prefix; the tree, moved elsewhere,
#    still runs (`ravelo --version`, a conversion of the bundled sample);
#  - a C program builds against the moved tree with pkg-config, and a CMake
#    project with find_package(Ravelo); both convert the sample;
#  - `cpack -G DEB` makes the Debian package, `apt-get install` of it gives a
#    working `ravelo --version`, and it is removed again (only when run as
#    root with apt-get; CHECK_DEB=0 skips it).
# Installs pkg-config, dpkg-dev and file with apt-get when missing.
# The last line is "N passed, M failed"; exits nonzero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
version=$(sed -n 's/^project(Ravelo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS $*"; }
fail() { failed=$((failed + 1)); echo "FAIL $*"; }
finish() {
  echo "== summary: install checks =="
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

need=()
command -v pkg-config >/dev/null || need+=(pkgconf)
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v file >/dev/null || need+=(file)  # CPack looks for ELF files with it
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v gcc >/dev/null || need+=(gcc g++)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" \
    >/dev/null || { fail "installing ${need[*]}"; finish; }
fi

tmp=$(mktemp -d /tmp/ravelo-install.XXXXXX)
build=$tmp/build
sample=$root/samples/STATION_A1.Q38
# The sample spans 15 days: 20 May to 2 June 2024 and the midnight record of 3 June.
day_files() { find "$1/CSV/Day" -name 'STATION_*.CSV' 2>/dev/null | wc -l; }

echo "== build and install =="
# As on a machine without GoogleTest: configuring says so, and the library
# and the tool build all the same.
if cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
     -DRAVELO_BUILD_BENCH=OFF >"$tmp/configure.log" 2>&1 &&
   cmake --build "$build" -j "$jobs" >"$tmp/build.log" 2>&1; then
  pass "library and tool build"
else
  tail -30 "$tmp/configure.log" "$tmp/build.log"; fail "library and tool build"; finish
fi
if grep -q '^-- Tests are off: GoogleTest was not found' "$tmp/configure.log" &&
   ! [ -e "$build/tests" ]; then
  pass "without GoogleTest: $(sed -n 's/^-- \(Tests are off: [^(]*\).*/\1/p' "$tmp/configure.log")"
else
  cat "$tmp/configure.log"; fail "without GoogleTest, configuring says the tests are off"
fi
if cmake --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1; then
  pass "cmake --install"
else
  cat "$tmp/install.log"; fail "cmake --install"; finish
fi
want="bin/ravelo include/ravelo.h lib/cmake/Ravelo/RaveloConfig.cmake
lib/cmake/Ravelo/RaveloConfigVersion.cmake lib/libravelo.so lib/libravelo.so.1
lib/libravelo.so.$version lib/pkgconfig/ravelo.pc share/doc/ravelo/LICENSE"
missing=""
for f in $want; do [ -e "$tmp/prefix/$f" ] || missing+=" $f"; done
if [ -z "$missing" ] && [ "$(readlink "$tmp/prefix/lib/libravelo.so")" = libravelo.so.1 ] &&
   [ "$(readlink "$tmp/prefix/lib/libravelo.so.1")" = "libravelo.so.$version" ]; then
  pass "installed: tool, header, library with its version links, pkg-config, CMake package"
else
  ls -lR "$tmp/prefix"; fail "installed files (missing:$missing)"
fi

echo "== the installed tree, moved =="
mv "$tmp/prefix" "$tmp/moved"
moved=$tmp/moved
out=$(env -u LD_LIBRARY_PATH "$moved/bin/ravelo" --version 2>&1)
if [ "$out" = "ravelo $version" ]; then pass "moved ravelo --version: $out"; else
  echo "$out"; fail "moved ravelo --version"; fi
if env -u LD_LIBRARY_PATH "$moved/bin/ravelo" convert "$sample" --out "$tmp/out-tool" \
     >"$tmp/tool.log" 2>&1 && [ "$(day_files "$tmp/out-tool")" = 15 ]; then
  pass "moved ravelo converts the sample into 15 day files"
else
  cat "$tmp/tool.log"; fail "moved ravelo converts the sample"
fi

echo "== a C program with pkg-config =="
mkdir -p "$tmp/pc" "$tmp/work-pc" "$tmp/out-pc"
flags=$(PKG_CONFIG_PATH="$moved/lib/pkgconfig" pkg-config --cflags --libs ravelo)
modversion=$(PKG_CONFIG_PATH="$moved/lib/pkgconfig" pkg-config --modversion ravelo)
# shellcheck disable=SC2086
if gcc -std=c11 -Wall -Wextra -Werror -o "$tmp/pc/use_ravelo" tests/install/use_ravelo.c \
     $flags -Wl,-rpath,"$moved/lib" 2>"$tmp/pc.log" && [ "$modversion" = "$version" ]; then
  pass "C program builds with pkg-config ($flags)"
else
  cat "$tmp/pc.log"; echo "modversion: $modversion"; fail "C program builds with pkg-config"
fi
if "$tmp/pc/use_ravelo" "$sample" "$tmp/out-pc" "$tmp/work-pc" >"$tmp/pc-run.log" 2>&1 &&
   diff -r "$tmp/out-tool" "$tmp/out-pc" >/dev/null; then
  pass "pkg-config program converts the sample as the tool does"
else
  cat "$tmp/pc-run.log"; fail "pkg-config program converts the sample as the tool does"
fi

echo "== a CMake project with find_package(Ravelo) =="
mkdir -p "$tmp/work-cm" "$tmp/out-cm"
if cmake -S tests/install -B "$tmp/cm" -G Ninja -DCMAKE_PREFIX_PATH="$moved" \
     >"$tmp/cm.log" 2>&1 && cmake --build "$tmp/cm" >>"$tmp/cm.log" 2>&1; then
  pass "CMake project builds with find_package(Ravelo)"
else
  cat "$tmp/cm.log"; fail "CMake project builds with find_package(Ravelo)"
fi
if "$tmp/cm/use_ravelo" "$sample" "$tmp/out-cm" "$tmp/work-cm" >"$tmp/cm-run.log" 2>&1 &&
   diff -r "$tmp/out-tool" "$tmp/out-cm" >/dev/null; then
  pass "find_package program converts the sample as the tool does"
else
  cat "$tmp/cm-run.log"; fail "find_package program converts the sample as the tool does"
fi

echo "== the Debian package =="
if (cd "$build" && cpack -G DEB) >"$tmp/cpack.log" 2>&1; then
  deb=$(ls "$build"/ravelo_"$version"_*.deb 2>/dev/null | head -1)
fi
if [ -n "${deb:-}" ]; then
  pass "cpack -G DEB: $(basename "$deb")"
  info=$(dpkg-deb --field "$deb" Depends Description)
  echo "$info" | sed 's/^/    /'
  if grep -q '^Depends: .*libc6' <<<"$info" && grep -q '^Description: ' <<<"$info" &&
     dpkg-deb --contents "$deb" | grep -q '/usr/share/doc/ravelo/copyright$'; then
    pass "package has its dependencies, a description and the licence"
  else
    fail "package has its dependencies, a description and the licence"
  fi
else
  tail -30 "$tmp/cpack.log"; fail "cpack -G DEB"
fi
if [ "${CHECK_DEB:-1}" = 1 ] && [ -n "${deb:-}" ] && [ "$(id -u)" = 0 ] &&
   command -v apt-get >/dev/null; then
  if [ "$(dpkg-query -W -f '${Status}' ravelo 2>/dev/null)" = "install ok installed" ]; then
    fail "the package ravelo is installed already: not touched"
  elif DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$tmp/apt.log" 2>&1; then
    out=$(env -u LD_LIBRARY_PATH /usr/bin/ravelo --version 2>&1)
    if [ "$out" = "ravelo $version" ]; then pass "installed package: ravelo --version: $out"
    else echo "$out"; fail "installed package: ravelo --version"; fi
    if /usr/bin/ravelo convert "$sample" --out "$tmp/out-deb" >"$tmp/deb-run.log" 2>&1 &&
       diff -r "$tmp/out-tool" "$tmp/out-deb" >/dev/null; then
      pass "installed package converts the sample"
    else
      cat "$tmp/deb-run.log"; fail "installed package converts the sample"
    fi
    if DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ravelo >>"$tmp/apt.log" 2>&1 &&
       ! [ -e /usr/bin/ravelo ]; then
      pass "package removed"
    else
      tail "$tmp/apt.log"; fail "package removed"
    fi
  else
    tail -20 "$tmp/apt.log"; fail "apt-get install of the package"
  fi
fi

if [ "$failed" = 0 ]; then rm -rf "$tmp"; else echo "outputs kept in $tmp"; fi
finish
