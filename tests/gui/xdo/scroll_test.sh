#!/bin/bash
# Drives the real windows on a private Xvfb display with synthetic keyboard
# and mouse input (xdotool, through the XTEST extension, as a user's devices
# would), and checks from what the window host reports that every pane, and
# the merged result, moves together.
#
#   scroll_test.sh HOST
#
# Skips (exit 77) with the reason when Xvfb or xdotool is missing. Ends
# only what it started, by process id.
set -u
host=$1
for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (tools/install-deps.sh native installs it)"
    exit 77
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/xdoscroll.XXXXXX")
xvfb_pid=""
host_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "last report: ${last:-none}"
  exit 1
}

# Xvfb picks a free display itself and names it on the pipe.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
read -r -t 60 number <"$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$number" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
export XDG_CONFIG_HOME="$work/config"

lines() { for i in $(seq 1 "$1"); do echo "$2 $i"; done; }

# start KIND ARGS...: the host on the display; its window found by its pid.
start() {
  mkfifo "$work/out.$1"
  "$host" "$@" >"$work/out.$1" 2>"$work/host.log" &
  host_pid=$!
  exec 4<"$work/out.$1"
  ready=""
  while [ "${ready%% *}" != ready ]; do
    read -r -t 60 ready <&4 || fail "the window host did not start: $(cat "$work/host.log")"
  done
  read -r -a centres <<<"${ready#ready }"
  window=$(xdotool search --sync --onlyvisible --pid "$host_pid" 2>/dev/null | head -n 1)
  [ -n "$window" ] || fail "no window of process $host_pid"
  xdotool windowfocus --sync "$window"
  last=""
}
stop() {
  kill "$host_pid" 2>/dev/null
  wait "$host_pid" 2>/dev/null
  host_pid=""
  exec 4<&-
}

# expect WHAT AWK-CONDITION: reads reports until one meets the condition
# ($2.. are the tops; named fields are found by the helper v()).
expect() {
  local what=$1 condition=$2 line
  while read -r -t 60 line <&4; do
    last=$line
    if echo "$line" | awk -v OFS=' ' "function v(name,  i) { for (i = 1; i < NF; ++i) if (\$i == name) return \$(i + 1); return -1 }
                                      { exit !($condition) }"; then
      echo "ok: $what ($line)"
      return 0
    fi
  done
  fail "$what"
}

# at PANE: moves the pointer to the centre of pane PANE (0-based).
at() { xdotool mousemove --window "$window" "${centres[$((2 * $1))]}" "${centres[$((2 * $1 + 1))]}"; }

# The comparison: two texts of 400 lines with a few differences.
lines 400 "line" >"$work/left"
lines 400 "line" | sed -e 's/^line 150$/line 150 changed/' -e 's/^line 300$/line 300 changed/' >"$work/right"
start compare "$work/left" "$work/right"
expect "opens with the panes level" '$2 == $3'
at 0
xdotool click 1
xdotool key ctrl+Home
expect "Ctrl+Home in the left pane: both at the top" '$2 == 0 && $3 == 0'
xdotool key Next
expect "PageDown in the left pane moves both" '$2 > 0 && $2 == $3'
xdotool key Next
expect "a second PageDown" '$2 > 30 && $2 == $3'
xdotool key ctrl+End
expect "Ctrl+End: both at the end" '$2 == v("max") && $3 == $2'
xdotool key Prior
expect "PageUp" '$2 < v("max") && $2 == $3'
at 1
xdotool key ctrl+Home
expect "back to the top" '$2 == 0 && $3 == 0'
xdotool click 5 click 5 click 5
expect "the wheel over the right pane moves both" '$2 > 0 && $2 == $3'
xdotool keydown ctrl click 4 keyup ctrl
expect "Ctrl+wheel zooms both alike" 'v("zoom") == 1 && $0 ~ /fonts same/ && $2 == $3'
xdotool key ctrl+0
expect "Ctrl+0 back to the start size" 'v("zoom") == 0 && $0 ~ /fonts same/'
xdotool key F8
expect "F8 goes to the second difference in both" '$2 > 200 && $2 == $3'
stop

# The merge: the result follows the panes and they it.
lines 400 "row" >"$work/base"
lines 400 "row" | sed -e 's/^row 100$/row 100 one/' -e 's/^row 250$/row 250 one/' >"$work/one"
lines 400 "row" | sed -e 's/^row 100$/row 100 other/' -e 's/^row 250$/row 250 other/' >"$work/other"
start merge "$work/out" "$work/base" "$work/one" "$work/other"
expect "opens with the panes level" '$2 == $3 && $3 == $4'
at 0
xdotool click 1
xdotool key ctrl+Home
expect "Ctrl+Home: panes and result at the top" '$2 == 0 && $4 == 0 && v("result") == 0'
xdotool key Next
expect "PageDown in the base pane moves every pane and the result" '$2 > 0 && $2 == $3 && $3 == $4 && v("result") == $2'
paged=$(echo "$last" | awk '{ print $2 }')
at 3
xdotool click 5 click 5
expect "the wheel over the result moves the panes" 'v("result") == $2 && $2 == $4 && $2 > '"$paged"
xdotool keydown ctrl click 4 keyup ctrl
expect "Ctrl+wheel over the result zooms all" 'v("zoom") == 1 && $0 ~ /fonts same/'
# Typing in the conflict editor, a take by key, and undo and redo by key:
# the undo of the take brings the typed text back.
at 4
xdotool click 1
xdotool type mine
expect "typed text settles the conflict" 'v("editor") == "mine" && v("open") == 1'
xdotool key ctrl+3
expect "Ctrl+3 takes the other side" 'v("editor") ~ /other$/ && v("open") == 1'
xdotool key ctrl+z
expect "Ctrl+Z brings the typed text back" 'v("editor") == "mine" && v("open") == 1'
xdotool key ctrl+z
expect "Ctrl+Z again: unsettled" 'v("editor") == "-" && v("open") == 2'
xdotool key ctrl+shift+z
expect "Ctrl+Shift+Z: the typed text again" 'v("editor") == "mine" && v("open") == 1'
# Typing in the merged result itself: a click on the other conflict's row
# there, keys typed and Enter, then undo and redo by key.
xdotool key ctrl+F8
# Its row shows its first suggestion (one side's line), greyed, unsettled.
expect "Ctrl+F8 goes to the conflict left" 'v("current") == 1 && v("row") == "row_250_one" && v("open") == 1'
read -r x y <<<"$(echo "$last" | awk '{ for (i = 1; i < NF; ++i) if ($i == "at") print $(i + 1), $(i + 2) }')"
xdotool mousemove --window "$window" "$x" "$y" click 1
xdotool type ab
xdotool key Return
xdotool type cd
expect "typed in the result: the conflict settled by hand" 'v("open") == 0 && v("row") == "ab" && v("editor") == "ab_cd"'
xdotool key ctrl+z
expect "Ctrl+Z in the result: unsettled again" 'v("open") == 1 && v("row") == "row_250_one" && v("current") == 1'
xdotool key ctrl+y
expect "Ctrl+Y: the typed lines again" 'v("open") == 0 && v("editor") == "ab_cd"'
stop
echo "PASS"
