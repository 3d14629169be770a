#!/bin/sh
# Checks the Windows installer under Wine, in a fresh prefix of its own:
# a silent installation into Program Files in the layout the programs expect,
# bin on the user's PATH, a compare found on that PATH and served through the
# installed service by the installed graphical client in a window (on a
# private Xvfb display, closed with xdotool: exit 0), a merge that merges
# cleanly written by it (MARLOW_AUTOMATIC: without a window, exit 0, the
# output as git merges it), tarnwickmerge found on the PATH, and a silent
# removal that leaves no file, no PATH entry and no uninstall entry.
# Usage: msi-test.sh MSI PREFIX FILES   (FILES holds base.txt, mine.txt, theirs.txt,
#                                        mine and theirs each changing base apart)
set -eu
msi=$1 prefix=$2
files=$(cd "$3" && pwd)
fail() { echo "msi test: $*" >&2; exit 1; }
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Only this prefix's server is ever ended.
end_prefix() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
}
trap end_prefix EXIT
start_prefix() {
  # Null stdio: a wine call that starts the server hands its streams to it.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot -i </dev/null >/dev/null 2>&1
}
w() { wine "$@" </dev/null; }
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh all installs it)"
done
# A display of our own for the graphical client: the first free number from 70 on.
display=70
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
end_all() {
  end_prefix
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
}
trap end_all EXIT
export DISPLAY=":$display"
# Calls that merge cleanly are written without a window.
export MARLOW_AUTOMATIC=1
rm -rf "$prefix"
mkdir -p "$prefix"
start_prefix
# A crash fails instead of ending in the debugger with status 0.
w reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1

user_path() {
  w reg query 'HKCU\Environment' /v PATH 2>/dev/null | tr -d '\r' | sed -n 's/^ *PATH *REG_[A-Z_]* *//p'
}
uninstall_entry() {
  w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    grep -c 'DisplayName *REG_SZ *tarnwick$' || true
}
# A PATH entry of the user's own must survive both steps.
w reg add 'HKCU\Environment' /v PATH /t REG_SZ /d 'C:\users\mine' /f >/dev/null 2>&1
winmsi=$(winepath -w "$msi" 2>/dev/null | tr -d '\r')
w msiexec /i "$winmsi" /qn >/dev/null 2>&1 || fail "silent installation ended with $?"

pf="$prefix/drive_c/Program Files/tarnwick"
for f in bin/tarnwick.exe bin/hollin_service.exe bin/tarnwickutf8.exe bin/fernask.exe \
         bin/tarnwickmerge.exe bin/tarnwick-git-setup Brightdesk/marlow.exe LICENSE.txt; do
  [ -f "$pf/$f" ] || fail "$f not installed under Program Files\\tarnwick"
done
path=$(user_path)
[ "$path" = 'C:\users\mine;C:\Program Files\tarnwick\bin' ] || fail "user PATH after installation: $path"
[ "$(uninstall_entry)" = 1 ] || fail "no uninstall entry after installation"

# A new process finds tarnwick on the PATH built from the registry. A
# compare is shown in a window by the installed graphical client; closing it
# ends tarnwick with 0.
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
rm -f "$files/compare.status"
(cd "$files" && w cmd /c tarnwick base.txt mine.txt >"$files/msi-compare.log" 2>&1
 echo $? >"$files/compare.status") &
window=""
for _ in $(seq 600); do
  window=$(xdotool search --onlyvisible --name '^Compare - base.txt' 2>/dev/null | head -1)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no compare window appeared: $(cat "$files/msi-compare.log")"
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
xdotool key --clearmodifiers Escape
for _ in $(seq 300); do [ -s "$files/compare.status" ] && break; sleep 0.1; done
[ "$(cat "$files/compare.status" 2>/dev/null)" = 0 ] ||
  fail "the compare ended with $(cat "$files/compare.status" 2>/dev/null), not 0"
wd="$prefix/drive_c/users/$(id -un)/Temp/$(id -un).tarnwick"
tr -d '\r' <"$wd/marlow.log" 2>/dev/null | grep -q '^compare window usable after' ||
  fail "the installed client showed no compare window: $(cat "$wd/marlow.log" 2>&1)"
tr -d '\r' <"$wd/marlow.log" 2>/dev/null |
  grep -qxF "RequestHandler.Compare of base.txt, mine.txt: answered 1" ||
  fail "marlow.log does not show the compare answered: $(cat "$wd/marlow.log" 2>&1)"
grep -qi 'Program Files\\tarnwick\\Brightdesk' "$wd/hollin_service.log" ||
  fail "the installed service did not start the installed client"

# A merge that merges cleanly is written by the installed client and ends
# with 0, the output as git merges it.
rm -f "$files/merged.txt"
(cd "$files" && w cmd /c tarnwick -out merged.txt base.txt mine.txt theirs.txt >"$files/msi-run.log" 2>&1) ||
  fail "the merge ended with $?: $(cat "$files/msi-run.log")"
git merge-file -p "$files/mine.txt" "$files/base.txt" "$files/theirs.txt" >"$files/expected.txt" ||
  fail "git merge-file found a conflict in the test's files"
cmp -s "$files/merged.txt" "$files/expected.txt" ||
  fail "the installed client's merge differs from git's: $(cat "$files/merged.txt" 2>&1)"

# The three-way merge found on the same PATH merges the clean case in place,
# as git merge-file does, with the result's bytes as on Linux.
cp "$files/mine.txt" "$files/current.txt"
(cd "$files" && w cmd /c tarnwickmerge current.txt base.txt theirs.txt >"$files/merge-tool.log" 2>&1) ||
  fail "tarnwickmerge on the PATH ended with $?: $(cat "$files/merge-tool.log")"
git merge-file -p "$files/mine.txt" "$files/base.txt" "$files/theirs.txt" >"$files/expected.txt" ||
  fail "git merge-file found a conflict in the test's files"
cmp -s "$files/current.txt" "$files/expected.txt" || fail "tarnwickmerge merged otherwise than git"

# The service and client hold their programs open: end them (they are this
# prefix's only processes) before the removal, as a user would close them.
end_prefix
start_prefix
w msiexec /x "$winmsi" /qn >/dev/null 2>&1 || fail "silent removal ended with $?"
[ ! -e "$pf" ] || fail "left after removal: $(cd "$prefix/drive_c/Program Files" && find tarnwick)"
path=$(user_path)
case "$path" in
  *tarnwick*) fail "user PATH after removal: $path" ;;
esac
# Wine's removal keeps the separator before the part it takes out.
[ "${path%;}" = 'C:\users\mine' ] || fail "the user's own PATH changed: $path"
[ "$(uninstall_entry)" = 0 ] || fail "uninstall entry left after removal"
end_all
trap - EXIT
rm -rf "$prefix"
echo "msi test: passed"
