#!/usr/bin/env bash
# Configures and builds one preset (default: dev), or only the named targets of it.
# Usage: scripts/build.sh [preset [target...]]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
shift || true
cmake --preset "$preset" >/dev/null
if [ "$#" -gt 0 ]; then
    cmake --build --preset "$preset" --target "$@"
else
    cmake --build --preset "$preset"
fi
