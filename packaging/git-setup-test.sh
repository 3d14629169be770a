#!/bin/sh
# Checks tarnwick-git-setup against scratch homes: the README's settings on a
# fresh configuration, nothing changed by a second run, a user's own tool
# kept (and replaced only with --force), also one chosen in an included
# file, --remove taking out what is ours and only that, a stale definition
# of ours replaced, full paths when the PATH does not find our programs, the
# merge driver when tarnwickmerge is installed, and a real git difftool,
# of files and of directories, through the tool it wrote (served by the
# user's running service), with the labels it gives.
# Usage: git-setup-test.sh BIN FILES
#   BIN    the installation's bin directory; the PATH finds its programs
#   FILES  a folder with base.txt and mine.txt; FILES/tmp is the TMPDIR of
#          the running service
set -eu
bin=$1 files=$2
fail() { echo "git set-up: $*" >&2; exit 1; }
setup=$(command -v tarnwick-git-setup) || fail "tarnwick-git-setup is not on the PATH"
scratch="$files/git-setup"
rm -rf "$scratch"
mkdir -p "$scratch"
fresh_home() {
  HOME="$scratch/$1"
  mkdir -p "$HOME"
  export HOME XDG_CONFIG_HOME="$HOME/.config" GIT_CONFIG_NOSYSTEM=1
}
get() { git config --global --get "$1" || true; }
expect() {
  [ "$(get "$1")" = "$2" ] || fail "$1 is '$(get "$1")', expected '$2' ($HOME)"
}
merge_cmd='-fname "$MERGED (base)" -fname "$MERGED (local)" -fname "$MERGED (remote)" -out "$MERGED" -base "$BASE" "$LOCAL" "$REMOTE"'
diff_cmd='-fname "${MERGED:-old}${MERGED:+ (old)}" -fname "${MERGED:-new}${MERGED:+ (new)}" "$LOCAL" "$REMOTE"'

# A fresh configuration gets the README's settings, the programs by their
# bare names (the PATH finds them), for both tools.
fresh_home fresh
tarnwick-git-setup >"$scratch/fresh.out"
for t in tarnwick tarnwickutf8; do
  expect "mergetool.$t.cmd" "$t $merge_cmd"
  expect "mergetool.$t.trustExitCode" true
  expect "difftool.$t.cmd" "$t $diff_cmd"
done
expect merge.tool tarnwick
expect diff.tool tarnwick
expect difftool.trustExitCode true
if [ -x "$bin/tarnwickmerge" ]; then
  expect merge.tarnwick.driver "tarnwickmerge -q --marker-size=%L -L ours -L base -L theirs %A %O %B"
else
  [ -z "$(get merge.tarnwick.driver)" ] || fail "a merge driver without tarnwickmerge"
fi
# Idempotent: a second run changes nothing and says nothing was replaced.
cp "$HOME/.gitconfig" "$scratch/first.gitconfig"
tarnwick-git-setup >"$scratch/again.out"
cmp -s "$HOME/.gitconfig" "$scratch/first.gitconfig" || fail "a second run changed the configuration"
if grep -q replaced "$scratch/again.out"; then fail "a second run replaced: $(cat "$scratch/again.out")"; fi
# --dry-run writes nothing.
fresh_home dry
tarnwick-git-setup --dry-run >"$scratch/dry.out"
[ ! -e "$HOME/.gitconfig" ] || fail "--dry-run wrote $HOME/.gitconfig"
grep -q "git config --global merge.tool 'tarnwick'" "$scratch/dry.out" || fail "--dry-run printed: $(cat "$scratch/dry.out")"
# --remove after a fresh set-up leaves nothing of ours, not even the
# difftool.trustExitCode it set.
fresh_home removed
tarnwick-git-setup >/dev/null
tarnwick-git-setup --remove >/dev/null
left=$(git config --global --list 2>/dev/null || true)
[ -z "$left" ] || fail "--remove after a fresh set-up left: $left"
# A difftool.trustExitCode of the user's own, even the value we would set,
# stays; so does ours once the user changed it.
fresh_home own-trust
git config --global difftool.trustExitCode true
tarnwick-git-setup >/dev/null
tarnwick-git-setup --remove >/dev/null
expect difftool.trustExitCode true
fresh_home changed-trust
tarnwick-git-setup >/dev/null
git config --global difftool.trustExitCode false
tarnwick-git-setup --remove >/dev/null
expect difftool.trustExitCode false

# A user's own tool stays chosen and untouched, as does their own
# difftool.trustExitCode; ours is defined beside it.
fresh_home other
git config --global merge.tool mymerge
git config --global mergetool.mymerge.cmd 'mymerge "$LOCAL" "$REMOTE"'
git config --global diff.tool mydiff
git config --global difftool.trustExitCode false
tarnwick-git-setup >"$scratch/other.out"
expect merge.tool mymerge
expect mergetool.mymerge.cmd 'mymerge "$LOCAL" "$REMOTE"'
expect diff.tool mydiff
expect difftool.trustExitCode false
expect mergetool.tarnwick.cmd "tarnwick $merge_cmd"
grep -q "merge.tool stays mymerge" "$scratch/other.out" || fail "no word on the kept merge.tool: $(cat "$scratch/other.out")"
# --force chooses ours, and still leaves the other tool's definition alone.
tarnwick-git-setup --force --utf8 >/dev/null
expect merge.tool tarnwickutf8
expect diff.tool tarnwickutf8
expect mergetool.mymerge.cmd 'mymerge "$LOCAL" "$REMOTE"'
# --remove takes out what is ours and nothing of the user's.
git config --global diff.tool mydiff
tarnwick-git-setup --remove >/dev/null
if git config --global --list | grep -q tarnwick; then
  fail "--remove left: $(git config --global --list | grep tarnwick)"
