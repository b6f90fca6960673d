#!/usr/bin/env bash
# Builds the release preset and runs every benchmark: the Google Benchmark programs under bench/,
# then the start-up and memory measurement of the shipped program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release >/dev/null
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
for program in $(find build/release/bench -type f -executable -name '*_bench' | sort); do
    echo "== $(basename "$program")"
    "$program" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
done
echo "== start-up and memory"
env -u QT_QPA_PLATFORM bench/gui/startup_and_memory.sh build/release
