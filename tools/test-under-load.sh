#!/bin/sh
# Runs the native, thread-sanitizer and Windows (under Wine) test suites N
# times in a row while busy loops keep every core busy, and reports how often
# each test passed and failed.
#
# Usage: tools/test-under-load.sh N
#   TW_LOAD_PRESETS  the presets to run (default: "native tsan windows")
#   TW_LOAD_JOBS     busy loops (default: the number of cores)
# Each preset is configured and built first (an up-to-date build is quick).
# Results: build/under-load/<time>/ holds each run's log and JUnit file,
# per-test.txt (every test: runs, passes, failures) and summary.txt (each
# suite's totals and every test that failed at least once). Exits 0 when
# every run of every test passed.
set -u
if [ $# -ne 1 ] || ! [ "$1" -ge 1 ] 2>/dev/null; then
  echo "usage: $0 N   (N >= 1 runs of each suite)" >&2
  exit 2
fi
runs=$1
cd "$(dirname "$0")/.."
root=$(pwd)
presets=${TW_LOAD_PRESETS:-native tsan windows}
jobs=${TW_LOAD_JOBS:-$(nproc)}
out=$root/build/under-load/$(date -u +%Y%m%d-%H%M%S)
mkdir -p "$out"

: "${CMAKE_C_COMPILER_LAUNCHER=ccache}" "${CMAKE_CXX_COMPILER_LAUNCHER=ccache}"
export CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER

status=0
for preset in $presets; do
  echo "== build: $preset"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j2; } >"$out/build-$preset.log" 2>&1; then
    echo "build of $preset failed: see $out/build-$preset.log" >&2
    status=1
  fi
done
[ $status -eq 0 ] || exit 1

# The load: plain busy loops, started here and ended here by their ids,
# whatever way the script ends.
load_pids=""
stop_load() {
  for pid in $load_pids; do kill "$pid" 2>/dev/null; done
  for pid in $load_pids; do wait "$pid" 2>/dev/null; done
  load_pids=""
}
trap 'stop_load' EXIT
trap 'stop_load; exit 130' INT
trap 'stop_load; exit 143' TERM
trap 'stop_load; exit 129' HUP
i=0
while [ $i -lt "$jobs" ]; do
  sh -c 'while :; do :; done' &
  load_pids="$load_pids $!"
  i=$((i + 1))
done
echo "== load: $jobs busy loops (pids$load_pids)"

run=1
while [ $run -le "$runs" ]; do
  for preset in $presets; do
    echo "== run $run/$runs: $preset"
    start=$(date +%s)
    ctest --preset "$preset" --output-junit "$out/$preset-$run.xml" >"$out/$preset-$run.log" 2>&1
    rc=$?
    echo "   exit $rc after $(( $(date +%s) - start )) s; $(grep -E 'tests passed|tests failed' "$out/$preset-$run.log" | tail -1)"
    [ $rc -eq 0 ] || status=1
  done
  run=$((run + 1))
done
stop_load

# Per test: passes and failures over all runs, from the JUnit files.
python3 - "$out" $presets >"$out/summary.txt" <<'EOF'
import glob, os, sys
import xml.etree.ElementTree as ET
out, presets = sys.argv[1], sys.argv[2:]
every = open(os.path.join(out, "per-test.txt"), "w")
line = "%-10s %6s %6s %6s  %s"
every.write(line % ("suite", "runs", "pass", "fail", "test") + "\n")
print(line % ("suite", "runs", "pass", "fail", "test"))
total_fail = 0
for preset in presets:
    counts = {}
    files = sorted(glob.glob(os.path.join(out, preset + "-*.xml")))
    for path in files:
        try:
            cases = ET.parse(path).getroot().iter("testcase")
        except ET.ParseError:
            print("%-10s  unreadable %s" % (preset, path))
            total_fail += 1
            continue
        for case in cases:
            if case.get("status") in ("disabled", "notrun") and case.find("failure") is None:
                continue
            passed, failed = counts.get(case.get("name"), (0, 0))
            if case.find("failure") is not None or case.get("status") == "fail":
                failed += 1
            else:
                passed += 1
            counts[case.get("name")] = (passed, failed)
    for name in sorted(counts):
        passed, failed = counts[name]
        every.write(line % (preset, passed + failed, passed, failed, name) + "\n")
    bad = {name: c for name, c in counts.items() if c[1] > 0}
    print("%-10s %6d %6d %6d  (all %d tests)" % (preset, len(files), sum(c[0] for c in counts.values()),
                                                sum(c[1] for c in counts.values()), len(counts)))
    for name in sorted(bad):
        passed, failed = bad[name]
        print("%-10s %6d %6d %6d  %s" % (preset, passed + failed, passed, failed, name))
    total_fail += sum(c[1] for c in bad.values())
print("failures: %d" % total_fail)
EOF
cat "$out/summary.txt"
echo "logs: $out"
exit $status
