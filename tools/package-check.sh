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

gui=$(sed -n 's/^TW_BUILD_GUI:BOOL=//p' build/native/CMakeCache.txt)
if [ "$gui" = ON ]; then
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "$depends" | grep -q libqt6widgets6 || fail "$deb does not depend on Qt: $depends"
fi

# Unpack the .deb into a folder and run the whole chain from it.
root="$out/unpacked"
dpkg -x "$deb" "$root"
files="$out/files"
mkdir -p "$files/tmp"
chmod 700 "$files/tmp"
printf 'a\nb\nc\n' >"$files/base.txt"
printf 'A\nb\nc\n' >"$files/mine.txt"
printf 'a\nb\nC\n' >"$files/theirs.txt"
stop_service() {
  pidfile="$files/tmp/$(id -un).tarnwick/hollin_service.pid"
  if [ -s "$pidfile" ]; then
    pid=$(cat "$pidfile")
    pkill -KILL -P "$pid" 2>/dev/null || true
    kill -KILL "$pid" 2>/dev/null || true
  fi
}
trap stop_service EXIT
run() {
  (cd "$files" && TMPDIR="$files/tmp" "$@" "$root/opt/tarnwick/bin/tarnwick" $args) || return $?
}
# A compare: the Qt client shows its window (offscreen) and a scripted close
# answers it; the stand-in answers at once.
args="base.txt mine.txt"
run env QT_QPA_PLATFORM=offscreen MARLOW_SCRIPT=close || fail "a compare from the unpacked .deb ended with $?"
if [ "$gui" = ON ]; then
  stop_service
  rm -rf "$files/tmp/$(id -un).tarnwick"
  # Without any display the Qt client merges what merges cleanly, without a window.
  args="-out merged.txt base.txt mine.txt theirs.txt"
  run env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM || fail "a merge from the unpacked .deb ended with $?"
  [ "$(cat "$files/merged.txt")" = "$(printf 'A\nb\nC')" ] || fail "wrong merge: $(cat "$files/merged.txt")"
fi
echo "package check: passed ($(basename "$deb"), $(basename "$tgz"), $(basename "$zip"))"
