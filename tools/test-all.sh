#!/bin/sh
# Builds both platforms and runs the whole test suite: natively on Linux and
# under Wine for the Windows build. Exits non-zero when anything fails.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh all
cmake --preset native >/dev/null
cmake --build --preset native -j2
cmake --preset windows >/dev/null
cmake --build --preset windows -j2
status=0
echo "== native tests"
ctest --preset native || status=1
echo "== windows tests (under Wine)"
ctest --preset windows || status=1
echo "== packages"
sh tools/package-check.sh || status=1
exit $status
