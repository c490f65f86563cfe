#!/usr/bin/env bash
# Installs, builds from nothing and runs every test: warnings are errors, the
# whole suite runs under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the tests of the capture threads again under ThreadSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"

asan="$top/build-test-asan"
rm -rf "$asan"
"$top/scripts/build.sh" "$asan" -DQARSILO_WERROR=ON -DQARSILO_SANITIZER=address,undefined
(cd "$asan" && ctest --output-on-failure -j 2 --timeout 900)

# Only when there are thread tests to run.
if grep -rqs "LABELS.*threads" "$top/tests"; then
  tsan="$top/build-test-tsan"
  rm -rf "$tsan"
  "$top/scripts/build.sh" "$tsan" -DQARSILO_WERROR=ON -DQARSILO_SANITIZER=thread \
    -DQARSILO_BUILD_BENCH=OFF
  (cd "$tsan" && ctest --output-on-failure -L threads --timeout 900)
fi