fi
expect merge.tool ""
expect diff.tool mydiff
expect mergetool.mymerge.cmd 'mymerge "$LOCAL" "$REMOTE"'
expect difftool.trustExitCode false

# Tools chosen in a file the configuration includes are the user's too: they
# stay chosen, and nothing is set over them in the including file.
fresh_home included
printf '[merge]\n\ttool = mymerge\n[diff]\n\ttool = mydiff\n[difftool]\n\ttrustExitCode = false\n' \
  >"$HOME/tools.gitconfig"
git config --global include.path "$HOME/tools.gitconfig"
tarnwick-git-setup >"$scratch/included.out"
expect merge.tool ""
expect diff.tool ""
expect difftool.trustExitCode ""
for choice in merge.tool:mymerge diff.tool:mydiff; do
  now=$(git config --global --includes --get "${choice%:*}" || true)
  [ "$now" = "${choice#*:}" ] || fail "${choice%:*} is now '$now'"
done
grep -q "merge.tool stays mymerge" "$scratch/included.out" ||
  fail "no word on the included merge.tool: $(cat "$scratch/included.out")"

# A stale definition of our own tool is replaced, and said so.
fresh_home stale
git config --global mergetool.tarnwick.cmd '/old/bin/tarnwick "$LOCAL"'
tarnwick-git-setup >"$scratch/stale.out"
expect mergetool.tarnwick.cmd "tarnwick $merge_cmd"
grep -q 'mergetool.tarnwick.cmd replaced (was: /old/bin/tarnwick "$LOCAL")' "$scratch/stale.out" ||
  fail "no word on the replaced tool: $(cat "$scratch/stale.out")"

# Not on the PATH: the tools name the programs by their full paths, quoted.
fresh_home nopath
(PATH=/usr/bin:/bin; "$setup" >/dev/null)
expect mergetool.tarnwick.cmd "'$bin/tarnwick' $merge_cmd"
expect difftool.tarnwickutf8.cmd "'$bin/tarnwickutf8' $diff_cmd"

# --file writes there only; a wrong argument is refused.
fresh_home file
tarnwick-git-setup --file "$scratch/a file.config" >/dev/null
[ "$(git config --file "$scratch/a file.config" merge.tool)" = tarnwick ] || fail "--file did not write there"
[ ! -e "$HOME/.gitconfig" ] || fail "--file also wrote the global configuration"
status=0
tarnwick-git-setup --bogus >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || fail "a wrong argument ended with $status"

# The tool it wrote works: git difftool compares through tarnwick and the
# user's running service (whose client answers each compare at once).
fresh_home difftool
tarnwick-git-setup >/dev/null
repo="$scratch/repo"
git init -q "$repo"
cp "$files/base.txt" "$repo/f.txt"
git -C "$repo" add f.txt
git -C "$repo" -c user.name=t -c user.email=t@t commit -qm base
cp "$files/mine.txt" "$repo/f.txt"
(cd "$repo" && TMPDIR="$files/tmp" git difftool -y >"$scratch/difftool.out" 2>&1) ||
  fail "git difftool through tarnwick failed: $(cat "$scratch/difftool.out")"
# git difftool -d compares two directories and gives no file name: they are
# labelled "old" and "new". The graphical client logs each call's labels.
(cd "$repo" && TMPDIR="$files/tmp" git difftool -d -y >"$scratch/dirdiff.out" 2>&1) ||
  fail "git difftool -d through tarnwick failed: $(cat "$scratch/dirdiff.out")"
calls="$files/tmp/$(id -un).tarnwick/marlow.log"
if [ -f "$calls" ]; then
  grep -q '^RequestHandler.Compare of f.txt (old), f.txt (new): answered' "$calls" ||
    fail "git difftool labels: $(grep RequestHandler "$calls")"
  grep -q '^RequestHandler.Compare of old, new: answered' "$calls" ||
    fail "git difftool -d labels: $(grep RequestHandler "$calls")"
else
  echo "git set-up: labels not checked: no $calls (a graphical client that keeps no log)"
fi

# The merge driver it wrote works inside git merge: a file both sides
# changed on the same line stops the merge, with the driver's labels on the
# conflict (git's own driver would label it HEAD and the branch).
if [ -x "$bin/tarnwickmerge" ]; then
  echo '* merge=tarnwick' >"$repo/.gitattributes"
  git -C "$repo" checkout -q -- f.txt
  g() { git -C "$repo" -c user.name=t -c user.email=t@t "$@"; }
  g add .gitattributes
  g commit -qm attributes
  g checkout -q -b other
  printf 'x\nb\nc\n' >"$repo/f.txt"
  g commit -qam other
  g checkout -q -
  printf 'y\nb\nc\n' >"$repo/f.txt"
  g commit -qam current
  if g merge -q other >"$scratch/merge.out" 2>&1; then fail "a conflicting merge through the driver succeeded"; fi
  grep -q '^<<<<<<< ours' "$repo/f.txt" && grep -q '^>>>>>>> theirs' "$repo/f.txt" ||
    fail "the conflict was not written by the driver: $(cat "$repo/f.txt")"
fi
echo "git set-up: passed"
