#!/bin/sh
# tarnwickmerge as git's merge driver in a scratch repository: a file it
# settles (word-level changes on neighbouring lines) leaves git a clean merge; a file
# both sides changed in the same word stops the merge with that file
# unmerged and the driver's markers in it.
set -eu
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

git init -q "$dir/repo"
cd "$dir/repo"
git config user.email test@example.com
git config user.name Test
git config commit.gpgsign false
git config merge.tarnwick.name "tarnwickmerge"
git config merge.tarnwick.driver "\"$tool\" -q --rules words --marker-size=%L -L ours -L base -L theirs %A %O %B # %P"
printf '* merge=tarnwick\n' > .gitattributes
printf 'first line\nwidth = 10\nheight = 20\nlast line\n' > settled.txt
printf 'alpha\nversion = 1\nomega\n' > conflicted.txt
git add -A && git commit -q -m base
git checkout -q -b side
printf 'first line\nwidth = 10\nheight = 25\nlast line\n' > settled.txt
git commit -q -am side
git checkout -q -
printf 'first line\nwidth = 12\nheight = 20\nlast line\n' > settled.txt
git commit -q -am main

# git alone leaves the changes of neighbouring lines a conflict; the driver settles them.
if git merge -q --no-edit side >/dev/null 2>&1; then :; else fail "the settled merge stopped"; fi
[ "$(git rev-list --count --merges HEAD)" = 1 ] || fail "no merge commit was recorded"
expected='first line
width = 12
height = 25
last line'
[ "$(cat settled.txt)" = "$expected" ] || fail "settled.txt: $(cat settled.txt)"

# Both sides change the same word: the merge stops, our markers in the file.
git checkout -q -b side2
printf 'alpha\nversion = 3\nomega\n' > conflicted.txt
git commit -q -am side2
git checkout -q -
printf 'alpha\nversion = 2\nomega\n' > conflicted.txt
git commit -q -am main2
if git merge -q --no-edit side2 >/dev/null 2>&1; then fail "the conflicting merge was recorded"; fi
git ls-files -u | grep -q conflicted.txt || fail "conflicted.txt is not unmerged"
expected='alpha
<<<<<<< ours
version = 2
=======
version = 3
>>>>>>> theirs
omega'
[ "$(cat conflicted.txt)" = "$expected" ] || fail "conflicted.txt: $(cat conflicted.txt)"
echo ok
