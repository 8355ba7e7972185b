#!/usr/bin/env bash
# Installs, builds both systems and runs every test: Linux's, and the job's suite once more against
# kelvane.exe under Wine. The Linux build runs while the Windows side is prepared (its downloads,
# the Wine prefix, 7z.exe, Qt): on two cores the compilers share them, and the rest overlaps.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ambiente_windows.sh
inicio=$EPOCHREALTIME
# Linux's packages first, so that the two builds never wait on each other for apt's lock.
passo "pacotes do Linux" bash scripts/preparar.sh --so-pacotes
registro_linux=$(mktemp)
linux_inicio=$EPOCHREALTIME
bash scripts/preparar.sh -DKELVANE_WINDOWS="$PWD/build-win" >"$registro_linux" 2>&1 &
linux=$!
trap 'kill "$linux" 2>/dev/null || true; "$WINESERVER" -k 2>/dev/null || true; rm -f "$registro_linux"' EXIT
bash scripts/preparar_windows.sh
if ! wait "$linux"; then
  tail -n 60 "$registro_linux" >&2
  echo "a compilação do Linux falhou; o registro completo acima" >&2
  exit 1
fi
awk -v a="$linux_inicio" -v b="$EPOCHREALTIME" \
  'BEGIN { printf "%-44s %7.1f s (ao mesmo tempo que o Windows)\n", "compilação do Linux", b - a }'
cd build
ctest --output-on-failure -j "$(nproc)"
awk -v a="$inicio" -v b="$EPOCHREALTIME" 'BEGIN { printf "%-44s %7.1f s\n", "total", b - a }'
