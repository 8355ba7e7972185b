#!/usr/bin/env bash
# The Windows zip and installer from build tree $1: what they hold, and the installer run silently
# under Wine: a data folder another account made first is refused; into new folders, the program
# apart from its data, whose kelvane.exe then runs there; the uninstaller leaves the data.
set -euo pipefail
build=$1
source "$(dirname "$0")/../../scripts/ambiente_windows.sh"
mkdir -p "$KELVANE_CACHE/testes" # not below /tmp (nor a clone there): Wine shows no sticky bit
t=$(mktemp -d -p "$KELVANE_CACHE/testes")
trap 'rm -rf "$t"' EXIT
falha() { echo "FALHA: $*" >&2; exit 1; }
w() { local p=${1//\//\\}; echo "Z:$p"; } # the Linux path as Wine names it

(cd "$build" && cpack -B "$t" >/dev/null 2>&1) || falha "cpack"
nome=$(cd "$t" && ls kelvane-*-win64.zip) && nome=${nome%.zip}
[ "$(unzip -Z1 "$t/$nome.zip" | grep -v '/$' | sort | xargs)" = \
  "$nome/LEIA-ME.md $nome/kelvane-exec.exe $nome/kelvane.exe $nome/pasta-dados $nome/translations/qtbase_pt_BR.qm" ] ||
  falha "zip: $(unzip -Z1 "$t/$nome.zip")"
[ "$(unzip -p "$t/$nome.zip" "$nome/pasta-dados")" = $'C:\\ProgramData\\Kelvane\r' ] ||
  falha "pasta-dados do zip: $(unzip -p "$t/$nome.zip" "$nome/pasta-dados")"
file "$t/$nome.exe" | grep -q x86-64 || falha "instalador não é de 64 bits: $(file "$t/$nome.exe")"
wineserver_persistente
instalar() { wine_executar 120 "$t/$nome.exe" /S "/DADOS=$(w "$1")" "/D=$(w "$t/Kelvane")"; }
p=$t/Kelvane

# Under Wine a folder whose owner is not Wine's own user is ANONYMOUS LOGON's.
mkdir "$t/Alheia" && chown nobody "$t/Alheia"
code=0 && instalar "$t/Alheia" >/dev/null 2>&1 || code=$?
[ "$code" = 2 ] && [ ! -e "$p" ] && [ -z "$(ls -A "$t/Alheia")" ] ||
  falha "pasta de dados de outra conta aceita: $code, $(ls -A "$p" "$t/Alheia" 2>&1 | xargs)"

instalar "$t/Dados" >/dev/null 2>&1 || falha "instalador terminou com $?"
[ "$(cd "$p" && ls | xargs)/$(ls "$p/translations")" = \
  "LEIA-ME.md Uninstall.exe kelvane-exec.exe kelvane.exe pasta-dados translations/qtbase_pt_BR.qm" ] ||
  falha "instalado: $(ls "$p")"
[ "$(cat "$p/pasta-dados")" = "$(w "$t/Dados")"$'\r' ] || falha "pasta-dados: $(cat "$p/pasta-dados")"
# Wine keeps a folder's permissions as its mode: others get nothing from SYSTEM's and the
# Administrators' alone, where a folder that inherited would be readable by everyone.
[ "$(ls -A "$t/Dados")/$(stat -c %A "$t/Dados" "$t/Dados/Backups" | cut -c8-10 | xargs)" = \
  "Backups/--- ---" ] || falha "pasta de dados: $(ls -lA "$t/Dados")"
fonte='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Kelvane'
wine_executar 60 reg query "$fonte" /v EventMessageFile 2>/dev/null | tr -d '\r' |
  grep -qF "$(w "$p")\kelvane-exec.exe" || falha "fonte do registro de eventos não registrada"
code=0 && wine_executar 60 "$p/kelvane-exec.exe" EXEC >/dev/null 2>&1 || code=$?
[ "$code/$(cut -c23- "$t/Dados"/Log/*.Log | iconv -f CP1252 | tr -d '\r' | xargs)" = \
  "2/Inicio do Processo Está faltando o arquivo: 7z.exe" ] || falha "EXEC instalado: $code"

wine_executar 60 "$p/Uninstall.exe" /S "_?=$(w "$p")" >/dev/null 2>&1 || falha "desinstalador: $?"
[ ! -e "$p/kelvane.exe" ] && [ ! -e "$p/pasta-dados" ] && [ -d "$t/Dados/Backups" ] &&
  [ -n "$(ls "$t/Dados/Log")" ] || falha "desinstalado: $(ls -A "$p" "$t/Dados" | xargs)"
! wine_executar 60 reg query "$fonte" >/dev/null 2>&1 || falha "fonte de eventos ficou no registro"
echo OK
