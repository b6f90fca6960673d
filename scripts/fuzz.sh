#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each briefly from its seed corpus, as many at once
# as there are processors.
# Usage: scripts/fuzz.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
scripts/build.sh fuzz >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fuzz_one() {
    local target="$1" name seeds
    name="$(basename "$target")"
    seeds="$(find fuzz -type d -path "*/corpus/$name" | head -n 1)"
    mkdir -p "$work/$name"
    if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$work/$name-" "$work/$name" ${seeds:+"$seeds"} >"$work/$name.log" 2>&1; then
        echo "fuzzed $name for ${seconds}s"
    else
        tail -n 40 "$work/$name.log"
        echo "fuzz target $name failed"
        return 1
    fi
}

targets=($(find build/fuzz/fuzz -type f -executable -name '*_fuzz' | sort))
if [ "${#targets[@]}" -eq 0 ]; then
    echo "no fuzz targets found" >&2
    exit 1
fi
failed=0
running=0
for target in "${targets[@]}"; do
    if [ "$running" -ge "$(nproc)" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    fuzz_one "$target" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "${#targets[@]} fuzz targets ran clean"
