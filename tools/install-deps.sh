#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
# Usage: install-deps.sh [native|all|fuzz|gui]   (all adds the Windows cross build and
# Wine; fuzz adds clang and its sanitizer and libFuzzer runtimes, for
# tools/fuzz.sh; gui adds what the Qt graphical client in gui/ builds with:
# Qt 6 Widgets, libgit2, pugixml, and git, whose merge-file its tests use as
# an independent reference)
set -eu
want=${1:-all}
pkgs="cmake ninja-build g++ googletest libgtest-dev libgmock-dev procps"
if [ "$want" = all ]; then
  pkgs="$pkgs g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 wine"
fi
if [ "$want" = gui ]; then
  pkgs="$pkgs qt6-base-dev libgit2-dev libpugixml-dev pkg-config git"
fi
if [ "$want" = fuzz ]; then
  # The runtimes are only a recommendation of clang's packages.
  pkgs="$pkgs clang libclang-rt-14-dev"
fi
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
