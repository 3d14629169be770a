#!/bin/sh
# Builds the benchmarks and runs them all: the round trip, cold start and
# their floors natively and (the Windows build) under Wine, then the load
# benchmark (requests per second, relay of large requests, service memory).
# Writes one Markdown report, with the machine's facts, to standard output
# and to docs/performance.md (or $BENCH_DOC). Progress goes to standard error.
#
# Usage: tools/bench.sh [--no-wine]
# On a quiet 2-core machine: about 70 s from empty build directories (with
# the Wine prefix to create), about 35 s after that. Exits non-zero when a
# benchmark reported failed runs (their tables are still written).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

wine=yes
for arg in "$@"; do
  case "$arg" in
    --no-wine) wine=no ;;
    *) echo "usage: $0 [--no-wine]" >&2; exit 2 ;;
  esac
done

# Run counts: enough for stable medians, small enough for the time budget.
warm_runs=500
shell_runs=300
cold_runs=40
wine_warm_runs=100
wine_cold_runs=10
per_level=2000
relay_runs=30
wine_relay_runs=5
after=10000

native=build/bench-native
win=build/bench-win
doc=${BENCH_DOC:-$here/docs/performance.md}
work=$(mktemp -d)
prefix=""
# A Wine prefix that is up when the script ends early is taken down.
# shellcheck disable=SC2317 # called by the trap
cleanup() {
  [ -z "$prefix" ] || sh tools/wine-prefix.sh down "$prefix" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
status=0

note() { echo "bench: $*" >&2; }

# The share of the machine's CPU time that other work used during one second
# in which this script does nothing, in percent.
other_work() {
  a=$(head -n 1 /proc/stat)
  sleep 1
  b=$(head -n 1 /proc/stat)
  printf '%s\n%s\n' "$a" "$b" | awk '
    { total = 0; for (i = 2; i <= NF; i++) total += $i; idle = $5 + $6 }
    NR == 1 { t0 = total; i0 = idle }
    NR == 2 { d = total - t0; busy = 0; if (d > 0) busy = 100 * (d - (idle - i0)) / d
              printf "%.0f", busy }'
}

# Runs a benchmark program under Wine with its table into $work/NAME.md;
# prints "ok" or "failed". Output goes to a file, never a pipe: a Wine process
# that started a long-lived child would hold a pipe open until that child ends.
under_wine() {
  name=$1
  shift
  if "$win/wine-run.sh" "$@" >"$work/$name.md" 2>"$work/$name.err" </dev/null; then
    echo ok
  else
    cat "$work/$name.err" >&2
    echo failed
  fi
}

if [ "$wine" = yes ]; then
  sh tools/install-deps.sh all >&2
else
  sh tools/install-deps.sh native >&2
fi

note "building natively in $native"
cmake --preset native -B "$native" -DTW_BUILD_TESTS=OFF >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$native" --target roundtrip shell_roundtrip relay noop_static noop_setlocale load gui_engine gui_windows -j2 >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; exit 1; }

cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$native/CMakeCache.txt")
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$native/CMakeCache.txt")
flags=$(sed -n 's/^CMAKE_CXX_FLAGS_RELWITHDEBINFO:[A-Z]*=//p' "$native/CMakeCache.txt")
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
hypervisor=$(lscpu 2>/dev/null | sed -n 's/^Hypervisor vendor:[[:space:]]*//p')

note "round trip and cold start, native"
busy_native=$(other_work)
"$native/bench/roundtrip" "$warm_runs" "$cold_runs" >"$work/roundtrip.md" || status=1
note "the warm round trip as a shell starts it, native"
busy_shell=$(other_work)
"$native/bench/shell_roundtrip" "$shell_runs" >"$work/shell.md" || status=1
note "relay of large calls, native"
busy_relay=$(other_work)
"$native/bench/relay" "$relay_runs" >"$work/relay.md" || status=1

wine_result=""
win_cxx="MinGW-w64"
busy_wine=-
busy_wine_relay=-
busy_windows=-
wine_relay_result=""
if [ "$wine" = yes ]; then
  note "building for Windows in $win"
  if cmake --preset windows -B "$win" -DTW_BUILD_TESTS=OFF >"$work/configure-win.log" 2>&1 &&
     cmake --build "$win" --target roundtrip relay noop_static -j2 >"$work/build-win.log" 2>&1; then
    # The toolchain file names the compiler; the cache does not keep it.
    win_cxx=$(x86_64-w64-mingw32-g++-posix --version 2>/dev/null | head -n 1)
    prefix="$here/$win/wineprefix"
    note "round trip and cold start under Wine (prefix $prefix)"
    if sh tools/wine-prefix.sh up "$prefix" >&2; then
      busy_wine=$(other_work)
      wine_result=$(under_wine wine "$win/bench/roundtrip.exe" "$wine_warm_runs" "$wine_cold_runs")
      [ "$wine_result" = ok ] || status=1
      note "relay of large calls under Wine"
      busy_wine_relay=$(other_work)
      wine_relay_result=$(under_wine wine-relay "$win/bench/relay.exe" "$wine_relay_runs")
      [ "$wine_relay_result" = ok ] || status=1
      sh tools/wine-prefix.sh down "$prefix" >&2
      prefix=""
      tr -d '\r' <"$work/wine.md" >"$work/wine.tmp" && mv "$work/wine.tmp" "$work/wine.md"
      tr -d '\r' <"$work/wine-relay.md" >"$work/wine.tmp" && mv "$work/wine.tmp" "$work/wine-relay.md"
    else
      wine_result="prefix"
      prefix=""
    fi
  else
    cat "$work/configure-win.log" "$work/build-win.log" >&2
    wine_result="build"
  fi
fi

note "load: requests per second, relay of large requests, service memory"
busy_load=$(other_work)
"$native/bench/load" "$per_level" "$relay_runs" "$after" >"$work/load.md" || status=1
note "the graphical client's engine on large texts"
busy_engine=$(other_work)
"$native/bench/gui_engine" 200000 9 >"$work/engine.md" || status=1

# The windows, driven on a private Xvfb display (started here, ended by its
# process id); the display number comes back on a pipe once it is ready.
on_display() {
  mkfifo "$work/display"
  Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  number=""
  read -r number <"$work/display" || true
  rc=1
  if [ -n "$number" ]; then
    DISPLAY=":$number" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" "$@"
    rc=$?
  else
    cat "$work/xvfb.log" >&2
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  return $rc
}
note "the graphical client's windows on large files (Xvfb)"
busy_windows=$(other_work)
windows_result=ok
on_display "$native/bench/gui_windows" >"$work/windows.md" 2>"$work/windows.err" ||
  { windows_result=failed; status=1; cat "$work/windows.err" >&2; }
busy_note=""
if [ "$(printf '%s\n' "$busy_native" "$busy_shell" "$busy_relay" "$busy_wine" "$busy_wine_relay" "$busy_load" "$busy_engine" "$busy_windows" | grep -v '^-$' | sort -n |
        tail -n 1)" -gt 20 ]; then
  busy_note="

**Other work kept the machine busy as this run went on**, so its figures
are higher and more spread than on a quiet machine."
fi

# Where a warm run's work goes: instruction counts (callgrind) of one warm
# tarnwick run by step, of our do-nothing process and of the static one, and
# the system calls of a warm run (strace -c). Counts, not times: they do not
# change with the machine's load.
breakdown() {
  command -v valgrind >/dev/null 2>&1 && command -v strace >/dev/null 2>&1 || return 1
  bd="$work/breakdown"
  mkdir -p "$bd/tmp"
  echo one >"$bd/a.txt"
  echo two >"$bd/b.txt"
  bin="$native/root/bin"
  # The first run starts the service; the measured runs are warm.
  TMPDIR="$bd/tmp" MARLOW_STANDIN_MODE=ok "$bin/tarnwick" "$bd/a.txt" "$bd/b.txt" || return 1
  TMPDIR="$bd/tmp" MARLOW_STANDIN_MODE=ok valgrind --tool=callgrind \
    --callgrind-out-file="$bd/client.cg" "$bin/tarnwick" "$bd/a.txt" "$bd/b.txt" 2>/dev/null
  valgrind --tool=callgrind --callgrind-out-file="$bd/fernask.cg" "$bin/fernask" 2>/dev/null
  valgrind --tool=callgrind --callgrind-out-file="$bd/static.cg" "$native/bench/noop_static" 2>/dev/null
  TMPDIR="$bd/tmp" MARLOW_STANDIN_MODE=ok strace -c -o "$bd/strace.txt" "$bin/tarnwick" "$bd/a.txt" "$bd/b.txt"
  # CPU time of the process itself (task-clock, mean of 100 runs): less
  # touched by other work than wall time, which includes waiting for a core.
  cpu_ms() {
    command -v perf >/dev/null 2>&1 || { echo "-"; return; }
    TMPDIR="$bd/tmp" MARLOW_STANDIN_MODE=ok perf stat -r 100 -x, -e task-clock "$@" 2>&1 >/dev/null |
      awk -F, '$3 ~ /task-clock/ { printf "%.2f", $1; exit }'
  }
  cpu_static=$(cpu_ms "$native/bench/noop_static")
  cpu_fernask=$(cpu_ms "$bin/fernask")
  cpu_client=$(cpu_ms "$bin/tarnwick" "$bd/a.txt" "$bd/b.txt")
  pid=$(cat "$bd/tmp/$(id -un).tarnwick/hollin_service.pid" 2>/dev/null || true)
  if [ -n "$pid" ]; then
    children=$(ps -o pid= --ppid "$pid" 2>/dev/null || true)
    # shellcheck disable=SC2086 # one id per word
    kill "$pid" $children 2>/dev/null || true
  fi
  total() { callgrind_annotate "$1" 2>/dev/null | sed -n 's/^ *\([0-9,]*\) (100.0%) *PROGRAM TOTALS.*/\1/p' | tr -d ,; }
  step() {
    callgrind_annotate --inclusive=yes --threshold=100 "$bd/client.cg" 2>/dev/null |
      grep -F "$1" | head -n 1 | sed 's/^ *\([0-9,]*\).*/\1/' | tr -d ,
  }
  all=$(total "$bd/client.cg")
  echo "| Part of one warm \`tarnwick a b\` run | Instructions | Share |"
  echo "|---|---:|---:|"
  for part in "whole run:" "dynamic loader (start-up relocation and symbol lookup):_dl_start" \
              "lazy symbol binding on first calls:_dl_runtime_resolve" \
              "locale (setlocale with the user's locale):setlocale.c:setlocale" \
              "work directory (includes the user lookup):init_work_dir()" \
              "user lookup (getpwuid_r):platform::login_name" \
              "log (emptied):init_log(" \
              "pid file and liveness check:service_running()" \
              "exchange with the service:exchange_with_service("; do
    label=${part%%:*}
    key=${part#*:}
    if [ -z "$key" ]; then n=$all; else n=$(step "$key"); fi
    [ -n "$n" ] || n=0
    echo "| $label | $n | $(awk -v n="$n" -v a="$all" 'BEGIN { if (a > 0) printf "%.0f %%", 100 * n / a }') |"
  done
  echo "| do-nothing process of ours (fernask), whole run | $(total "$bd/fernask.cg") | |"
  echo "| statically linked do-nothing program, whole run | $(total "$bd/static.cg") | |"
  echo
  echo "CPU time of the process itself (perf stat task-clock, mean of 100 runs): warm"
  echo "\`tarnwick a b\` $cpu_client ms, our do-nothing process $cpu_fernask ms, the statically"
  echo "linked do-nothing program $cpu_static ms. The service and the stand-in work on"
  echo "their own cores meanwhile."
  echo
  echo "System calls of one warm run (strace -c), by call:"
  echo
  echo '```'
  awk 'NR > 2 && $0 !~ /^-/ { print $(NF), $4 }' "$bd/strace.txt" | head -n 60
  echo '```'
}
note "where a warm run's work goes (callgrind, strace)"
breakdown >"$work/breakdown.md" 2>"$work/breakdown.err" ||
  echo "Not measured: valgrind or strace is missing, or the service did not start." >"$work/breakdown.md"

# The goals' figures, taken from the benchmarks' own output.
# A cell of a Markdown table row whose first cell starts with $2, in file $1.
cell() {
  [ -f "$1" ] || { echo "-"; return; }
  awk -F'|' -v key="$2" -v col="$3" 'index($2, key) == 2 { gsub(/ /, "", $col); print $col; exit }' "$1"
}
ratio_line() {
  [ -f "$1" ] || { echo "-"; return; }
  sed -n 's/^- Warm round trip over the statically linked do-nothing program[^:]*: \([0-9.]*\)×.*/\1/p' "$1"
}
warm_ratio=$(ratio_line "$work/roundtrip.md")
shell_line() {
  [ -f "$work/shell.md" ] || { echo "-"; return; }
  sed -n "s/^- As a shell starts it: tarnwick over the static do-nothing program \([0-9.]*\)×, over the dynamic setlocale program \([0-9.]*\)×.*/$1/p" "$work/shell.md"
}
shell_static_ratio=$(shell_line '\1')
shell_locale_ratio=$(shell_line '\2')
shell_ms=$(cell "$work/shell.md" "as a shell starts it (fork, exec, wait): \`tarnwick" 4)
shell_locale_ms=$(cell "$work/shell.md" "as a shell starts it (fork, exec, wait): dynamically" 4)
warm_ms=$(cell "$work/roundtrip.md" "Warm round trip" 4)
static_ms=$(cell "$work/roundtrip.md" "&nbsp;&nbsp;floor: start and end of a statically" 4)
cold_ms=$(cell "$work/roundtrip.md" "Cold start" 4)
relay_ratio=$(cell "$work/relay.md" "16 MB" 11)
relay_above=$(cell "$work/relay.md" "16 MB" 7)
relay_floor=$(cell "$work/relay.md" "16 MB" 10)
wine_relay_ratio=$(cell "$work/wine-relay.md" "16 MB" 11)
wine_relay_above=$(cell "$work/wine-relay.md" "16 MB" 7)
wine_relay_floor=$(cell "$work/wine-relay.md" "16 MB" 10)
relay_keeping=$(cell "$work/relay.md" "16 MB" 12)
relay_keeping_ratio=$(cell "$work/relay.md" "16 MB" 13)
wine_relay_keeping=$(cell "$work/wine-relay.md" "16 MB" 12)
wine_relay_keeping_ratio=$(cell "$work/wine-relay.md" "16 MB" 13)
relay_chain=$(cell "$work/relay.md" "16 MB" 14)
relay_chain_ratio=$(cell "$work/relay.md" "16 MB" 15)
wine_relay_chain=$(cell "$work/wine-relay.md" "16 MB" 14)
wine_relay_chain_ratio=$(cell "$work/wine-relay.md" "16 MB" 15)
idle_kib=$(cell "$work/load.md" "idle, after its first request" 3)
peak_kib=$(sed -n 's/^Peak resident memory: \([0-9]*\) KiB.*/\1/p' "$work/engine.md" 2>/dev/null)
peak_times=$(sed -n 's/^Peak resident memory: [^:]*: \([0-9.]*\)× the input.*/\1/p' "$work/engine.md" 2>/dev/null)
floor_kib=$(sed -n 's/^Peak resident memory: .* Floor: \([0-9]*\) KiB.*/\1/p' "$work/engine.md" 2>/dev/null)
floor_times=$(sed -n 's/^Peak resident memory: .* Floor: [0-9]* KiB (\([0-9.]*\)×).*/\1/p' "$work/engine.md" 2>/dev/null)
# A cell of the windows' tables, blanks inside it kept: the row whose first
# cell starts with $1, column $2.
wcell() {
  [ -f "$work/windows.md" ] || { echo "-"; return; }
  awk -F'|' -v key="$1" -v col="$2" 'index($2, key) == 2 { sub(/^ +/, "", $col); sub(/ +$/, "", $col); print $col; exit }' \
    "$work/windows.md"
}
wline() {
  [ -f "$work/windows.md" ] || { echo "-"; return; }
  sed -n "$1" "$work/windows.md"
}
compare_open=$(wcell "compare: from the call" 3)
compare_prepare=$(wcell "&nbsp;&nbsp;of which reading" 3)
compare_next=$(wcell "compare: next difference" 3)
compare_prev=$(wcell "compare: previous difference" 3)
merge_next=$(wcell "merge: next conflict" 3)
merge_prev=$(wcell "merge: previous conflict" 3)
merge_typing=$(wcell "merge: a key typed" 3)
compare_before=$(wcell "before the comparison opened" 3)
compare_holds=$(wline 's/^Compare window holds: \([0-9]*\) KiB.*/\1/p')
compare_back=$(wline 's/^Compare window holds: [^.]*\. After closing: \([0-9.]*\)×.*/\1/p')
merge_holds=$(wline 's/.*Merge window holds: \([0-9]*\) KiB.*/\1/p')
merge_back=$(wline 's/.*Merge window holds: [0-9]* KiB\. After closing: \([0-9.]*\)×.*/\1/p')

{
  cat <<EOF
# Performance

Figures from one run of \`tools/bench.sh\` on the machine below, each beside
its floor measured in the same run. Rerun with:

\`\`\`sh
tools/bench.sh            # builds what it needs, runs everything, rewrites this file
tools/bench.sh --no-wine  # native figures only
# or one benchmark at a time, after a build of the targets roundtrip, shell_roundtrip, load, gui_engine and gui_windows:
$native/bench/roundtrip [warm runs] [cold runs]
$native/bench/shell_roundtrip [runs]
$native/bench/load [requests per level] [relay rounds] [requests after]
$native/bench/gui_engine [lines] [runs]
$native/bench/gui_windows [compare lines] [merge lines] [conflicts] [key presses]   # on a display
\`\`\`

## Goals

Each goal beside the figure of this run and its floor, measured in the same
run; the last column is the share of CPU time that other work used in the
second before that part began.

| Goal | Target | Now | Floor | Other work |
|---|---|---|---|---:|
| Warm round trip over a statically linked do-nothing program (medians, interleaved) | ≤ 1.5× | ${warm_ratio:--}× (${warm_ms:--} ms) | ${static_ms:--} ms | $busy_native % |
| Warm round trip started as a shell does, over a dynamically linked program that calls \`setlocale(LC_ALL, "")\` (medians, interleaved) | ≤ 1.5× | ${shell_locale_ratio:--}× (${shell_ms:--} ms); over the static program ${shell_static_ratio:--}× | ${shell_locale_ms:--} ms | $busy_shell % |
| Relay of a 16 MB call, cost per MB above the small call, over the direct pipe's (Linux) | ≤ 2× | ${relay_ratio:--}× (${relay_above:--} ms/MB) | ${relay_floor:--} ms/MB; a peer that keeps the call whole: ${relay_keeping:--} ms/MB; two such hops, one handing the call on to the other: ${relay_chain:--} ms/MB, the relay **${relay_chain_ratio:--}×** of it | $busy_relay % |
| The same under Wine | ≤ 2× | ${wine_relay_ratio:--}× (${wine_relay_above:--} ms/MB) | ${wine_relay_floor:--} ms/MB; a peer that keeps the call whole: ${wine_relay_keeping:--} ms/MB; two such hops, one handing the call on to the other: ${wine_relay_chain:--} ms/MB, the relay **${wine_relay_chain_ratio:--}×** of it | $busy_wine_relay % |
| Three-way merge of three 6.5 MB texts, peak resident memory | ≤ 4× inputs (80 MB) | ${peak_times:--}× (${peak_kib:--} KiB) | ${floor_times:--}× (${floor_kib:--} KiB): the decoded texts and two libgit2 diffs | $busy_engine % |
| Compare window, two 100,000-line files: memory it holds | ≤ 100 MB | ${compare_holds:--} KiB | - | $busy_windows % |
| The same: usable (first difference painted) after the call arrives | ≤ 0.5 s | ${compare_open:--} ms | ${compare_prepare:--} ms: reading and decoding | $busy_windows % |
| The same: next / previous difference (median, slowest) | ≤ 50 ms | ${compare_next:--} / ${compare_prev:--} ms | - | $busy_windows % |
| The same: resident size after closing, over before opening | ≤ 1.2× | ${compare_back:--}× | ${compare_before:--} KiB before | $busy_windows % |
| Merge window, 50,000 lines, 200 conflicts: next / previous conflict (median, slowest) | ≤ 50 ms | ${merge_next:--} / ${merge_prev:--} ms | - | $busy_windows % |
| The same: a key typed in the merged result (median, slowest) | < 16 ms | ${merge_typing:--} ms | - | $busy_windows % |
| The same: resident size after closing, over before opening | ≤ 1.2× | ${merge_back:--}× (holds ${merge_holds:--} KiB open) | - | $busy_windows % |
| Cold start (median) | ≤ 10 ms | ${cold_ms:--} ms | - | $busy_native % |
| Service idle memory (VmRSS) | ≤ 2.5 MB | ${idle_kib:--} KiB | - | $busy_load % |

Where the warm round trip's time goes, and why its floor is where it is, is
in "Warm round trip: where the time goes" below.

Why the relay of a large call stays above twice the direct pipe's cost: the
service must hold the whole request before it writes a byte of it on (the
request goes on behind a header that gives its length, and a zero byte late
in a request changes what is sent), and the graphical client holds it whole
too. Receiving into memory that grows as a call arrives costs more per MB
than the direct peer's reads into one small buffer that stays in the cache
("a peer that keeps the call whole"). The relay's own floor is two such
receptions in a row: a peer that keeps each call and hands it on whole to a
second keeping peer, built for the benchmark with nothing of the relay's own
(the "two-hop floor" columns below). The relay costs about 1.2 times that
chain on Linux and under Wine. What it adds on Linux (\`perf record -a\` over
\`bench/relay\`): the service's look for zero bytes in the request (3 % of the
samples) and the stand-in's clearing of the buffer it reads the request into
(3 %); the largest part of the samples is the kernel copying into and out of
the sockets.

The benchmarks are programs in \`bench/\` (\`roundtrip\`, \`shell_roundtrip\`, \`relay\`, \`load\`, \`gui_engine\`, \`gui_windows\`), built in
\`$native\` (and \`$win\` for Wine); they are never CTest tests. Each one
starts its own service in a private temporary directory and ends it, and the
stand-in \`marlow\` answers every request at once unless a figure says
otherwise.

## Machine

| Fact | Value |
|---|---|
| CPU | $cpu${hypervisor:+ ($hypervisor guest)} |
| Cores | $(nproc) |
| Memory | $(awk '/^MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo) |
| Kernel | $(uname -sr) |
| Compiler | $("$cxx" --version | head -n 1) |
| Build | \`native\` preset, $build_type ($flags), libstdc++ and libgcc linked statically |
| CPU time used by other work in the second before each part | native round trip $busy_native %, as a shell starts it $busy_shell %, native relay $busy_relay %, Wine $busy_wine %, Wine relay $busy_wine_relay %, load $busy_load %, engine $busy_engine %, windows $busy_windows % |
| Date | $(date -u '+%Y-%m-%d %H:%M UTC') |

The machine may be shared with other work; the row above says how busy it
was as each part began. Medians hold up best under other work; p90 and
maximum figures show it most.$busy_note

## Floors

- **Process floor**: the start and end of a do-nothing process of ours
  (\`fernask\` without arguments, linked like the product's programs). Every
  \`tarnwick\` run pays it once.
- **Pipe floor**: a direct round trip between two processes on the kind of
  pipe the client and service use (a Unix socket here, a named pipe under
  Wine): connect, write a request of the client's size (or the size under
  test), the peer reads it whole and writes a reply of the stand-in's size.
  A request through the service makes two such trips (client to service,
  service to stand-in) plus the notice on the wrapper pipe.

## Warm round trip and cold start (Linux, native)

Warm: \`tarnwick a.txt b.txt\` against a running service, $warm_runs runs
interleaved with both floors. Cold: the same with no service running, so the
client starts the service and the service starts the stand-in; $cold_runs runs,
each in a fresh temporary directory. The slowest cold start shows whether any
start waits for seconds.

EOF
  cat "$work/roundtrip.md"
  cat <<EOF

## Warm round trip as a shell starts it (Linux, native)

\`bench/shell_roundtrip\`: a parent process forks, the child execs the
program with the parent's environment and standard streams, and the parent
waits for it, as a user's shell does for \`tarnwick a b\`. In each of
$shell_runs rounds it runs, one after the other, the statically linked
do-nothing program, a dynamically linked C program that only calls
\`setlocale(LC_ALL, "")\` (\`bench/noop_setlocale.c\`), and a warm
\`tarnwick a b\`, each once that way and once as \`bench/roundtrip\` starts
them (posix_spawn, standard streams on the null device). The processor time
of each process itself comes from \`wait4\`; it hardly changes with other
work on the machine, where the wall time does. Environment: LANG=${LANG:-unset}
(the locale that \`setlocale\` loads, in tarnwick and in the floor alike).

EOF
  cat "$work/shell.md"
  cat <<EOF

Where the figures of the two ways part:

- **The floor.** The statically linked do-nothing program maps no shared
  library and loads no locale; every dynamically linked program that honours
  the user's locale does both, tarnwick too. Over that floor tarnwick's
  ratio is the larger one; over the setlocale floor it is what tarnwick
  adds: its own work (user lookup, work directory, log, pid file, the
  exchange) and the wait for the service and the graphical client.
- **How the process is started.** fork, exec and wait cost about what
  posix_spawn does, for the floors and tarnwick alike (the last line above):
  starting it from a shell adds little of its own.
- **Other work on the machine.** A warm round trip crosses three processes
  (client, service, graphical client), each woken in turn; when the cores
  are busy each wake-up waits for one, so the round trip's median grows
  with the load much faster than that of a single do-nothing process.
  Interleaving keeps the comparison fair in time, not in kind: on a busy
  machine both ratios rise, and the runs least touched by other work (p10)
  and the processor time of the process itself show what tarnwick costs.

## Warm round trip and cold start under Wine

**Wine figures are not Windows figures.** They are the Windows build
($win_cxx) run under $(wine --version 2>/dev/null || echo Wine) on this Linux
machine, with the prefix warmed and its server kept running. Process start
under Wine costs tens of milliseconds, far more than on Windows or Linux, and
dominates every figure; they show that the Windows code paths work end to end
and where their time goes, not what a Windows machine would measure.

EOF
  case "$wine_result" in
    ok)
      echo "$wine_warm_runs warm runs, $wine_cold_runs cold runs, run by the Windows build of the round-trip benchmark inside the same Wine prefix."
      echo
      cat "$work/wine.md"
      ;;
    failed)
      echo "The run under Wine reported failed runs:"
      echo
      cat "$work/wine.md"
      ;;
    prefix) echo "Not run: the Wine prefix could not be brought up." ;;
    build) echo "Not run: the Windows build failed." ;;
    *) echo "Not run in this run (\`--no-wine\`)." ;;
  esac
  cat <<EOF

## Relay of large calls (Linux, native)

\`bench/relay\`, with its own service, stand-in and floor peer.

EOF
  cat "$work/relay.md"
  cat <<EOF

## Relay of large calls under Wine

EOF
  case "$wine_relay_result" in
    ok | failed)
      echo "The Windows build of \`bench/relay\`, $wine_relay_runs rounds, in the same prefix."
      echo
      cat "$work/wine-relay.md"
      ;;
    *) echo "Not run in this run." ;;
  esac
  cat <<EOF

## Warm round trip: where the time goes (Linux, native)

Instruction counts of one warm run by step, from callgrind (inclusive: a
step's count holds the steps it calls), beside the two do-nothing programs.
Wall time on a shared machine is too noisy for single steps; the counts are
not. The dynamic loader and the locale are the C library's: the programs
link the C library dynamically so that \`tarnwick\` keeps a dynamic symbol
table for its export, and the locale is the user's by requirement.

EOF
  cat "$work/breakdown.md"
  cat <<EOF

## Load (Linux, native)

EOF
  cat "$work/load.md"
  cat <<EOF

## The graphical client's engine (Linux, native)

\`bench/gui_engine\`: three texts of 200,000 source-like lines (base, and two
versions that each change about one line in a hundred and insert one in a
thousand). The floor of a comparison is the libgit2 line difference it is
built on; a merge needs two. Decoding's floor is splitting the same bytes
into lines.

EOF
  cat "$work/engine.md"
  cat <<EOF

Where the merge's memory went before this figure (heaptrack, the same three
texts): every line was a pair of strings of its own, 64 bytes and a heap
block for its text, and every copy of a line (the merge's regions, the
marked output's pieces) copied its text again: 352 MB at the peak, 18× the
input. Lines now view their file's decoded bytes (three words a line, its
line end in the padding) and are diffed in place; the peak is libgit2's own
working memory for the two diffs (about 50 MB for these 400,000 lines) on
top of the input and the lines, which is the floor above.

## The graphical client's windows (Linux, native, Xvfb)

\`bench/gui_windows\` opens the real windows in one process on a private Xvfb
display (1366×768): the call is prepared as the client prepares it (files
read and decoded), the window made and shown, and each figure runs until the
panes have painted. Keys go through Qt's input path, shortcuts included.
Resident memory is the process's VmRSS.

EOF
  case "$windows_result" in
    ok) cat "$work/windows.md" ;;
    *) echo "The run reported a failure:"; echo; cat "$work/windows.md" ;;
  esac
} >"$work/report.md"

mkdir -p "$(dirname "$doc")"
cp "$work/report.md" "$doc"
cat "$work/report.md"
note "written to $doc"
exit $status
