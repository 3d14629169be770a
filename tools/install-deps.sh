#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
# Usage: install-deps.sh [native|all]   (all adds the Windows cross build and Wine)
set -eu
want=${1:-all}
pkgs="cmake ninja-build g++ googletest libgtest-dev libgmock-dev"
if [ "$want" = all ]; then
  pkgs="$pkgs g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 wine"
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
