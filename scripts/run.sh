#!/usr/bin/env bash
# Installs what is missing, builds Kestrow and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release kestrow
exec build/release/src/app/kestrow
