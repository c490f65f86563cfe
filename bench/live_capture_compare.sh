#!/usr/bin/env bash
# The live benchmarks with the capture helper and in process, alternating, in
# one run (root: they make their own network namespaces).
#   bench/live_capture_compare.sh BUILD_DIR [ROUNDS] [SECONDS]
set -euo pipefail
build=${1:?usage: live_capture_compare.sh BUILD_DIR [ROUNDS] [SECONDS]}
rounds=${2:-2}
seconds=${3:-10}
for round in $(seq "$rounds"); do
  for mode in process helper; do
    echo "== round $round, capture $mode"
    echo "-- analyzer, 100000 frames/s"
    "$build/bench/qarsilo-bench-analyzer-live" --rate 100000 --seconds "$seconds" --capture "$mode" |
      grep -E "sent|stored|gaps"
    echo "-- network layer chart, 200000 frames/s"
    "$build/bench/qarsilo-bench-chart-live" --rate 200000 --seconds "$seconds" --capture "$mode" |
      grep -E "^run|median"
    echo "-- general statistics, 200000 frames/s"
    "$build/bench/qarsilo-bench-stats-live" --rate 200000 --seconds "$seconds" --capture "$mode" |
      grep -E "asked"
  done
done
