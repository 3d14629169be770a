#!/bin/bash
# Builds the fuzz preset and runs each libFuzzer target for a while.
#
# Usage: tools/fuzz.sh [seconds] [target...]
#   seconds   how long each target runs (default 60)
#   target    options, request, pipe_message, marlow_framing, gui_text, gui_call
#             (default: all)
# Environment: FUZZ_PARALLEL=n runs n targets at a time (default 1).
#
# Each target starts from fuzz/regressions/<target>/ (inputs that once broke
# something: each must pass) and then fuzzes from a scratch copy of
# fuzz/corpus/<target>/, so the committed corpus never grows. Fails when any
# target crashes, hangs or prints a sanitizer report; the scratch directory
# with the crashing input is then kept and named.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(options request pipe_message marlow_framing gui_text gui_call)
parallel=${FUZZ_PARALLEL:-1}
case $seconds in (*[!0-9]*|'') echo "fuzz.sh: seconds must be a number" >&2; exit 2;; esac

# clang and its libFuzzer and sanitizer runtimes (a no-op when present).
"$root/tools/install-deps.sh" fuzz || exit 2

cd "$root"
if [ ! -f build/fuzz/CMakeCache.txt ]; then
  cmake --preset fuzz >/dev/null || exit 1
fi
cmake --build --preset fuzz -j2 || exit 1

scratch_root=$(mktemp -d "${TMPDIR:-/tmp}/tw-fuzz.XXXXXX")
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Options a target needs beyond the common ones.
extra_flags() {
  case $1 in
    # validate() prints its message on standard error; libFuzzer keeps its
    # own output and the sanitizers' reports on a copy of the stream.
    options) echo "-close_fd_mask=2" ;;
    # Several whole 4095-byte reads per message.
    pipe_message) echo "-max_len=16384" ;;
  esac
}

run_target() {
  local target=$1 dir="$scratch_root/$1"
  local exe="$root/build/fuzz/fuzz/fuzz_$target"
  mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/cwd"
  cp "$root/fuzz/corpus/$target/"* "$dir/corpus/" 2>/dev/null
  local dict=()
  [ -f "$root/fuzz/dict/$target.dict" ] && dict=("-dict=$root/fuzz/dict/$target.dict")
  # shellcheck disable=SC2046
  (
    cd "$dir/cwd" || exit 1
    status=0
    if compgen -G "$root/fuzz/regressions/$target/*" >/dev/null; then
      "$exe" $(extra_flags "$target") "$root/fuzz/regressions/$target/"* >"$dir/regressions.log" 2>&1 || status=$?
    fi
    if [ $status -eq 0 ]; then
      "$exe" $(extra_flags "$target") "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$dir/corpus" >"$dir/fuzz.log" 2>&1 || status=$?
    fi
    echo $status >"$dir/status"
  )
}

report_target() {
  local target=$1 dir="$scratch_root/$1" status
  status=$(cat "$dir/status" 2>/dev/null || echo 1)
  local execs
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.log" 2>/dev/null | tail -1)
  if [ "$status" = 0 ] && ! grep -qE 'ERROR: (Address|Leak|Undefined)Sanitizer|runtime error:|fuzz property violated' \
      "$dir"/*.log 2>/dev/null; then
    local last
    last=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$dir/fuzz.log" | tail -1)
    echo "fuzz $target: ok, ${seconds}s, ${execs:-?} executions, ${last:-no stats}"
    return 0
  fi
  echo "fuzz $target: FAILED (status $status); logs and inputs in $dir" >&2
  grep -hE 'ERROR:|runtime error:|fuzz property violated|^artifact_prefix|Test unit written|#[0-9]+ 0x' \
    "$dir"/*.log 2>/dev/null | head -20 >&2
  return 1
}

failed=0
running=0
for target in "${targets[@]}"; do
  if [ ! -x "build/fuzz/fuzz/fuzz_$target" ]; then
    echo "fuzz.sh: unknown target $target" >&2
    failed=1
    continue
  fi
  run_target "$target" &
  running=$((running + 1))
  if [ $running -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

for target in "${targets[@]}"; do
  [ -d "$scratch_root/$target" ] || continue
  report_target "$target" || failed=1
done
if [ $failed -eq 0 ]; then
  rm -rf "$scratch_root"
fi
exit $failed
