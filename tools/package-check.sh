#!/bin/sh
# Builds the packages of both platforms and checks them:
#   - each holds the three programs, the prompt tool, the git set-up script
#     and the graphical client in their places;
#   - the .deb passes lintian without errors, and installed into a scratch
#     root (dpkg --root, so the machine's own package database is untouched)
#     puts the commands on the PATH there, its manual pages render, a compare
#     runs through the links and the whole chain, git is set up in one
#     command (packaging/git-setup-test.sh), and dpkg -r removes every file
#     while the user's service still runs;
#   - the Windows .msi installs silently into a fresh Wine prefix of its
#     own, puts bin on the user's PATH, serves a merge found on that PATH
#     through the installed service and the program that answers every
#     call with a fault (there is no Windows graphical client yet: the merge
#     must fail and say why), and uninstalls silently without leaving a file,
#     a PATH entry or its uninstall entry;
#   - the licence is in every package.
# Expects both presets to be built (tools/test-all.sh does that first).
set -eu
cd "$(dirname "$0")/.."
src=$PWD
out="$PWD/build/packages"
fail() { echo "package check: $*" >&2; exit 1; }

# A Wine prefix left by an earlier run is ended before it is deleted.
if [ -d "$out/wineprefix" ]; then
  WINEPREFIX="$out/wineprefix" wineserver -k </dev/null >/dev/null 2>&1 || true
  WINEPREFIX="$out/wineprefix" wineserver -w </dev/null >/dev/null 2>&1 || true
fi
rm -rf "$out"
mkdir -p "$out"
(cd build/native && cpack -B "$out/linux" >/dev/null)
(cd build/windows && cpack -B "$out/windows" >/dev/null)

