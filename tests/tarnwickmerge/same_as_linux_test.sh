#!/bin/sh
# tarnwickmerge.exe under Wine against the Linux build's tarnwickmerge on the
# merge corpus: for every case, with LF and with CRLF line ends, and with and
# without the rules, both give the same bytes (the merged file, and what -p
# prints) and the same exit status. With CRLF files and no rules both must
# also give what `git merge-file` gives, when git is there.
# Usage: same_as_linux_test.sh WINE_RUN TARNWICKMERGE_EXE LINUX_TARNWICKMERGE CASES
set -u
wine=$1 exe=$2 linux=$3 cases=$4
[ -x "$linux" ] || { echo "SKIP: no Linux build of tarnwickmerge at $linux"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
compared=0

# One merge by both programs; OPTIONS... are the program's options.
compare() {
  label=$1
  shift
  cp "$dir/in/current" "$dir/linux"
  cp "$dir/in/current" "$dir/win"
  "$linux" "$@" "$dir/linux" "$dir/in/base" "$dir/in/other" >"$dir/linux.stdout" 2>/dev/null
  linux_status=$?
  # Linux paths reach the Windows program through Wine's Z: drive.
  "$wine" "$exe" "$@" "Z:$dir/win" "Z:$dir/in/base" "Z:$dir/in/other" \
    >"$dir/win.stdout" 2>"$dir/win.stderr" </dev/null
  win_status=$?
  compared=$((compared + 1))
  if [ "$linux_status" = "$win_status" ] && cmp -s "$dir/linux" "$dir/win" &&
    cmp -s "$dir/linux.stdout" "$dir/win.stdout"; then
    return
  fi
  # Seen under heavy load and never again on rerun (the merge itself does
  # nothing that depends on time or load; Wine once ended the program with
  # status 1): the run under Wine is made once more, and a difference that
  # does not come back is reported, with what it was, but not counted; one
  # that does fails.
  echo "WARNING $label: once, exit status $win_status under Wine ($linux_status on Linux)," \
    "$(cmp "$dir/linux" "$dir/win" 2>&1)" "$(cmp "$dir/linux.stdout" "$dir/win.stdout" 2>&1)" \
    "$(head -c 300 "$dir/win.stderr")"
  cp "$dir/in/current" "$dir/win"
  "$wine" "$exe" "$@" "Z:$dir/win" "Z:$dir/in/base" "Z:$dir/in/other" \
    >"$dir/win.stdout" 2>"$dir/win.stderr" </dev/null
  win_status=$?
  if [ "$linux_status" != "$win_status" ]; then
    echo "FAIL $label: exit status $win_status under Wine, $linux_status on Linux:" \
      "$(head -c 300 "$dir/win.stderr")"
    failures=$((failures + 1))
  elif ! cmp -s "$dir/linux" "$dir/win" || ! cmp -s "$dir/linux.stdout" "$dir/win.stdout"; then
    echo "FAIL $label: the merged bytes differ"
    failures=$((failures + 1))
  fi
}

for case_dir in "$cases"/*/; do
  name=$(basename "$case_dir")
  for ends in lf crlf; do
    rm -rf "$dir/in"
    mkdir "$dir/in"
    for f in base current other; do
      if [ $ends = lf ]; then
        cp "$case_dir/$f" "$dir/in/$f"
      else
        sed 's/\r$//; s/$/\r/' "$case_dir/$f" >"$dir/in/$f"
      fi
    done
    compare "$name/$ends" -L ours -L base -L theirs
    # Labels given: by default they are the file names, which differ.
    compare "$name/$ends/diff3/stdout" -p --diff3 --rules none -L ours -L base -L theirs
    compare "$name/$ends/rules" -p --rules all -L ours -L base -L theirs
    if [ $ends = crlf ] && command -v git >/dev/null 2>&1; then
      cp "$dir/in/current" "$dir/git"
      git merge-file -p -L ours -L base -L theirs "$dir/git" "$dir/in/base" "$dir/in/other" \
        >"$dir/git.stdout" 2>/dev/null
      git_status=$?
      "$wine" "$exe" -p --rules none -L ours -L base -L theirs "Z:$dir/in/current" \
        "Z:$dir/in/base" "Z:$dir/in/other" >"$dir/win.stdout" 2>/dev/null </dev/null
      win_status=$?
      compared=$((compared + 1))
      if [ "$git_status" != "$win_status" ] || ! cmp -s "$dir/git.stdout" "$dir/win.stdout"; then
        echo "FAIL $name/crlf/git: not what git merge-file gives ($win_status, git $git_status)"
        failures=$((failures + 1))
      fi
    fi
  done
done
echo "$compared merges compared, $failures differ"
[ "$compared" -gt 100 ] || { echo "FAIL: too few merges compared"; exit 1; }
[ "$failures" -eq 0 ]
