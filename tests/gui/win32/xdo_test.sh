#!/bin/bash
# The Windows graphical client driven as a user would, under Wine on a
# private Xvfb display with xdotool: tarnwick.exe from an installation
# (ROOT/bin, with the client in ROOT/Brightdesk) starts the service, which
# starts the client. Checks: a compare is shown and closed (exit 0); the
# panes scroll together; a conflicted merge is settled by keys and saved
# (answered 1, output written); typing in the result and its undo and redo;
# a merge closed unsaved (answered 0, exit -1, output untouched); Linux
# git's mergetool, difftool and difftool -d with tarnwick-git-setup's
# settings, through a `tarnwick` on the PATH that runs tarnwick.exe.
# Screenshots go to SHOTS when given.
# Usage: xdo_test.sh ROOT SCRATCH [SHOTS]      Exit 77: skipped (no Xvfb/xdotool/wine).
set -u
root=$(cd "$1" && pwd) scratch=$2 shots=${3:-}
for tool in Xvfb xdotool wine wineserver import compare; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
rm -rf "$scratch"
mkdir -p "$scratch/files"
scratch=$(cd "$scratch" && pwd)
[ -z "$shots" ] || mkdir -p "$shots"
files=$scratch/files
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# A display of our own: the first free number from 57 on.
display=57
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1600x1000x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=":$display" WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wineboot -i </dev/null >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f </dev/null >/dev/null 2>&1

