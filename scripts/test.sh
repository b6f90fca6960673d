#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite in the debug build with the
# address and undefined-behaviour sanitizers, then a short run of every fuzz target. The plain
# debug build (preset dev) runs the same tests with less checking, so it is left to developers:
# building both would double the time this takes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "== asan"
scripts/build.sh asan
ctest --preset asan -j "$(nproc)"

echo "== fuzz"
scripts/fuzz.sh
