#!/bin/sh
# An installation whose graphical client is the no-client program, run
# through the whole chain (client, a service started for it, the program):
# a merge and a compare end with a failure, the merge's output is not
# written, and marlow.log and tarnwick.log in the work directory say why.
# Usage: noclient-test.sh TARNWICK HOLLIN_SERVICE MARLOW SCRATCH
set -eu
fail() { echo "no-client test: $*" >&2; exit 1; }
scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch/root/bin" "$scratch/root/Brightdesk" "$scratch/tmp"
chmod 700 "$scratch/tmp"
# Copies, not links: the programs find their installation from their own path.
cp "$1" "$2" "$scratch/root/bin/"
cp "$3" "$scratch/root/Brightdesk/marlow"
cd "$scratch"
printf 'a\nb\nc\n' >base.txt
printf 'A\nb\nc\n' >mine.txt
printf 'a\nb\nC\n' >theirs.txt
export TMPDIR="$scratch/tmp"
work="$TMPDIR/$(id -un).tarnwick"
# The service and its graphical client are ended by their ids.
stop() {
  if [ -s "$work/hollin_service.pid" ]; then
    pid=$(cat "$work/hollin_service.pid")
    kill -KILL $(pgrep -P "$pid") "$pid" 2>/dev/null || true
  fi
}
trap stop EXIT
reason='this installation has no graphical client: nothing was compared or merged'

status=0
root/bin/tarnwick -out merged.txt base.txt mine.txt theirs.txt >merge.out 2>&1 || status=$?
[ "$status" = 255 ] || fail "the merge ended with $status, not -1: $(cat merge.out)"
[ ! -e merged.txt ] || fail "the merge wrote merged.txt"
grep -qxF "RequestHandler.CompareMerge: answered with a fault: $reason" "$work/marlow.log" ||
  fail "marlow.log does not give the reason of the merge: $(cat "$work/marlow.log")"
grep -qxF "The graphical client refused the call: $reason" "$work/tarnwick.log" ||
  fail "tarnwick.log does not give the reason of the merge: $(cat "$work/tarnwick.log")"

# The same running service and program answer the next call alike.
status=0
root/bin/tarnwick base.txt mine.txt >compare.out 2>&1 || status=$?
[ "$status" = 255 ] || fail "the compare ended with $status, not -1: $(cat compare.out)"
grep -qxF "RequestHandler.Compare: answered with a fault: $reason" "$work/marlow.log" ||
  fail "marlow.log does not give the reason of the compare: $(cat "$work/marlow.log")"
echo "no-client test: passed"
