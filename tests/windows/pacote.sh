#!/usr/bin/env bash
# The Windows zip and installer from build tree $1: what they hold, and the installer run silently
# under Wine into a new folder, whose kelvane.exe then runs there.
set -euo pipefail
build=$1
source "$(dirname "$0")/../../scripts/ambiente_windows.sh"
mkdir -p "$KELVANE_CACHE/testes" # not below /tmp (nor a clone there): Wine shows no sticky bit
t=$(mktemp -d -p "$KELVANE_CACHE/testes")
trap 'rm -rf "$t"' EXIT
falha() { echo "FALHA: $*" >&2; exit 1; }

(cd "$build" && cpack -B "$t" >/dev/null 2>&1) || falha "cpack"
nome=$(cd "$t" && ls kelvane-*-win64.zip) && nome=${nome%.zip}
[ "$(unzip -Z1 "$t/$nome.zip" | grep -v '/$' | sort | xargs)" = \
  "$nome/LEIA-ME.md $nome/kelvane.exe $nome/translations/qtbase_pt_BR.qm" ] ||
  falha "zip: $(unzip -Z1 "$t/$nome.zip")"
file "$t/$nome.exe" | grep -q x86-64 || falha "instalador não é de 64 bits: $(file "$t/$nome.exe")"
wineserver_persistente
wine_executar 120 "$t/$nome.exe" /S "/D=Z:${t//\//\\}\\Kelvane" >/dev/null 2>&1 ||
  falha "instalador terminou com $?"
p=$t/Kelvane
[ "$(cd "$p" && ls | xargs)/$(ls "$p/translations")" = \
  "LEIA-ME.md Uninstall.exe kelvane.exe translations/qtbase_pt_BR.qm" ] || falha "instalado: $(ls "$p")"
grep -q "icacls \"\$INSTDIR\" /inheritance:r" "$t"/_CPack_Packages/win64/NSIS64/project.nsi ||
  falha "instalador não dá à pasta suas próprias permissões"
code=0 && wine_executar 60 "$p/kelvane.exe" EXEC >/dev/null 2>&1 || code=$?
[ "$code/$(cut -c23- "$p"/Log/*.Log | iconv -f CP1252 | tr -d '\r' | xargs)" = \
  "2/Inicio do Processo Está faltando o arquivo: 7z.exe" ] || falha "EXEC instalado: $code"
echo OK
