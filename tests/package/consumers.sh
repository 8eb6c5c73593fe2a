#!/usr/bin/env bash
# Installs ztc from a build tree into a temporary prefix and builds programs against
# the installed package only: find_package (C, C++, a dlopen'ed plugin holding the
# static archive), pkg-config --static, add_subdirectory, then a shared build whose exported symbols
# must be exactly the public headers' names.
# Usage: consumers.sh <source dir> <build dir> <C compiler> <C++ compiler>
set -euo pipefail
src=$1 build=$2 cc=$3 cxx=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
configure() { cmake -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" "$@" >"$work/log" || { cat "$work/log"; fail "configure $*"; }; }
build() { cmake --build "$1" >"$work/log" 2>&1 || { cat "$work/log"; fail "build $1"; }; }

# The consumer sources are copied out, so nothing of the source tree is on any path.
cp -r "$src/tests/package/consumer" "$work/consumer"

cmake --install "$build" --prefix "$work/static" >/dev/null
prefix=$work/static
libdir=$(dirname "$(find "$prefix" -name libztc.a)")
[ -f "$libdir/pkgconfig/ztc.pc" ] || fail "no ztc.pc beside libztc.a"
[ -f "$libdir/cmake/ztc/ztcConfig.cmake" ] && [ -f "$libdir/cmake/ztc/ztcConfigVersion.cmake" ] || fail "no CMake package"
for program in vantle-launcher vantle-bhint ztc-logdump; do
    [ -x "$prefix/bin/$program" ] || fail "no bin/$program"
done
if grep -rlF "$src" "$prefix/include" "$libdir/cmake" "$libdir/pkgconfig"; then fail "installed files name the source tree"; fi
if find "$prefix/include" -name '*.hpp' | grep .; then fail "internal headers installed"; fi

configure -S "$work/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix"
build "$work/consumer-build"
"$work/consumer-build/c_consumer" || fail "C consumer"
"$work/consumer-build/cxx_consumer" || fail "C++ consumer"
"$work/consumer-build/plugin_host" "$work/consumer-build/libformat_plugin.so" || fail "plugin"

# A C program linked by pkg-config alone, with the C compiler driver.
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --static --cflags --libs ztc)
[ "$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --modversion ztc)" = "$(sed -n 's/.*ZTC_VERSION_STRING "\(.*\)"/\1/p' "$prefix/include/base/ztc/version.h")" ] ||
    fail "ztc.pc and version.h disagree"
# shellcheck disable=SC2086
"$cc" -std=c11 -o "$work/pc_consumer" "$work/consumer/c_consumer.c" $flags || fail "pkg-config link"
"$work/pc_consumer" || fail "pkg-config consumer"

# As a subproject: the library alone is built, and installing installs nothing of ztc.
configure -S "$work/consumer" -B "$work/subproject" -DZTC_SOURCE_DIR="$src"
build "$work/subproject"
"$work/subproject/c_consumer" || fail "C consumer of the subproject"
if ls "$work/subproject/ztc" | grep -qx 'tests\|launcher\|tools\|bench'; then fail "subproject built more than the library"; fi
cmake --install "$work/subproject" --prefix "$work/subproject-prefix" >/dev/null
if [ -e "$work/subproject-prefix" ]; then fail "subproject installed into the consumer's prefix"; fi

# A shared build of the library alone, installed and used through find_package.
configure -S "$src" -B "$work/shared-build" -DBUILD_SHARED_LIBS=ON -DZTC_BUILD_PROGRAMS=OFF \
    -DZTC_BUILD_TESTS=OFF -DZTC_BUILD_BENCH=OFF -DZTC_INSTALL=ON -DCMAKE_BUILD_TYPE=Release
build "$work/shared-build"
cmake --install "$work/shared-build" --prefix "$work/shared" >/dev/null
so=$(find "$work/shared" -name 'libztc.so.*.*.*')
[ -n "$so" ] || fail "no versioned libztc.so"
readelf -d "$so" | grep -q 'SONAME.*libztc\.so\.[0-9]' || fail "no SONAME"
"$src/tests/package/exported_symbols.sh" "$so" "$work/shared/include" || fail "exported symbols"
configure -S "$work/consumer" -B "$work/shared-consumer" -DCMAKE_PREFIX_PATH="$work/shared"
build "$work/shared-consumer"
"$work/shared-consumer/c_consumer" || fail "C consumer of the shared library"
ldd "$work/shared-consumer/c_consumer" | grep -q "$work/shared" || fail "shared consumer did not load libztc.so"
echo "package consumers: all passed"
