#!/usr/bin/env bash
# janela_minima.exe (in folder $1, built with Qt for Windows from scripts/qt_windows.sh) under
# Wine: it draws its dialog to a PNG, with Qt's own texts from the translations/ beside it.
set -euo pipefail
source "$(dirname "$0")/../../scripts/ambiente_windows.sh"
t=$(mktemp -d -p "$1")
trap 'rm -rf "$t"' EXIT
falha() { echo "FALHA: $*" >&2; exit 1; }
wineserver_persistente
saida=$(wine_executar 60 "$1/janela_minima.exe" "Z:${t//\//\\}\\janela.png") || falha "status $?: $saida"
grep -q '(pt_BR)' <<<"$saida" || falha "sem as traduções: $saida"
[ "$(head -c 4 "$t/janela.png" | tail -c 3)" = PNG ] || falha "nenhum PNG"
echo OK
