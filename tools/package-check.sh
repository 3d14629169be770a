#!/bin/sh
# Builds the packages of both platforms and checks them: each holds the three
# programs, the prompt tool and the graphical client in their places, and a
# compare runs from the unpacked Linux package through the whole chain.
# Expects both presets to be built (tools/test-all.sh does that first).
set -eu
cd "$(dirname "$0")/.."
out="$PWD/build/packages"
rm -rf "$out"
mkdir -p "$out"
(cd build/native && cpack -B "$out/linux" >/dev/null)
(cd build/windows && cpack -B "$out/windows" >/dev/null)
fail() { echo "package check: $*" >&2; exit 1; }

deb=$(ls "$out"/linux/*.deb)
tgz=$(ls "$out"/linux/*.tar.gz)
zip=$(ls "$out"/windows/*.zip)
dpkg-deb -c "$deb" >"$out/deb.list"
tar tzf "$tgz" >"$out/tgz.list"
cmake -E tar tf "$zip" >"$out/zip.list"
for f in bin/tarnwick bin/hollin_service bin/tarnwickutf8 bin/fernask Brightdesk/marlow; do
  grep -q "/opt/tarnwick/$f\$" "$out/deb.list" || fail "$f missing from $deb"
  grep -q "/$f\$" "$out/tgz.list" || fail "$f missing from $tgz"
  grep -q "/$f.exe\$" "$out/zip.list" || fail "$f.exe missing from $zip"
done

# Unpack the .deb into a folder and compare two files with it.
root="$out/unpacked"
dpkg -x "$deb" "$root"
files="$out/files"
mkdir -p "$files/tmp"
chmod 700 "$files/tmp"
printf 'a\n' >"$files/a.txt"
printf 'b\n' >"$files/b.txt"
status=0
(cd "$files" && TMPDIR="$files/tmp" "$root/opt/tarnwick/bin/tarnwick" a.txt b.txt) || status=$?
pidfile="$files/tmp/$(id -un).tarnwick/hollin_service.pid"
if [ -s "$pidfile" ]; then
  pid=$(cat "$pidfile")
  pkill -KILL -P "$pid" 2>/dev/null || true
  kill -KILL "$pid" 2>/dev/null || true
fi
[ "$status" = 0 ] || fail "tarnwick from the unpacked .deb ended with $status"
echo "package check: passed ($(basename "$deb"), $(basename "$tgz"), $(basename "$zip"))"
