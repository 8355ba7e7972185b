#!/usr/bin/env bash
# The Windows zip and installer from build tree $1: what they hold, and the installer run silently
# under Wine, in a prefix of its own (it writes the scheduled task, the Start menu and HKLM): a
# data folder another account made first is refused, and so is a program folder others may change;
# into new folders, the program apart from its data, with 7-Zip, whose kelvane-exec.exe then runs
# there past the check of its tools and permissions, with the task as handed to schtasks and the shortcut;
# an upgrade keeps info.ini and the task's time; the uninstaller leaves the data unless asked,
# and never follows a link out of it.
set -euo pipefail
build=$1
# Wine keeps no trigger, account or command of a task: in its place the tests' relay, as
# schtasks.exe, keeps the definition as handed in, gives it back to /Query and drops it on /Delete.
KELVANE_WINE_DLLS="schtasks.exe=n"
source "$(dirname "$0")/../../scripts/ambiente_windows.sh"
mkdir -p "$KELVANE_CACHE/testes" # not below /tmp (nor a clone there): Wine shows no sticky bit
t=$(mktemp -d -p "$KELVANE_CACHE/testes")
export WINEPREFIX=$t/wine
trap 'set +e; "$WINESERVER" -k 2>/dev/null; "$WINESERVER" -w; rm -rf "$t"' EXIT
falha() { echo "FALHA: $*" >&2; exit 1; }
w() { local p=${1//\//\\}; echo "Z:$p"; } # the Linux path as Wine names it

(cd "$build" && cpack -B "$t" >/dev/null 2>&1) || falha "cpack"
cmake --build "$build" --target instalador >/dev/null 2>&1 || falha "alvo instalador"
nome=$(cd "$t" && ls kelvane-*-win64.zip) && nome=${nome%.zip}
versao=${nome#kelvane-} && versao=${versao%-win64}
manual=$(cd "$(dirname "$0")/../../docs" && ls *.md *.png | sort | xargs) # the manual's pages
[ "$(unzip -Z1 "$t/$nome.zip" | grep -v -e '/$' -e "^$nome/docs/" | sort | xargs)" = \
  "$nome/7z-Fonte.txt $nome/7z-LGPL.txt $nome/7z-Licenca.txt $nome/7z.dll $nome/7z.exe $nome/LEIA-ME.md $nome/kelvane-exec.exe $nome/kelvane.exe $nome/pasta-dados $nome/translations/qtbase_pt_BR.qm" ] ||
  falha "zip: $(unzip -Z1 "$t/$nome.zip")"
[ "$(unzip -Z1 "$t/$nome.zip" | sed -n "s|^$nome/docs/\(..*\)|\1|p" | sort | xargs)" = "$manual" ] ||
  falha "manual no zip: $(unzip -Z1 "$t/$nome.zip")"
[ "$(unzip -p "$t/$nome.zip" "$nome/pasta-dados")" = $'C:\\ProgramData\\Kelvane\r' ] ||
  falha "pasta-dados do zip: $(unzip -p "$t/$nome.zip" "$nome/pasta-dados")"
# The version and the icon as a resource compiler reads them back from each executable.
for exe in kelvane kelvane-exec; do
  unzip -p "$t/$nome.zip" "$nome/$exe.exe" >"$t/$exe.exe"
  x86_64-w64-mingw32-windres -i "$t/$exe.exe" -O rc -o "$t/$exe.rc" 2>/dev/null || falha "windres $exe"
  r=$(tr -d '\r' <"$t/$exe.rc" | sed -n '/VERSIONINFO/,/^END/p' | grep -e VERSION, -e "VERSION " -e BLOCK -e VALUE |
    sed 's/^ *//; s/VALUE //' | xargs -d '\n' | tr -d '"')
  [[ "$r" = "FILEVERSION ${versao/./, }, 0, 0 PRODUCTVERSION ${versao/./, }, 0, 0 BLOCK StringFileInfo BLOCK 041604B0 CompanyName, Kelvane FileDescription, "*"Kelvane: "*" FileVersion, $versao.0.0 InternalName, $exe.exe OriginalFilename, $exe.exe ProductName, Kelvane ProductVersion, $versao.0.0 BLOCK VarFileInfo Translation, 0x416, 1200" ]] &&
    grep -q 'Type: group icon' "$t/$exe.rc" || falha "recursos de $exe.exe: $r"
done
cp "$build/$nome.exe" "$t/"
[[ "$(file "$t/$nome.exe")" = *x86-64* ]] || falha "instalador não é de 64 bits: $(file "$t/$nome.exe")"

timeout 300 "$WINE64" wineboot -i </dev/null >/dev/null 2>&1 || falha "wineboot"
s32=$WINEPREFIX/drive_c/windows/system32
cp "$build/ponte/ponte.exe" "$s32/schtasks.exe"
cat >"$s32/schtasks.sh" <<EOF
case \$1 in
  /Create) cp "\$3" "$t/tarefa.xml" ;;
  /Query) iconv -f UTF-16 -t UTF-8 "$t/tarefa.xml" ;;
  /Delete) rm "$t/tarefa.xml" ;;
  *) exit 1 ;;
