#!/bin/sh
# Builds both platforms (and with clang) and runs the whole test suite: natively on Linux,
# natively again under the address and undefined-behaviour sanitizers, and
# under Wine for the Windows build; then builds and checks the packages and
# takes a screenshot of each window of the graphical client under Xvfb
# (build/screenshots, for a person to look at).
# Exits non-zero when anything fails.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh all
# A compiler cache, where there is one, keeps rebuilds of unchanged sources
# cheap; paths below this folder are hashed relative to it, so that another
# clone of the project reuses what one has built.
if command -v ccache >/dev/null 2>&1 && [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
fi
status=0
# clang is only built: it reports unused results of virtual calls that gcc
# does not.
for preset in native windows asan clang; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 || status=1
done
# A plain Release build as a user makes it (-O3, no preset) of the programs
# and the graphical client's Qt-free engine; warnings are errors here too.
echo "== build: Release, no preset"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTW_BUILD_GUI=ON -DTW_WERROR=ON >/dev/null
cmake --build build/release -j2 --target tarnwick hollin_service tarnwickutf8 tw_engine tw_gui_serve || status=1
echo "== tests: native"
ctest --preset native || status=1
echo "== tests: windows (under Wine)"
ctest --preset windows || status=1
echo "== tests: native, address and undefined-behaviour sanitizers"
ctest --preset asan || status=1
echo "== packages"
sh tools/package-check.sh || status=1
echo "== screenshots of the graphical client's windows, under Xvfb"
sh tools/gui-screenshots.sh build/screenshots build/native || status=1
exit $status
