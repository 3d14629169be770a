#!/bin/sh
# Installs the Debian packages the build and the tests need, when missing.
# Usage: install-deps.sh [main|native|all|fuzz]
#   main    what the main job needs to build the installation and merge:
#           the compilers and build tools, GoogleTest (configuring the
#           native preset asks for it), Qt 6 Widgets, libgit2, pugixml, git,
#           the tree-sitter runtime (the panes' syntax highlighting);
#           dpkg-dev, which unpacks Debian's source package of libgit2,
#           fetched into build/deb-sources (tools/build-deps.sh), from which
#           tarnwickmerge's static libgit2 is built
#   native  the Linux build and its tests, the graphical client included:
#           Qt 6 Widgets, libgit2 and pugixml; git, whose merge-file the
#           merge engine's tests use as a reference and whose mergetool and
#           difftool the end-to-end tests drive; Xvfb for screenshots of real
#           windows and xdotool to drive them with keys and mouse; dpkg-dev,
#           which works out the package's dependencies; lintian and man-db,
#           which check the .deb and its manual pages; the tree-sitter
#           runtime, and (from npm, into build/tree-sitter-grammars) the
#           grammars of cmake/tree-sitter-grammars.txt, which the panes
#           highlight with
#   all     native, and the Windows cross build and Wine; wixl and msitools,
#           which build the .msi; clang, which builds the clang preset; zlib
#           for MinGW, and Debian's source packages of libgit2 and pugixml
#           (with pcre2 and http-parser) and of tree-sitter (the runtime the
#           Windows panes highlight with), fetched into build/deb-sources
#           through a private source list (tools/build-deps.sh), from
#           which the Windows build makes its static libraries; ccache,
#           which tools/test-all.sh uses where it is present; ImageMagick,
#           whose import takes the Windows windows' screenshots
#           (tools/gui-screenshots.sh --windows)
#   fuzz    native, and clang with its sanitizer and libFuzzer runtimes
set -eu
want=${1:-all}
pkgs="cmake ninja-build g++ googletest libgtest-dev libgmock-dev procps
  qt6-base-dev libgit2-dev libpugixml-dev pkg-config git dpkg-dev zlib1g-dev libtree-sitter-dev"
case "$want" in
  main) ;;
  native|gui|all|fuzz) pkgs="$pkgs dpkg-dev xvfb xauth xdotool lintian man-db"
    command -v npm >/dev/null 2>&1 || pkgs="$pkgs npm" ;;
esac
case "$want" in
  main|native|gui) ;;
  all) pkgs="$pkgs g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 wine
    wixl msitools clang libz-mingw-w64-dev ccache imagemagick" ;;
  # The runtimes are only a recommendation of clang's packages.
  fuzz) pkgs="$pkgs clang libclang-rt-14-dev" ;;
  *) echo "usage: install-deps.sh [main|native|all|fuzz]" >&2; exit 2 ;;
esac
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
# The grammars' npm packages, at the versions the list pins: their
# generated parsers are compiled into the build (never committed).
case "$want" in
  native|gui|all|fuzz)
    root="$(dirname "$0")/.."
    grammars=$(grep -v '^#' "$root/cmake/tree-sitter-grammars.txt" | cut -d'|' -f1 | tr -d ' ')
    stale=""
    for g in $grammars; do
      name=${g%@*}
      grep -q "\"version\": \"${g##*@}\"" "$root/build/tree-sitter-grammars/node_modules/$name/package.json" \
        2>/dev/null || stale="$stale $g"
    done
    if [ -n "$stale" ]; then
      echo "installing grammars:$stale"
      mkdir -p "$root/build/tree-sitter-grammars"
      npm install --prefix "$root/build/tree-sitter-grammars" --ignore-scripts --legacy-peer-deps \
        --no-audit --no-fund --no-save --loglevel=error $grammars >/dev/null
    fi ;;
esac
# The Linux build's tarnwickmerge links a static libgit2 built from the same
# source packages (tools/build-deps.sh), so every set fetches them.
sh "$(dirname "$0")/build-deps.sh" fetch "$(dirname "$0")/../build/deb-sources"
