#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build dir of their own) and runs each for a
# time and/or a number of executions, seeded with the test captures.
#
#   scripts/fuzz.sh [-t SECONDS] [-r RUNS] [-b BUILD_DIR] [TARGET...]
#
# Without -t a target runs for 60 s, or, with -r, until it has made RUNS
# executions however long that takes.
# TARGET is a name of fuzz/CMakeLists.txt (classify, decode, ...); none: all.
# Prints executions, time, coverage and crashes per target; exits 1 when a
# target crashed. Crash inputs are left in BUILD_DIR/crashes/TARGET: once the
# fault is mended, keep the input under tests/data/fuzz/TARGET.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=
runs=-1
build="$top/build-fuzz"
while getopts "t:r:b:" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    r) runs=$OPTARG ;;
    b) build=$OPTARG ;;
    *) echo "usage: $0 [-t SECONDS] [-r RUNS] [-b BUILD_DIR] [TARGET...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
# libFuzzer's 0 is no time limit.
[ -n "$seconds" ] || { [ "$runs" -ge 0 ] && seconds=0 || seconds=60; }

all=$(sed -n '/^set(QARSILO_FUZZ_TARGETS/,/)/p' "$top/fuzz/CMakeLists.txt" |
  sed 's/set(QARSILO_FUZZ_TARGETS//; s/)//' | tr -s ' \n' '\n' | sed '/^$/d')
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets <<<"$all"
for t in "${targets[@]}"; do
  grep -qx "$t" <<<"$all" || { echo "fuzz.sh: no target '$t' (targets: $(echo $all))" >&2; exit 2; }
done

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1" -DQARSILO_WERROR=ON \
    -DQARSILO_SANITIZER=address,undefined -DQARSILO_BUILD_FUZZ=ON \
    -DQARSILO_BUILD_TESTS=OFF -DQARSILO_BUILD_BENCH=OFF >/dev/null
fi
# Only the core library and the targets are built.
cmake --build "$build" -j "$(nproc)" --target qarsilo_fuzz
[ -d "$build/seeds/files" ] || "$build/fuzz/fuzz_make_seeds" "$top/tests/data/pcap" "$build/seeds"

# Inputs are kept small enough for many executions: a few frames, a short
# list of rows (the duplicate check compares every pair), a capture file of a
# few dozen frames.
max_len() {
  case $1 in
    capture_file) echo 16384 ;;
    duplicates) echo 256 ;;
    *) echo 2048 ;;
  esac
}

# Allocation and free stacks are kept two frames deep: finding faults is the
# same, and the targets run about 1.4 times as fast (unwinding and storing the
# default 30 frames on every allocation was their largest single cost). A
# crash input rerun by hand shows full stacks.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:malloc_context_size=2 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
printf '%-14s %12s %8s %10s %6s %8s\n' target executions seconds exec/s cov crashes
for t in "${targets[@]}"; do
  seeds=("$build/seeds/frames")
  [ "$t" = capture_file ] && seeds=("$build/seeds/files")
  # The inputs that once crashed are tried first, like any seed.
  [ -d "$top/tests/data/fuzz/$t" ] && seeds+=("$top/tests/data/fuzz/$t")
  mkdir -p "$build/corpus/$t" "$build/crashes/$t"
  log="$build/fuzz-$t.log"
  touch "$build/crashes/$t.start"
  start=$(date +%s)
  status=0
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -runs="$runs" -max_len="$(max_len "$t")" \
    -print_final_stats=1 -artifact_prefix="$build/crashes/$t/" \
    "$build/corpus/$t" "${seeds[@]}" >"$log" 2>&1 || status=$?
  took=$(( $(date +%s) - start ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  crashes=$(find "$build/crashes/$t" -type f -newer "$build/crashes/$t.start" | wc -l)
  if [ $status -ne 0 ]; then
    crashes=$(( crashes > 0 ? crashes : 1 ))
    failed=1
    echo "fuzz.sh: $t failed (exit $status); see $log" >&2
    grep -m3 -E '^(==[0-9]+==ERROR|SUMMARY|.*check failed|.*runtime error)' "$log" >&2 || true
  fi
  printf '%-14s %12s %8s %10s %6s %8s\n' "$t" "${execs:-0}" "$took" "${rate:-0}" "${cov:-0}" "$crashes"
done
exit $failed
