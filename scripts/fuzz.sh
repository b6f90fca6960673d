#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each briefly from its seed corpus.
# Usage: scripts/fuzz.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
scripts/build.sh fuzz >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
count=0
for target in $(find build/fuzz/fuzz -type f -executable -name '*_fuzz' | sort); do
    name="$(basename "$target")"
    seeds="$(find fuzz -type d -path "*/corpus/$name" | head -n 1)"
    mkdir -p "$work/$name"
    echo "fuzzing $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$work/" "$work/$name" ${seeds:+"$seeds"} >"$work/$name.log" 2>&1 || {
        tail -n 40 "$work/$name.log"
        echo "fuzz target $name failed"
        exit 1
    }
    count=$((count + 1))
done
if [ "$count" -eq 0 ]; then
    echo "no fuzz targets found" >&2
    exit 1
fi
echo "$count fuzz targets ran clean"