esac
EOF
# What the task runs, as whom, when: "-" for what is missing, "futuro" for a first start after
# the install began ($antes) and within a day of it (a past one would count as missed and run at
# once).
tarefa() {
  python3 - "$t/tarefa.xml" "$antes" <<'EOF'
import datetime, sys, xml.etree.ElementTree as E
n = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
r = E.parse(sys.argv[1]).getroot()
campos = ["Actions/Exec/Command", "Actions/Exec/Arguments", "Actions/Exec/WorkingDirectory",
          "Principals/Principal/UserId", "Principals/Principal/LogonType",
          "Principals/Principal/RunLevel", "Triggers/CalendarTrigger/ScheduleByDay/DaysInterval",
          "Settings/MultipleInstancesPolicy", "Settings/StartWhenAvailable",
          "Settings/ExecutionTimeLimit"]
v = [r.findtext("/".join("t:" + p for p in c.split("/")), "-", n) for c in campos]
v.append(str(r.find("t:Actions", n).get("Context") == r.find("t:Principals/t:Principal", n).get("id")))
inicio = datetime.datetime.fromisoformat(r.findtext("t:Triggers/t:CalendarTrigger/t:StartBoundary", "", n))
antes = datetime.datetime.fromtimestamp(int(sys.argv[2]))
v.append(inicio.strftime("%H:%M") + (" futuro" if antes < inicio <= antes + datetime.timedelta(days=1, hours=1) else f" {inicio}"))
print("|".join(v))
EOF
}
wineserver_persistente
instalar() { wine_executar 120 "$t/$nome.exe" /S "$@"; }
p="$t/Kel&vane" # & is what a path brings into the task's XML
lnk="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kelvane.lnk"
fonte='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Kelvane'

# Under Wine a folder whose owner is not Wine's own user is ANONYMOUS LOGON's.
mkdir "$t/Alheia" && chown nobody "$t/Alheia"
code=0 && instalar "/DADOS=$(w "$t/Alheia")" "/D=$(w "$p")" >/dev/null 2>&1 || code=$?
[ "$code" = 2 ] && [ ! -e "$p" ] && [ -z "$(ls -A "$t/Alheia")" ] ||
  falha "pasta de dados de outra conta aceita: $code, $(ls -A "$p" "$t/Alheia" 2>&1 | xargs)"
# A folder others may change above the program's (Wine's Everyone for a 0777 folder, as Windows'
# Authenticated Users on one made under C:\): they could swap what SYSTEM runs.
mkdir -m 777 "$t/Aberta"
code=0 && instalar "/DADOS=$(w "$t/Dados")" "/D=$(w "$t/Aberta/Kelvane")" >/dev/null 2>&1 || code=$?
[ "$code" = 2 ] && [ -z "$(ls -A "$t/Aberta")" ] && [ ! -e "$t/Dados" ] ||
  falha "pasta do programa que outros alteram aceita: $code, $(ls -A "$t/Aberta" 2>&1 | xargs)"
code=0 && instalar /HORA=24:00 "/DADOS=$(w "$t/Dados")" "/D=$(w "$p")" >/dev/null 2>&1 || code=$?
[ "$code" = 2 ] && [ ! -e "$p" ] && [ ! -e "$t/Dados" ] || falha "/HORA=24:00 aceita: $code"

antes=$(date +%s)
instalar /HORA=03:15 "/DADOS=$(w "$t/Dados")" "/D=$(w "$p")" >/dev/null 2>&1 || falha "instalador terminou com $?"
[ "$(cd "$p" && ls | xargs)/$(ls "$p/translations")/$(ls "$p/docs" | sort | xargs)" = \
  "7z-Fonte.txt 7z-LGPL.txt 7z-Licenca.txt 7z.dll 7z.exe LEIA-ME.md Uninstall.exe docs kelvane-exec.exe kelvane.exe pasta-dados translations/qtbase_pt_BR.qm/$manual" ] ||
  falha "instalado: $(ls "$p")"
[ "$(cat "$p/pasta-dados")" = "$(w "$t/Dados")"$'\r' ] || falha "pasta-dados: $(cat "$p/pasta-dados")"
# Wine keeps a folder's permissions as its mode: others get nothing from SYSTEM's and the
# Administrators' alone, where a folder that inherited would be readable by everyone. Backups\ is
# the job's to make, for the one instance ServidorDB names.
[ "$(ls -A "$t/Dados")/$(stat -c %A "$t/Dados" | cut -c8-10)" = "/---" ] ||
  falha "pasta de dados: $(ls -lA "$t/Dados")"
