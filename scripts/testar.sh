#!/usr/bin/env bash
# Installs, builds both systems and runs every test: Linux's, and the job's suite once more against
# kelvane.exe under Wine. Linux's side (its build, then its tests) runs while the Windows side is
# prepared (its downloads, the Wine prefix, 7z.exe, Qt): on two cores the compilers share them,
# the rest overlaps, and Linux's results come first. The Windows tests run last.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ambiente_windows.sh
inicio=$EPOCHREALTIME
# Linux's packages first, so that the two sides never wait on each other for apt's lock.
passo "pacotes do Linux" bash scripts/preparar.sh --so-pacotes
registro_linux=$(mktemp)
resultado_linux=$(mktemp)
linux_inicio=$EPOCHREALTIME
(
  if ! bash scripts/preparar.sh -DKELVANE_WINDOWS="$PWD/build-win" >"$registro_linux" 2>&1; then
    echo compilacao >"$resultado_linux"
    exit 1
  fi
  awk -v a="$linux_inicio" -v b="$EPOCHREALTIME" \
    'BEGIN { printf "%-44s %7.1f s (ao mesmo tempo que o Windows)\n", "compilação do Linux", b - a }'
  testes_inicio=$EPOCHREALTIME
  codigo=0
  (cd build && ctest --output-on-failure -j "$(nproc)" -E '^windows\.') >"$registro_linux" 2>&1 ||
    codigo=$?
  echo "$codigo" >"$resultado_linux"
  awk -v a="$testes_inicio" -v b="$EPOCHREALTIME" -v r="$(grep -m1 'tests passed' "$registro_linux")" \
    'BEGIN { printf "%-44s %7.1f s: %s\n", "testes do Linux", b - a, r }'
) &
linux=$!
trap 'kill "$linux" 2>/dev/null || true; "$WINESERVER" -k 2>/dev/null || true
  rm -f "$registro_linux" "$resultado_linux"' EXIT
bash scripts/preparar_windows.sh
wait "$linux" || true
if [ "$(cat "$resultado_linux")" = compilacao ]; then
  tail -n 60 "$registro_linux" >&2
  echo "a compilação do Linux falhou; o registro completo acima" >&2
  exit 1
fi
windows=0
(cd build && ctest --output-on-failure -j "$(nproc)" -R '^windows\.') || windows=$?
if [ "$(cat "$resultado_linux")" != 0 ]; then
  cat "$registro_linux" >&2
  echo "testes do Linux falharam: a saída deles acima" >&2
fi
awk -v a="$inicio" -v b="$EPOCHREALTIME" 'BEGIN { printf "%-44s %7.1f s\n", "total", b - a }'
if [ "$windows" != 0 ] || [ "$(cat "$resultado_linux")" != 0 ]; then
  echo "FALHOU: testes do Linux: $(cat "$resultado_linux"), testes do Windows: $windows (códigos do ctest)" >&2
  exit 1
fi
