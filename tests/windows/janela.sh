#!/usr/bin/env bash
# Runs the window's suite built for Windows ($1, testes_janela.exe; the rest its arguments) under
# Wine, drawing with the null driver. A test that skipped itself ends with 77, for CTest.
set -euo pipefail
source "$(dirname "$0")/../../scripts/ambiente_windows.sh"
wine_temp_proprio
codigo=0
saida=$(wine_executar 840 "$@" 2>&1) || codigo=$?
printf '%s\n' "$saida"
[ $codigo -ne 0 ] || ! grep -q '^\[  SKIPPED \]' <<<"$saida" || exit 77
exit $codigo
