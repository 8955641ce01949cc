#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang and runs each one
# for a bounded time, one after another. Fails on any crash, hang (an input
# taking over 10 s), leak, memory blow-up (over 2 GB), sanitizer report or
# failed check of a harness.
#
#   tools/fuzz.sh [SECONDS_PER_HARNESS] [HARNESS]...
#
# SECONDS_PER_HARNESS defaults to 60; the harnesses are formatters, file,
# core_buf, options, input, names and rules (all by default). The build goes to build-fuzz (or
# $TAPELENS_FUZZ_BUILD); each harness starts from the seeds in
# tests/fuzz/corpus/<harness> plus what earlier runs in that build directory
# found, and leaves what it finds, its log and any crashing input in
# <build>/fuzz-work/. A crashing input replays with
#   <build>/fuzz_<harness> <input>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(formatters file core_buf options input names rules)
build=${TAPELENS_FUZZ_BUILD:-$root/build-fuzz}

# clang and its runtime libraries (libFuzzer and the sanitizers).
bash "$root/tools/install-deps.sh" --build
bash "$root/tools/install-deps.sh" clang-14 libclang-rt-14-dev
cxx=$(command -v clang++-14 || command -v clang++)

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAPELENS_FUZZ=ON -DTAPELENS_TESTS=OFF >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=(--target "fuzz_$h"); done
cmake --build "$build" -j2 "${targets[@]}"

work=$build/fuzz-work
mkdir -p "$work"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
passed=0
failed=0
for h in "${harnesses[@]}"; do
  corpus=$work/corpus/$h
  artifacts=$work/artifacts/$h
  # Harnesses that write a file per input do it in memory where they can.
  tmp=$work/tmp/$h
  [ -d /dev/shm ] && [ -w /dev/shm ] && tmp=/dev/shm/tapelens-fuzz-$h
  log=$work/$h.log
  rm -rf "$artifacts" "$tmp"
  mkdir -p "$corpus" "$artifacts" "$tmp"
  case $h in
    file | core_buf | input) max_len=16384 ;;  # room for long lines and many records
    *) max_len=4096 ;;
  esac
  echo "fuzz_$h: $secs s"
  status=0
  TMPDIR=$tmp "$build/fuzz_$h" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=$max_len \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" "$root/tests/fuzz/corpus/$h" >"$log" 2>&1 || status=$?
  rm -rf "$tmp"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" != 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
    echo "FAILED: fuzz_$h (status $status) after ${runs:-?} runs; inputs in $artifacts:"
    ls -l "$artifacts"
    # libFuzzer and the sanitizers end the log with the report.
    grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse|RELOAD)' "$log" | tail -60
    failed=$((failed + 1))
  else
    echo "fuzz_$h: ${runs:-?} runs, no finding ($(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1))"
    passed=$((passed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
