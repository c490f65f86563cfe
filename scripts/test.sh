#!/usr/bin/env bash
# Installs, builds from nothing and runs every test: warnings are errors, the
# whole suite runs under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the tests of the capture threads (label "threads") again under
# ThreadSanitizer; then every fuzz target for a short while.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"

# Sanitizer builds: light optimisation, no debug info (faster to build, stack
# traces still name functions).
flags=(-DQARSILO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
       "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1")

asan="$top/build-test-asan"
rm -rf "$asan"
"$top/scripts/build.sh" "$asan" "${flags[@]}" -DQARSILO_SANITIZER=address,undefined
(cd "$asan" && ctest --output-on-failure -j 2 --timeout 900)

tsan="$top/build-test-tsan"
rm -rf "$tsan"
cmake -S "$top" -B "$tsan" -G Ninja "${flags[@]}" -DQARSILO_SANITIZER=thread \
  -DQARSILO_BUILD_BENCH=OFF
# Only the programs of the thread tests are built a second time.
# A test named after no program (a second run of one) needs no build of its own.
mapfile -t thread_tests < <(comm -12 \
  <(cd "$tsan" && ctest -N -L threads | sed -n 's/^ *Test *#[0-9]*: *//p' | sort -u) \
  <(cd "$tsan" && ninja -t targets all | sed -n 's/^\([A-Za-z0-9_.-]*\): .*/\1/p' | sort -u))
if [ ${#thread_tests[@]} -gt 0 ]; then
  cmake --build "$tsan" -j "$(nproc)" --target "${thread_tests[@]}"
  (cd "$tsan" && ctest --output-on-failure -L threads --timeout 900)
fi

# Every fuzz target for 30 s (a build of its own with clang; core library only).
rm -rf "$top/build-test-fuzz"
"$top/scripts/fuzz.sh" -b "$top/build-test-fuzz" -t 30
