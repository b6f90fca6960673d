#!/usr/bin/env bash
# Builds the release preset and runs every benchmark: the Google Benchmark programs under bench/,
# then the start-up and memory measurement of the shipped program. A benchmark that misses its
# target does not stop the others; the script names the ones that missed and fails at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release >/dev/null
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
missed=()
for program in $(find build/release/bench -type f -executable -name '*_bench' | sort); do
    echo "== $(basename "$program")"
    "$program" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true ||
        missed+=("$(basename "$program")")
done
echo "== start-up and memory"
env -u QT_QPA_PLATFORM bench/app/startup_and_memory.sh build/release || missed+=("start-up and memory")
if ((${#missed[@]})); then
    echo "missed their targets: ${missed[*]}" >&2
    exit 1
fi
