#!/bin/sh
# Screenshots of the graphical client's windows, taken through the whole
# chain: tarnwick from <build>/gui-root/bin starts hollin_service from cold,
# which starts the Qt marlow; marlow's MARLOW_SCRIPT hook writes each window
# as a PNG and closes it.
#
#   tools/gui-screenshots.sh [outdir] [builddir]
#
# outdir defaults to build/screenshots; builddir (configured with
# -DTW_BUILD_GUI=ON and built) to build/native, or else the most recently
# built build/*/gui-root. Runs under `xvfb-run -a` for real X11
# windows; without xvfb-run it falls back to Qt's offscreen platform.
# The screen is 1366x768, the smallest the windows are made for, unless
# TW_SHOTS_SCREEN gives another (e.g. 1920x1080).
set -eu
cd "$(dirname "$0")/.."
outdir=${1:-build/screenshots}
build=${2:-build/native}
if [ $# -lt 2 ] && [ ! -x "$build/gui-root/Brightdesk/marlow" ]; then
  newest=$(ls -td build/*/gui-root/Brightdesk/marlow 2>/dev/null | head -n 1)
  [ -n "$newest" ] && build=${newest%/gui-root/Brightdesk/marlow}
fi

if [ -z "${TW_SHOTS_INNER:-}" ]; then
  if command -v xvfb-run >/dev/null 2>&1; then
    TW_SHOTS_INNER=xvfb exec xvfb-run -a -s "-screen 0 ${TW_SHOTS_SCREEN:-1366x768}x24" "$0" "$outdir" "$build"
  fi
  echo "note: xvfb-run not found; using QT_QPA_PLATFORM=offscreen (fonts and frames may differ)" >&2
  export QT_QPA_PLATFORM=offscreen TW_SHOTS_INNER=offscreen
elif [ "$TW_SHOTS_INNER" = xvfb ]; then
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY || true
fi

root="$build/gui-root"
if [ ! -x "$root/bin/tarnwick" ] || [ ! -x "$root/Brightdesk/marlow" ]; then
  echo "error: $root is missing; build with: cmake --preset native -B $build -DTW_BUILD_GUI=ON && cmake --build $build -j2" >&2
  exit 1
fi
root=$(cd "$root" && pwd -P)
mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd -P)

files=$(mktemp -d "${TMPDIR:-/tmp}/twshots.XXXXXX")
trap 'rm -rf "$files"' EXIT
cat >"$files/base.txt" <<'EOF'
[server]
host = localhost
port = 8080
threads = 4

[log]
level = info
file = /var/log/app.log
rotate = daily
EOF
cat >"$files/mine.txt" <<'EOF'
[server]
host = 0.0.0.0
port = 8080
threads = 8

[log]
level = debug
file = /var/log/app.log
rotate = daily
EOF
cat >"$files/theirs.txt" <<'EOF'
[server]
host = localhost
port = 9090
threads = 16

[log]
level = warning
file = /var/log/app.log
rotate = weekly
keep = 12
EOF
sed 's/$/\r/' "$files/mine.txt" >"$files/crlf.txt"   # mine, with CRLF line ends
mkdir -p "$files/old/src" "$files/new/src"   # two directories to compare
cp "$files/base.txt" "$files/old/app.conf"
cp "$files/theirs.txt" "$files/new/app.conf"
cp "$files/base.txt" "$files/old/src/same.txt"
cp "$files/base.txt" "$files/new/src/same.txt"
echo "gone" >"$files/old/src/removed.txt"
echo "new" >"$files/new/src/added.txt"
# A symbolic link to a file elsewhere, as git difftool -d makes for the
# working tree's files: listed under its own name.
cp "$files/base.txt" "$files/old/linked.conf"
ln -s "$files/mine.txt" "$files/new/linked.conf"
mkdir "$files/unreadable.txt"   # a directory: the client can open it, marlow cannot read it
# A conflict of two blocks: both sides changed three lines and agree on the middle one.
printf 'def connect(host, port):\n    timeout = 10\n    retries = 3\n    return open(host, port)\n' >"$files/blocks-base.py"
printf 'def connect(host, port, tls=False):\n    timeout = 30\n    retries = 5\n    return open(host, port)\n' >"$files/blocks-mine.py"
printf 'def connect(host, port, proxy=None):\n    timeout = 30\n    retries = 3\n    return open(host, port)\n' >"$files/blocks-theirs.py"
# One side only re-indented, the other changed a line: no conflict with
# whitespace ignored (the preference, in the shot's own settings).
printf 'if ready:\n    start()\n    wait()\nstop()\n' >"$files/ws-base.py"
printf 'if ready:\n        start()\n        wait()\nstop()\n' >"$files/ws-mine.py"
printf 'if ready:\n    start(fast=True)\n    wait()\nstop()\n' >"$files/ws-theirs.py"
printf '[compare]\nignore_whitespace=true\n' >"$files/settings-merge-whitespace"

status=0
# shot NAME SCRIPT ARGS...: one run of tarnwick in a fresh temporary directory,
# so a service and marlow of its own that read SCRIPT; both are ended after.
shot() {
  name=$1 script=$2
  shift 2
  tmp="$files/tmp-$name"
  mkdir -m 700 "$tmp"
  if [ -f "$files/settings-$name" ]; then   # preferences of this shot's own
    mkdir -p "$tmp/.config/Brightdesk"
    cp "$files/settings-$name" "$tmp/.config/Brightdesk/marlow.conf"
  fi
  rc=0
  (cd "$files" && HOME="$tmp" TMPDIR="$tmp" MARLOW_SCRIPT="$script" MARLOW_SCRIPT_LOG="$files/answers" \
     "$root/bin/tarnwick" "$@") >"$files/$name.out" 2>&1 || rc=$?
  wd="$tmp/$(id -un).tarnwick"
  if [ -s "$wd/hollin_service.pid" ]; then
    service=$(cat "$wd/hollin_service.pid")
    for pid in $(pgrep -s "$service" || true); do kill "$pid" 2>/dev/null || true; done
    pidwait -s "$service" 2>/dev/null || true
  fi
  echo "$name: tarnwick exit status $rc" >&2
}

shot compare-2way "shot $outdir/compare-2way.png; close" \
  -fname "base.txt" -fname "mine.txt" base.txt mine.txt
shot compare-3way "next; shot $outdir/compare-3way.png; close" \
  -fname "base.txt" -fname "mine.txt" -fname "theirs.txt" base.txt mine.txt theirs.txt
shot merge "shot $outdir/merge-before.png; take 1; shot $outdir/merge-after-one.png; close" \
  -fname "base" -fname "mine" -fname "theirs" -out merged.txt base.txt mine.txt theirs.txt
# Typed text, a take, then undo: the typed text is back; then the other
# conflicts taken, each pane showing which side was taken.
shot merge-editor "edit host = 127.0.0.1; take 2; undo; shot $outdir/merge-undo.png; next; take 2; next; take-all; shot $outdir/merge-taken.png; close" \
  -fname "base" -fname "mine" -fname "theirs" -out merged.txt base.txt mine.txt theirs.txt
# One side turned every line end into CRLF: the rows are marked.
shot merge-line-ends "shot $outdir/merge-line-ends.png; close" \
  -fname "base" -fname "crlf" -fname "theirs" -out merged2.txt base.txt crlf.txt theirs.txt
# Typed in the merged result itself, on the first conflict's row; then the
# result's menu on the next conflict.
shot merge-typed "type host = 10.0.0.1; shot $outdir/merge-typed.png; next; menu; shot $outdir/merge-menu.png; close" \
  -fname "base" -fname "mine" -fname "theirs" -out merged3.txt base.txt mine.txt theirs.txt
# One block of a conflict from each side.
shot merge-blocks "block 1; shot $outdir/merge-block-one.png; block 2; shot $outdir/merge-blocks.png; close" \
  -fname "base" -fname "mine" -fname "theirs" -out merged4.py blocks-base.py blocks-mine.py blocks-theirs.py
shot merge-whitespace "shot $outdir/merge-whitespace.png; close" \
  -fname "base" -fname "mine (re-indented)" -fname "theirs" -out merged5.py ws-base.py ws-mine.py ws-theirs.py
shot compare-line-ends "shot $outdir/compare-line-ends.png; close" base.txt crlf.txt
shot unreadable "shot $outdir/unreadable-file.png; close" base.txt unreadable.txt
shot directories "shot $outdir/compare-directories.png; close" old new

for png in compare-2way compare-3way merge-before merge-after-one merge-undo merge-taken merge-line-ends \
  merge-typed merge-menu merge-block-one merge-blocks merge-whitespace \
  compare-line-ends unreadable-file compare-directories; do
  if [ -s "$outdir/$png.png" ]; then
    echo "$outdir/$png.png"
  else
    echo "missing: $outdir/$png.png" >&2
    status=1
  fi
done
echo "window answers:" >&2
cat "$files/answers" >&2 2>/dev/null || true
exit $status
