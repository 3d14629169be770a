#!/bin/sh
# Installs the Debian packages that the Qt graphical client (gui/, built with
# -DTW_BUILD_GUI=ON) needs, when missing: Qt 6 Widgets, libgit2 for the
# diffs, pugixml for the XML-RPC call, and git itself, whose merge-file the
# merge tests use as an independent reference.
set -eu
pkgs="qt6-base-dev libgit2-dev libpugixml-dev pkg-config git"
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
