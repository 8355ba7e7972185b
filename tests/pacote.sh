#!/usr/bin/env bash
# The .deb from build tree $1 unpacked and run against the servers in $2; then another prefix.
set -euo pipefail
build=$1 servidores=$2
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT # the servers end with this shell
falha() { echo "FALHA: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$t/deb" >/dev/null
deb=$(echo "$t"/deb/*.deb)
dpkg-deb -x "$deb" "$t/raiz"
p=$t/raiz/opt/kelvane
esperado=$(echo opt/kelvane/{7z,7z.so,doc/README.md,exemplos/kelvane.{cron,service,timer},kelvane,\
kelvane-janela.so,kelvane.{desktop,png},ncftpput} usr/share/applications/kelvane.desktop)
[ "$(cd "$t/raiz" && find . ! -type d | cut -c3- | sort | xargs)" = "$esperado" ] ||
  falha "conteúdo: $(cd "$t/raiz" && find . ! -type d)"
[ -z "$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')" ] || falha "dono diferente de root"
deps=$(dpkg-deb --field "$deb" Depends)
for d in libqt6widgets6 unixodbc tdsodbc p7zip-full ncftp; do grep -qw $d <<<"$deps" || falha "sem $d"; done
for f in 7z 7z.so ncftpput; do [ -e "$p/$f" ] || falha "$f não aponta para a ferramenta"; done
grep -qx 'Exec="/opt/kelvane/kelvane"' "$p/kelvane.desktop" || falha "menu não abre a janela"
grep -qx 'ExecStart="/opt/kelvane/kelvane" EXEC' "$p/exemplos/kelvane.service" || falha serviço
! grep -q SuccessExitStatus "$p/exemplos/kelvane.service" || falha "serviço aceita falha"
grep -Eqx 'TimeoutStartSec=[0-9]+h' "$p/exemplos/kelvane.service" || falha "serviço sem limite de tempo"
grep -qx User=mssql "$p/exemplos/kelvane.service" && dpkg-deb -I "$deb" postinst | grep -q 'mssql mssql 0700' ||
  falha "pasta e serviço não são da conta do SQL Server"

servidor() { # <variable> <script> <arguments>: starts it, to end with this shell even on SIGKILL
  setpriv --pdeathsig KILL sh -c '[ "$PPID" = "$0" ] && exec "$@"' $$ \
    /usr/bin/python3 -I "$servidores/$2" "${@:3}" >"$t/$2.out" &
  for _ in $(seq 100); do grep -q LISTENING "$t/$2.out" && break; sleep 0.1; done
  printf -v "$1" %s "$(awk '{print $2}' "$t/$2.out")" # its port
}
mkdir -p "$t/ftp/backups"
servidor tds tds_server.py --password=S3nha --batches="$t/lotes"
servidor ftp ftp_server.py --root="$t/ftp" --password=P4ss
printf '[infos]\nNCripto=1\nCodigoCliente=1\nNomeCliente=Casa\nServidorDB=127.0.0.1,%s\nBanco=Vendas
Login=sa\nSenha=S3nha\nUsuario=kelvane\nPassw=P4ss\nEndereco=127.0.0.1\nPorta=%s\nDiretorio=/backups\n' \
  "$tds" "$ftp" >"$p/info.ini"
"$p/kelvane" EXEC || falha "EXEC terminou com $?: $(cat "$p"/Log/*)"
grep -q "DISK = N'$p/KVLN_1_Casa_" "$t/lotes" || falha "backup fora da pasta instalada"
"$p/7z" t "$t"/ftp/backups/KVLN_1_Casa_*.7z >/dev/null || falha "nada chegou ao FTP"
# Under another prefix the menu entry and the examples name that folder.
DESTDIR=$t/outro cmake --install "$build" --prefix /srv/kv >/dev/null && [ -x "$t/outro/srv/kv/kelvane" ]
! grep -rq /opt/kelvane "$t"/outro/srv/kv/{kelvane.desktop,exemplos} || falha "caminho fixo em /opt"
echo OK
