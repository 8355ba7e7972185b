#!/usr/bin/env bash
# Installs, builds both systems and runs every test: Linux's, and the job's suite once more against
# kelvane.exe under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/preparar_windows.sh
source scripts/ambiente_windows.sh
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT # the wineserver the Windows runs shared
bash scripts/preparar.sh -DKELVANE_WINDOWS="$PWD/build-win"
cd build
ctest --output-on-failure -j "$(nproc)"