# Runs tarnwick.exe in the background in $files; its status goes to $files/$1.status.
start_tarnwick() {
  local name=$1
  shift
  rm -f "$files/$name.status"
  (cd "$files" && wine "$root/bin/tarnwick.exe" "$@" </dev/null >"$files/$name.log" 2>&1
   echo $? >"$files/$name.status") &
}
# Waits (up to 60 s) for tarnwick's status and prints it.
wait_status() {
  for _ in $(seq 600); do
    [ -s "$files/$1.status" ] && { cat "$files/$1.status"; return; }
    sleep 0.1
  done
  echo timeout
}
# The id of the visible window whose title starts with $1 (waits up to 60 s).
window() {
  local pattern
  pattern=$(printf '%s' "$1" | sed 's/[][().*+?^$|\\]/\\&/g')
  for _ in $(seq 600); do
    local id
    id=$(xdotool search --onlyvisible --name "^$pattern" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.1
  done
}
keys() {
  local w=$1
  shift
  xdotool windowactivate --sync "$w" >/dev/null 2>&1 || xdotool windowfocus --sync "$w" >/dev/null 2>&1
  for key in "$@"; do
    xdotool key --clearmodifiers "$key"
    sleep 0.3
  done
}
shot() { [ -z "$shots" ] || import -window root "$shots/$1.png"; }

# ---- a compare, shown and closed ------------------------------------------------
printf 'one\ntwo\nthree\n' >"$files/left.txt"
printf 'one\n2wo\nthree\nfour\n' >"$files/right.txt"
start_tarnwick compare left.txt right.txt
w=$(window "Compare - left.txt")
[ -n "$w" ] || fail "no compare window"
sleep 0.5
shot win-compare
[ -z "$w" ] || keys "$w" Escape
status=$(wait_status compare)
[ "$status" = 0 ] || fail "compare closed: tarnwick ended with $status, not 0"

# ---- scrolling together: the line numbers in both gutters stay level ------------------
python3 - "$files" <<'PY'
import sys
a = [f"row {i} text" for i in range(3000)]
b = [s.replace("text", "TEXT") if i % 100 == 5 else s for i, s in enumerate(a)]
open(sys.argv[1] + "/long-a.txt", "w").write("\n".join(a) + "\n")
open(sys.argv[1] + "/long-b.txt", "w").write("\n".join(b) + "\n")
PY
start_tarnwick scroll long-a.txt long-b.txt
w=$(window "Compare - long-a.txt")
if [ -z "$w" ]; then
  fail "no compare window for the long files"
else
  sleep 0.5
  # The gutters: a strip at the left edge of each pane. The panes share the
  # width left of the one scroll bar (16 pixels), 6 pixels apart.
  eval "$(xdotool getwindowgeometry --shell "$w")"
  pane_w=$(((WIDTH - 12 - 16 - 6) / 2))
  gutters() {
    import -window root -crop "30x400+$((X + 6 + 4))+$((Y + 150))" +repage "$scratch/left-$1.png"
    import -window root -crop "40x400+$((X + 6 + pane_w + 6 - 1))+$((Y + 150))" +repage \
      "$scratch/right-$1.png"
  }
  # Equal images; the right one may sit a few pixels off (rounding).
  same() {
    local dx
    for dx in 0 1 2 3 4 5 6 7 8 9 10; do
      convert "$2" -crop "30x400+$dx+0" +repage "$scratch/shifted.png"
      [ "$(compare -metric AE "$1" "$scratch/shifted.png" null: 2>&1)" = 0 ] && return 0
    done
    return 1
  }
  gutters before
  xdotool mousemove "$((X + WIDTH / 4))" "$((Y + 400))" click 1
  keys "$w" Next Next Down
  xdotool click 5 click 5
  sleep 0.5
  gutters after
  shot win-scrolled
  [ "$(compare -metric AE "$scratch/left-before.png" "$scratch/left-after.png" null: 2>&1)" != 0 ] || fail "the left pane did not scroll"
  same "$scratch/left-after.png" "$scratch/right-after.png" ||
    fail "the panes did not scroll together (their gutters differ)"
  keys "$w" ctrl+w
fi
status=$(wait_status scroll)
[ "$status" = 0 ] || fail "long compare closed: tarnwick ended with $status"

# ---- a conflicted merge settled by keys, with typing, undo and redo, saved --------------
printf 'a\nb\nc\nd\ne\nf\ng\nh\n' >"$files/base.txt"
printf 'a\nB-mine\nc\nd\ne\nf\nG-mine\nh\n' >"$files/mine.txt"
printf 'a\nB-theirs\nc\nd\nE-theirs\nf\nG-theirs\nh\n' >"$files/theirs.txt"
rm -f "$files/merged.txt"
start_tarnwick merge -out merged.txt base.txt mine.txt theirs.txt
w=$(window "Merge - base.txt")
if [ -z "$w" ]; then
  fail "no merge window"
else
  sleep 0.5
  shot win-merge
  # Conflict 1: typed, taken back, typed again (the caret starts on its row).
  xdotool windowactivate --sync "$w" >/dev/null 2>&1
  xdotool type --delay 60 "typed"
  keys "$w" ctrl+z
  xdotool type --delay 60 "kept "
  # A character beyond ASCII: xdotool maps a spare key code to it first, so
  # it goes alone and slowly.
  sleep 0.3
  xdotool type --delay 300 "ü"
  sleep 0.3
  keys "$w" ctrl+z ctrl+y
  # Conflict 2: theirs; saved, then closed.
  keys "$w" F8 ctrl+3
  shot win-merge-settled
  keys "$w" ctrl+s ctrl+w
fi
status=$(wait_status merge)
[ "$status" = 0 ] || fail "saved merge: tarnwick ended with $status, not 0"
expected=$(printf 'a\nkept \xc3\xbc\nc\nd\nE-theirs\nf\nG-theirs\nh\n')
[ "$(cat "$files/merged.txt" 2>/dev/null)" = "$expected" ] ||
  fail "merged output: $(od -c "$files/merged.txt" 2>&1 | head -5)"

# ---- a merge closed unsaved: answered 0, exit -1, output untouched ------------------
printf 'old output\n' >"$files/kept.txt"
start_tarnwick unsaved -out kept.txt base.txt mine.txt theirs.txt
w=$(window "Merge - base.txt")
if [ -z "$w" ]; then
  fail "no merge window for the unsaved merge"
else
  sleep 0.5
  keys "$w" ctrl+2 ctrl+w
  # The question about the unsaved merge: OK closes without saving.
  q=$(window "Unsaved merge")
  [ -n "$q" ] || fail "no question before closing an unsaved merge"
  shot win-merge-unsaved-question
  [ -z "$q" ] || keys "$q" Return
fi
status=$(wait_status unsaved)
[ "$status" = 255 ] || fail "merge closed unsaved: tarnwick ended with $status, not 255 (-1)"
[ "$(cat "$files/kept.txt")" = "old output" ] || fail "the unsaved merge changed its output"

# ---- git: mergetool, difftool and difftool -d with tarnwick-git-setup's settings ----------
if command -v git >/dev/null; then
  # The commands git's settings name, beside the set-up script: `tarnwick`
  # runs tarnwick.exe under Wine. Git for Windows hands a Windows program
  # paths with a drive (C:/Users/...); Linux git hands /tmp/...: such paths
  # are turned into Wine's Z:\... form on the way, as a Windows program
  # reads a path that starts with / as relative.
  tools=$scratch/tools
  mkdir -p "$tools"
  for program in tarnwick tarnwickutf8; do
    cat >"$tools/$program" <<WRAPPER
#!/bin/sh
for arg; do
  case \$arg in /*) arg=\$(winepath -w "\$arg" 2>/dev/null) ;; esac
  set -- "\$@" "\$arg"
  shift
done
exec wine "$root/bin/$program.exe" "\$@" </dev/null
WRAPPER
  done
  cp "$(dirname "$0")/../../../packaging/tarnwick-git-setup" "$tools/"
  chmod +x "$tools"/*
  export HOME=$scratch/home GIT_CONFIG_NOSYSTEM=1
  mkdir -p "$HOME"
  git config --global user.name test && git config --global user.email test@example.invalid
  "$tools/tarnwick-git-setup" >"$scratch/git-setup.log" 2>&1 || fail "tarnwick-git-setup: $(cat "$scratch/git-setup.log")"
  repo=$scratch/repo
  git init -q -b main "$repo"
  (cd "$repo" && printf 'a\nb\nc\n' >f.txt && git add f.txt && git commit -qm base &&
   git checkout -qb other && printf 'a\nB-other\nc\n' >f.txt && git commit -qam other &&
   git checkout -q main && printf 'a\nB-main\nc\n' >f.txt && git commit -qam main &&
   git merge -q other >/dev/null 2>&1)
  # git runs the tool in the background of this script; its status to a file.
  run_git() {
    local name=$1
    shift
    rm -f "$files/$name.status"
    (cd "$repo" && PATH="$tools:$PATH" git "$@" </dev/null >"$files/$name.log" 2>&1
     echo $? >"$files/$name.status") &
  }
  # mergetool: contributors base, local, remote; the remote side taken by keys.
  run_git mergetool mergetool
  w=$(window "Merge - f.txt (base)")
  if [ -z "$w" ]; then
    fail "git mergetool opened no merge window: $(cat "$files/mergetool.log")"
  else
    sleep 0.5
    shot win-git-mergetool
    keys "$w" ctrl+3 ctrl+s ctrl+w
  fi
  status=$(wait_status mergetool)
  [ "$status" = 0 ] || fail "git mergetool ended with $status: $(cat "$files/mergetool.log")"
  [ "$(cat "$repo/f.txt")" = "$(printf 'a\nB-other\nc')" ] || fail "git mergetool result: $(cat "$repo/f.txt")"
  [ -z "$(cd "$repo" && git diff --name-only --diff-filter=U)" ] || fail "git mergetool left f.txt unmerged"
  (cd "$repo" && git commit -qm merged)

  # difftool: the compare of the file before and after the last commit.
  (cd "$repo" && printf 'a\nB-changed\nc\n' >f.txt)
  run_git difftool difftool -y
  w=$(window "Compare - f.txt (old)")
  [ -n "$w" ] || fail "git difftool opened no compare window: $(cat "$files/difftool.log")"
  [ -z "$w" ] || keys "$w" Escape
  status=$(wait_status difftool)
  [ "$status" = 0 ] || fail "git difftool ended with $status: $(cat "$files/difftool.log")"

  # difftool -d: the two directories, the file's compare opened from them.
  run_git dirdiff difftool -d -y
  w=$(window "Compare directories - ")
  if [ -z "$w" ]; then
    fail "git difftool -d opened no directory window: $(cat "$files/dirdiff.log")"
  else
    sleep 0.5
    keys "$w" Return
    c=$(window "Compare - old/f.txt")
    [ -n "$c" ] || fail "the directory window opened no compare of f.txt"
    shot win-git-dirdiff
    [ -z "$c" ] || keys "$c" Escape
    keys "$w" Escape
  fi
  status=$(wait_status dirdiff)
  [ "$status" = 0 ] || fail "git difftool -d ended with $status: $(cat "$files/dirdiff.log")"
else
  echo "git is missing: git mergetool and difftool not checked"
fi

[ "$failures" = 0 ] || { echo "xdo test: $failures failures"; exit 1; }
echo "xdo test: passed"
