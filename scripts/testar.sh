#!/usr/bin/env bash
# Installs, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/preparar.sh
cd build
ctest --output-on-failure -j "$(nproc)"