wine_executar 60 reg query "$fonte" /v EventMessageFile 2>/dev/null | tr -d '\r' |
  grep -F "$(w "$p")\kelvane-exec.exe" >/dev/null || falha "fonte do registro de eventos não registrada"
esperado="$(w "$p")\\kelvane-exec.exe|EXEC|$(w "$t/Dados")|S-1-5-18|ServiceAccount|HighestAvailable|1|IgnoreNew|true|PT23H|True"
[ "$(tarefa)" = "$esperado|03:15 futuro" ] || falha "tarefa: $(tarefa)"
# The window for all users, asking for elevation (RunAsUser, 0x2000 of the link's flags).
[ $(($(od -An -tu1 -j21 -N1 "$lnk") & 0x20)) != 0 ] && [[ "$(strings -el "$lnk")" = *"$(w "$p")\kelvane.exe"* ]] ||
  falha "atalho: $(strings -el "$lnk" 2>&1 | tr "\n" " ")"
# The job's run (the window's save checks the same tools): none of 7-Zip's is missing.
code=0 && wine_executar 60 "$p/kelvane-exec.exe" EXEC >/dev/null 2>&1 || code=$?
log=$(cut -c23- "$t/Dados"/Log/*.Log | iconv -f CP1252 | tr -d '\r') || true
[ "${log%%$'\n'*}" = "Inicio do Processo" ] && [[ "$log" != *"faltando o arquivo: 7z"* ]] &&
  [ "$code" != 9 ] && [ "$code" != 0 ] || falha "EXEC instalado: $code, $log"

# Over it, with nothing on the command line: the same folders, info.ini as it was, the program
# replaced, the task's time as the scheduler has it (changed there by hand).
printf '[Geral]\r\nNomeCliente=Ação\r\n' >"$t/Dados/info.ini" && cp "$t/Dados/info.ini" "$t/info.antes"
echo velho >"$p/LEIA-ME.md" && mkdir "$t/Dados/Backups" # as an earlier installer left it
iconv -f UTF-16 -t UTF-8 "$t/tarefa.xml" | sed 's/T03:15:00/T05:40:00/' | iconv -f UTF-8 -t UTF-16 >"$t/t.xml" &&
  mv "$t/t.xml" "$t/tarefa.xml"
antes=$(date +%s)
instalar >/dev/null 2>&1 || falha "atualização terminou com $?"
[ ! -e "$t/Dados/Backups" ] && cmp -s "$t/Dados/info.ini" "$t/info.antes" && unzip -p "$t/$nome.zip" "$nome/LEIA-ME.md" | cmp -s - "$p/LEIA-ME.md" ||
  falha "atualização: info.ini ou programa"
[ "$(tarefa)" = "$esperado|05:40 futuro" ] || falha "tarefa atualizada: $(tarefa)"

wine_executar 60 "$p/Uninstall.exe" /S "_?=$(w "$p")" >/dev/null 2>&1 || falha "desinstalador: $?"
[ ! -e "$p/kelvane.exe" ] && [ ! -e "$p/pasta-dados" ] && [ ! -e "$p/7z.dll" ] && [ ! -e "$p/docs" ] &&
  [ -n "$(ls "$t/Dados/Log")" ] && cmp -s "$t/Dados/info.ini" "$t/info.antes" ||
  falha "desinstalado: $(ls -A "$p" "$t/Dados" | xargs)"
[ ! -e "$t/tarefa.xml" ] && [ ! -e "$lnk" ] || falha "tarefa ou atalho ficaram"
! wine_executar 60 reg query "$fonte" >/dev/null 2>&1 || falha "fonte de eventos ficou no registro"

# Asked to delete the data, where SQL Server's service (Backups\) or anyone before (the folder
# itself) left links to a folder outside: the links go, never what they lead to.
instalar "/DADOS=$(w "$t/Dados")" "/D=$(w "$p")" >/dev/null 2>&1 || falha "reinstalação: $?"
mkdir "$t/Fora" "$t/Dados/Backups" && echo fora >"$t/Fora/arquivo"
ln -s "$t/Fora" "$t/Dados/Backups/ligacao" && ln -s "$t/Fora" "$t/Dados/ligacao"
wine_executar 60 "$p/Uninstall.exe" /S /APAGARDADOS "_?=$(w "$p")" >/dev/null 2>&1 || falha "desinstalador: $?"
[ "$(cat "$t/Fora/arquivo")" = fora ] && [ -z "$(find "$t/Dados" -type f)" ] ||
  falha "dados apagados: $(find "$t/Fora" "$t/Dados" | xargs)"
echo OK