deb=$(ls "$out"/linux/*.deb)
tgz=$(ls "$out"/linux/*.tar.gz)
zip=$(ls "$out"/windows/*.zip)
msi=$(ls "$out"/windows/*.msi 2>/dev/null) || fail "no .msi in $out/windows (wixl and msibuild missing?)"
dpkg-deb -c "$deb" | sed 's/^.* \.\//\//; s/ -> .*//' >"$out/deb.list"
tar tzf "$tgz" >"$out/tgz.list"
cmake -E tar tf "$zip" >"$out/zip.list"
msiinfo export "$msi" File | cut -f3 >"$out/msi.list"
for f in bin/tarnwick bin/hollin_service bin/tarnwickutf8 bin/fernask Brightdesk/marlow; do
  grep -q "^/usr/lib/tarnwick/$f\$" "$out/deb.list" || fail "$f missing from $deb"
  grep -q "/opt/tarnwick/$f\$" "$out/tgz.list" || fail "$f missing from $tgz"
  grep -q "/$f.exe\$" "$out/zip.list" || fail "$f.exe missing from $zip"
  grep -q "^$(basename "$f").exe\$" "$out/msi.list" || fail "$f.exe missing from $msi"
done
grep -q "/opt/tarnwick/bin/tarnwick-git-setup\$" "$out/tgz.list" || fail "tarnwick-git-setup missing from $tgz"
grep -q "/opt/tarnwick/share/man/man1/tarnwick.1.gz\$" "$out/tgz.list" || fail "manual pages missing from $tgz"
grep -q "/bin/tarnwick-git-setup\$" "$out/zip.list" || fail "tarnwick-git-setup missing from $zip"
# The licence: at the top of the archives and the .msi; in the .deb only as
# its machine-readable copyright file (whose text must be the licence's).
grep -q "/opt/tarnwick/LICENSE\$" "$out/tgz.list" || fail "LICENSE missing from $tgz"
grep -q "^[^/]*/LICENSE\.txt\$" "$out/zip.list" || fail "LICENSE.txt missing from $zip"
grep -q "^LICENSE\.txt\$" "$out/msi.list" || fail "LICENSE.txt missing from $msi"
# And the licences of what the programs link statically.
for f in libgit2 pcre2 http-parser pugixml zlib tree-sitter tree-sitter-c; do
  grep -q "/licenses/$f\.txt\$" "$out/zip.list" || fail "licenses/$f.txt missing from $zip"
  grep -q "^$f\.txt\$" "$out/msi.list" || fail "$f.txt missing from $msi"
done
for f in libgit2 http-parser tree-sitter tree-sitter-c; do
  grep -q "/opt/tarnwick/licenses/$f\.txt\$" "$out/tgz.list" || fail "licenses/$f.txt missing from $tgz"
  grep -q "/usr/share/doc/tarnwick/licenses/$f\.txt\$" "$out/deb.list" ||
    fail "licenses/$f.txt missing from $deb"
done
if grep -q "LICENSE" "$out/deb.list"; then fail "$deb has a licence file beside its copyright file"; fi
dpkg-deb --fsys-tarfile "$deb" | tar xOf - ./usr/share/doc/tarnwick/copyright >"$out/copyright"
grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\$" "$out/copyright" &&
  grep -q "^License: Expat\$" "$out/copyright" && grep -q "^Copyright: 2026 The tarnwick authors\$" "$out/copyright" ||
  fail "the .deb's copyright file does not give the MIT (Expat) licence"
sed -n '/^Permission/,$p' LICENSE >"$out/license.text"
# The first licence paragraph is ours; those after it are of what is linked in.
awk '/^ Permission/ { on = 1 } on && /^$/ { exit } on' "$out/copyright" |
  sed 's/^ //; s/^\.$//' >"$out/copyright.text"
cmp -s "$out/license.text" "$out/copyright.text" || fail "the .deb's licence text differs from LICENSE"
# The .tar.gz takes nothing outside its installation.
if grep -q "^[^/]*/usr/" "$out/tgz.list"; then fail "$tgz has files outside opt/tarnwick"; fi

# A plain `cmake --install` stays inside its prefix: the .deb's files in /usr
# are only for the .deb.
DESTDIR="$out/install-dest" cmake --install build/native --prefix /prefix >/dev/null
outside=$(cd "$out/install-dest" && find . -mindepth 1 ! -path ./prefix ! -path './prefix/*')
[ -z "$outside" ] || fail "cmake --install writes outside its prefix: $outside"
[ -f "$out/install-dest/prefix/share/man/man1/tarnwick.1.gz" ] || fail "cmake --install has no manual pages"

# The commands on the PATH: tarnwickmerge only where the build has it.
commands="tarnwick tarnwickutf8 tarnwick-git-setup"
if grep -q "^/usr/lib/tarnwick/bin/tarnwickmerge\$" "$out/deb.list"; then
  commands="$commands tarnwickmerge"
fi
for c in $commands; do
  grep -q "^/usr/bin/$c\$" "$out/deb.list" || fail "/usr/bin/$c missing from $deb"
  grep -q "^/usr/share/man/man1/$c.1.gz\$" "$out/deb.list" || fail "manual page of $c missing from $deb"
done
for f in /usr/share/doc/tarnwick/copyright /usr/share/doc/tarnwick/changelog.gz; do
  grep -q "^$f\$" "$out/deb.list" || fail "$f missing from $deb"
done

gui=$(sed -n 's/^TW_BUILD_GUI:BOOL=//p' build/native/CMakeCache.txt)
if [ "$gui" = ON ]; then
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "$depends" | grep -q libqt6widgets6 || fail "$deb does not depend on Qt: $depends"
fi

# lintian: no errors (warnings are printed for a person to read).
lintian --fail-on error --tag-display-limit 0 "$deb" >"$out/lintian.txt" 2>"$out/lintian.err" || {
  cat "$out/lintian.txt" "$out/lintian.err" >&2; fail "lintian reports errors on $deb"; }
[ -s "$out/lintian.txt" ] && sed 's/^/lintian: /' "$out/lintian.txt"

# Install the .deb into a scratch root with its own package database. Its
# dependencies are the machine's, so dpkg is told not to look for them there.
sroot="$out/scratch-root"
mkdir -p "$sroot/var/lib/dpkg/info" "$sroot/var/lib/dpkg/updates" "$sroot/var/log"
: >"$sroot/var/lib/dpkg/status"
dpkg --root="$sroot" --force-depends -i "$deb" >"$out/dpkg-install.log" 2>&1 || {
  cat "$out/dpkg-install.log" >&2; fail "dpkg -i into the scratch root failed"; }
inst="$sroot/usr/lib/tarnwick"
# The installed tarnwickmerge (git starts it once per file) loads no shared
# libgit2, and the package depends on the zlib it does load.
if [ -x "$inst/bin/tarnwickmerge" ]; then
  sh tests/tarnwickmerge/loads_no_libgit2_test.sh "$inst/bin/tarnwickmerge" >/dev/null ||
    fail "the installed tarnwickmerge loads the shared libgit2"
  dpkg-deb -f "$deb" Depends | grep -q zlib1g || fail "$deb does not depend on zlib1g"
fi

files="$out/files"
mkdir -p "$files/tmp"
chmod 700 "$files/tmp"
printf 'a\nb\nc\n' >"$files/base.txt"
printf 'A\nb\nc\n' >"$files/mine.txt"
printf 'a\nb\nC\n' >"$files/theirs.txt"
workdir="$files/tmp/$(id -un).tarnwick"
stop_service() {
  pidfile="$workdir/hollin_service.pid"
  if [ -s "$pidfile" ]; then
    pid=$(cat "$pidfile")
    pkill -KILL -P "$pid" 2>/dev/null || true
    kill -KILL "$pid" 2>/dev/null || true
  fi
}
trap stop_service EXIT

PATH_BEFORE=$PATH
export PATH="$sroot/usr/bin:$PATH"
for c in $commands; do
  [ "$(command -v "$c")" = "$sroot/usr/bin/$c" ] || fail "$c is not found on the PATH of the scratch root"
  [ "$(readlink -f "$sroot/usr/bin/$c")" = "$inst/bin/$c" ] || fail "/usr/bin/$c does not lead to $inst/bin/$c"
  page="$sroot/usr/share/man/man1/$c.1.gz"
  warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page of $c renders with warnings: $warnings"
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "^NAME" || fail "the manual page of $c does not render"
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "^ *$c - " || fail "the manual page of $c is not about $c"
  man -M "$sroot/usr/share/man" -w "$c" >/dev/null 2>&1 || fail "man does not find the page of $c"
done

run() {
  (cd "$files" && TMPDIR="$files/tmp" "$@" $args) || return $?
}
# A compare through the link on the PATH: the Qt client shows its window
# (offscreen) and a scripted close answers it. (Without the Qt client the
# installed program answers every call with a fault, and this fails.)
args="base.txt mine.txt"
run env QT_QPA_PLATFORM=offscreen MARLOW_SCRIPT=close tarnwick || fail "a compare through the PATH ended with $?"
# The service that served it is the installation's, found through the link.
pid=$(cat "$workdir/hollin_service.pid")
[ "$(readlink "/proc/$pid/exe")" = "$inst/bin/hollin_service" ] ||
  fail "the service runs $(readlink "/proc/$pid/exe"), not $inst/bin/hollin_service"
run env QT_QPA_PLATFORM=offscreen MARLOW_SCRIPT=close tarnwickutf8 || fail "tarnwickutf8 through the PATH ended with $?"

# git set-up in one command, against scratch homes; its difftool check uses
# the running service.
sh "$src/packaging/git-setup-test.sh" "$inst/bin" "$files" || fail "git set-up"

# Removal while the user's service (and its graphical client) still run:
# every installed file goes, nothing else is left in the scratch root, and
# the service is not disturbed.
kill -0 "$pid" || fail "the service ended before the removal"
dpkg --root="$sroot" -r tarnwick >"$out/dpkg-remove.log" 2>&1 || {
  cat "$out/dpkg-remove.log" >&2; fail "dpkg -r with the service running failed"; }
left=$(cd "$sroot" && find . -mindepth 1 ! -path './var' ! -path './var/*')
[ -z "$left" ] || fail "dpkg -r left: $left"
kill -0 "$pid" || fail "the removal ended the service"
[ -z "$(dpkg --root="$sroot" -l 2>/dev/null | grep '^.i *tarnwick ')" ] || fail "tarnwick still listed as installed"
# Installed again while the old service still runs from its removed files:
# a compare is served again.
dpkg --root="$sroot" --force-depends -i "$deb" >"$out/dpkg-reinstall.log" 2>&1 || {
  cat "$out/dpkg-reinstall.log" >&2; fail "dpkg -i after the removal failed"; }
args="base.txt mine.txt"
run env QT_QPA_PLATFORM=offscreen MARLOW_SCRIPT=close tarnwick ||
  fail "a compare after reinstalling under the old service ended with $?"
stop_service
export PATH="$PATH_BEFORE"

if [ "$gui" = ON ]; then
  # Without any display the Qt client merges what merges cleanly, without a
  # window: from the unpacked .deb.
  rm -rf "$workdir"
  root="$out/unpacked"
  dpkg -x "$deb" "$root"
  args="-out merged.txt base.txt mine.txt theirs.txt"
  run env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/lib/tarnwick/bin/tarnwick" ||
    fail "a merge from the unpacked .deb ended with $?"
  [ "$(cat "$files/merged.txt")" = "$(printf 'A\nb\nC')" ] || fail "wrong merge: $(cat "$files/merged.txt")"
  stop_service
fi

# The .msi under Wine, in a fresh prefix of our own.
sh "$src/packaging/msi-test.sh" "$msi" "$out/wineprefix" "$files" || fail "Windows installer"

echo "package check: passed ($(basename "$deb"), $(basename "$tgz"), $(basename "$zip"), $(basename "$msi"))"
