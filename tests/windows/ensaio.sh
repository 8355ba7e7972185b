#!/usr/bin/env bash
# The Windows side under Wine, once scripts/preparar_windows.sh has run: a program built with
# cmake/mingw-w64.cmake ends with its own status, 7z.exe packs and tests (a broken archive fails),
# the ncftpput.exe relay uploads to an FTP server on 127.0.0.1, and with Qt for Windows built a
# dialog draws.
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/ambiente_windows.sh
B=build-win-testes
for f in "$B/ola.exe" "$B/ncftpput.exe" "$KELVANE_7Z_WINDOWS/7z.dll" "$WINEPREFIX/.pronto"; do
  [ -e "$f" ] || { echo "skipped: $f is missing (run scripts/preparar_windows.sh)"; exit 0; }
done
wineserver_persistente
T=$(mktemp -d)
ftp=
trap '[ -z "$ftp" ] || kill "$ftp"; rm -rf "$T"' EXIT
ok=0 falhas=0
confere() { # confere <what> <command...>
  if "${@:2}"; then ok=$((ok + 1)) && echo "ok    $1"; else falhas=$((falhas + 1)) && echo "FALHA $1"; fi
}
nao() { ! "$@"; }
w() { echo "Z:${1//\//\\}"; } # the Windows name of a Linux path

saida=$(wine_executar 30 "$B/ola.exe" 7)
confere "ola.exe: its line and status 7" [ "$?/$saida" = $'7/ola do Windows\r' ]

cp "$KELVANE_7Z_WINDOWS/7z.exe" "$KELVANE_7Z_WINDOWS/7z.dll" "$T/"
head -c 1000000 /dev/urandom >"$T/dados.BAK"
sete() { wine_executar 60 "$T/7z.exe" "$1" -spd "$(w "$T/a.7z")" "${@:2}" >>"$T/7z.log" 2>&1; }
confere "7z.exe a" sete a "$(w "$T/dados.BAK")"
confere "7z.exe t" sete t
cp "$T/a.7z" "$T/São Paulo.7z"
printf 'XXXXXXXXXXXXXXXX' | dd of="$T/a.7z" bs=1 seek=500000 conv=notrunc status=none
confere "7z.exe t on a broken archive fails" nao sete t

mkdir -p "$T/ftp/backups"
/usr/bin/python3 tests/servers/ftp_server.py --root "$T/ftp" --password segredo >"$T/ftp.out" &
ftp=$!
for _ in $(seq 100); do [ -s "$T/ftp.out" ] && break || sleep 0.1; done
read -r _ porta _ <"$T/ftp.out"
printf 'host 127.0.0.1\nuser kelvane\npass %s\n' segredo >"$T/login.cfg"
printf 'host 127.0.0.1\nuser kelvane\npass %s\n' errada >"$T/errado.cfg"
envia() {
  wine_executar 60 "$B/ncftpput.exe" -f "$(w "$T/$1")" -P "$porta" -F -S .parcial -- /backups \
    "$(w "$T/São Paulo.7z")" >"$T/envio.log" 2>&1
}
confere "ncftpput.exe uploads" envia login.cfg
confere "the archive arrived whole" cmp -s "$T/São Paulo.7z" "$T/ftp/backups/São Paulo.7z"
envia errado.cfg
confere "a refused login: status 1 and ncftpput's words" \
  [ "$?/$(grep -c 'not accepted for login' "$T/envio.log")" = 1/1 ]

# Built only with Qt for Windows in the cache (scripts/qt_windows.sh).
if [ -e "$B/janela_minima.exe" ]; then
  saida=$(wine_executar 60 "$B/janela_minima.exe" "$(w "$T/janela.png")")
  confere "janela_minima.exe: a dialog drawn to a PNG, Qt's own texts in Portuguese" \
    [ "$?/$(grep -c '(pt_BR)' <<<"$saida")/$(head -c 4 "$T/janela.png" | tail -c 3)" = 0/1/PNG ]
fi

echo "$ok passed, $falhas failed"
[ "$falhas" -eq 0 ]
