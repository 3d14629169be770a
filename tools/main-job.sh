#!/bin/sh
# The main job: builds the programs and the Qt graphical client (only what
# the installation takes: no tests, no benchmarks; tools/test-all.sh builds
# everything), installs them into a local prefix, and runs a real merge
# through the whole chain (client, relay service, graphical client), starting
# from no service running. With a display the merge window opens for the
# user to check and save; without one the graphical client merges
# automatically (the texts merge cleanly).
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh main
cmake --preset native >/dev/null
cmake --build --preset native --target installation -j2
prefix="$PWD/build/main-job/install"
work="$PWD/build/main-job/files"
rm -rf "$prefix" "$work"
cmake --install build/native --prefix "$prefix" >/dev/null
mkdir -p "$work/tmp"
chmod 700 "$work/tmp"
printf 'one\ntwo\nthree\nfour\nfive\n' >"$work/base.txt"
printf 'one\ntwo, mine\nthree\nfour\nfive\n' >"$work/mine.txt"
printf 'one\ntwo\nthree\nfour, theirs\nfive\n' >"$work/theirs.txt"
export TMPDIR="$work/tmp"   # a private work directory, so nothing else is disturbed
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "(a display is present: the merge window opens; save it to finish)"
  export MARLOW_AUTOMATIC=0
else
  echo "(no display: the graphical client merges without a window)"
  unset QT_QPA_PLATFORM || true
fi
cd "$work"
echo "\$ tarnwick -out merged.txt base.txt mine.txt theirs.txt"
status=0
"$prefix/bin/tarnwick" -out merged.txt base.txt mine.txt theirs.txt || status=$?
echo "tarnwick exit status: $status"
wd="$TMPDIR/$(id -un).tarnwick"
echo "-- $wd/hollin_service.log"; cat "$wd/hollin_service.log" 2>/dev/null || true
echo "-- $wd/tarnwick.log"; cat "$wd/tarnwick.log" 2>/dev/null || true
echo "-- merged.txt"; cat merged.txt 2>/dev/null || echo "(not written)"
# The service lives until its graphical client ends; end both.
if [ -s "$wd/hollin_service.pid" ]; then
  pkill -P "$(cat "$wd/hollin_service.pid")" 2>/dev/null || true
  kill "$(cat "$wd/hollin_service.pid")" 2>/dev/null || true
fi
exit $status
