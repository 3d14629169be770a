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
#
#   tools/gui-screenshots.sh --windows [outdir] [builddir]
#
# takes the same shots of the native Windows client (builddir defaults to
# build/windows; its gui-root holds tarnwick.exe and marlow.exe) under Wine,
# on a private Xvfb display in a Wine prefix of its own, each window driven
# with xdotool and taken with ImageMagick's import; the PNGs are named win-*.
set -eu
cd "$(dirname "$0")/.."
windows=
if [ "${1:-}" = --windows ]; then
  windows=1
  shift
  TW_SHOTS_INNER=windows
fi
outdir=${1:-build/screenshots}
build=${2:-build/native}
[ -z "$windows" ] || build=${2:-build/windows}
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
if [ -n "$windows" ]; then
  if [ ! -f "$root/bin/tarnwick.exe" ] || [ ! -f "$root/Brightdesk/marlow.exe" ]; then
    echo "error: $root is missing; build with: cmake --preset windows && cmake --build build/windows --target gui_root" >&2
    exit 1
  fi
elif [ ! -x "$root/bin/tarnwick" ] || [ ! -x "$root/Brightdesk/marlow" ]; then
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
# A third directory, for a comparison of three: app.conf as mine, and
# without the file the second one added.
cp -R "$files/new" "$files/other"
cp "$files/mine.txt" "$files/other/app.conf"
rm "$files/other/src/added.txt"
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
# Long lines, one of them longer on one side, wrapped (the preference).
long='This sentence is long enough to need more than one line of a pane at the size the window opens with, so that it wraps.'
printf 'short line\n%s\nthe same\n%s Twice.\nlast\n' "$long" "$long" >"$files/long-old.txt"
printf 'short line, changed\n%s It got longer still: wrapped on one more line than the other side.\nthe same\n%s Twice.\nlast\n' \
  "$long" "$long" >"$files/long-new.txt"
printf '[view]\nwrap_lines=true\n' >"$files/settings-compare-wrapped"

status=0

# The Windows client: each shot is one tarnwick.exe run whose window is
# taken once it shows, after the keys given, and then closed.
if [ -n "$windows" ]; then
  display=90
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 "${TW_SHOTS_SCREEN:-1366x768}x24" -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=":$display" WINEPREFIX="$files/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  end_windows() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$files"
  }
  trap end_windows EXIT
  trap 'exit 1' INT TERM
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot -i </dev/null >/dev/null 2>&1
  # win_shot NAME TITLE "KEYS" "CLOSE KEYS" ARGS...: KEYS before the shot
  # ("type:TEXT" types TEXT), CLOSE KEYS after it.
  win_shot() {
    name=$1 title=$2 before=$3 after=$4
    shift 4
    # The window of the shot before has gone first (closing takes a moment).
    for _ in $(seq 100); do
      [ -z "$(xdotool search --onlyvisible --name . 2>/dev/null)" ] && break
      sleep 0.1
    done
    (cd "$files" && wine "$root/bin/tarnwick.exe" "$@" </dev/null >"$files/$name.out" 2>&1) &
    run=$!
    window=""
    for _ in $(seq 600); do
      window=$(xdotool search --onlyvisible --name "^$title" 2>/dev/null | head -1)
      [ -n "$window" ] && break
      sleep 0.1
    done
    if [ -z "$window" ]; then
      echo "$name: no window titled $title" >&2
      kill "$run" 2>/dev/null || true
      return
    fi
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
    sleep 0.5
    for key in $before; do
      case $key in
        type:*) xdotool type --delay 50 "$(echo "${key#type:}" | tr _ ' ')" ;;
        *) xdotool key --clearmodifiers "$key" ;;
      esac
      sleep 0.3
    done
    sleep 0.3
    import -window root "$outdir/$name.png"
    for key in $after; do
      xdotool key --clearmodifiers "$key"
      sleep 0.5
    done
    # A window that does not close is shown and its run ended.
    for _ in $(seq 300); do kill -0 "$run" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$run" 2>/dev/null; then
      import -window root "$outdir/$name-not-closed.png"
      echo "$name: the window did not close (see $name-not-closed.png)" >&2
      kill "$run" 2>/dev/null || true
      status=1
    fi
    echo "$name: taken" >&2
  }
  win_shot win-compare-2way "Compare - base" "" Escape -fname base.txt -fname mine.txt base.txt mine.txt
  win_shot win-compare-3way "Compare - base" F8 Escape \
    -fname base.txt -fname mine.txt -fname theirs.txt base.txt mine.txt theirs.txt
  win_shot win-merge-before "Merge - base" "" ctrl+w \
    -fname base -fname mine -fname theirs -out merged.txt base.txt mine.txt theirs.txt
  win_shot win-merge-after-one "Merge - base" "ctrl+2 F8" "ctrl+w Return" \
    -fname base -fname mine -fname theirs -out merged.txt base.txt mine.txt theirs.txt
  win_shot win-merge-typed "Merge - base" "type:host_=_10.0.0.1" "ctrl+w Return" \
    -fname base -fname mine -fname theirs -out merged.txt base.txt mine.txt theirs.txt
  win_shot win-compare-line-ends "Compare - base" "" Escape base.txt crlf.txt
  win_shot win-unreadable-file "Cannot compare" "" Escape base.txt unreadable.txt
  win_shot win-compare-directories "Compare directories" "" Escape old new
  win_shot win-compare-directories-3 "Compare directories" "" Escape old new other
  for png in win-compare-2way win-compare-3way win-merge-before win-merge-after-one win-merge-typed \
    win-compare-line-ends win-unreadable-file win-compare-directories win-compare-directories-3; do
    if [ -s "$outdir/$png.png" ]; then
      echo "$outdir/$png.png"
    else
      echo "missing: $outdir/$png.png" >&2
      status=1
    fi
  done
  exit $status
fi

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
shot directories-3 "shot $outdir/compare-directories-3.png; close" old new other
shot compare-wrapped "shot $outdir/compare-wrapped.png; close" long-old.txt long-new.txt

for png in compare-2way compare-3way merge-before merge-after-one merge-undo merge-taken merge-line-ends \
  merge-typed merge-menu merge-block-one merge-blocks merge-whitespace \
  compare-line-ends unreadable-file compare-directories compare-directories-3 compare-wrapped; do
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
