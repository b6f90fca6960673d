#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite: the debug build, the
# address/undefined-behaviour sanitizer build, and a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs="$(nproc)"
for preset in dev asan; do
    echo "== $preset"
    scripts/build.sh "$preset"
    ctest --preset "$preset" -j "$jobs"
done

echo "== fuzz"
scripts/fuzz.sh
