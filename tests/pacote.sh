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
esperado=$({ echo opt/kelvane/{7z,7z.so,doc/README.md,exemplos/kelvane.{cron,service,timer},kelvane,\
kelvane-janela,kelvane-janela.so,kelvane.{desktop,png},ncftpput,pasta-dados} \
  usr/share/applications/kelvane.desktop usr/share/polkit-1/actions/br.kelvane.janela.policy
  cd "$servidores/../../docs" && ls *.md *.png | sed 's|^|opt/kelvane/doc/docs/|'; } | xargs -n1 | sort | xargs)
[ "$(cd "$t/raiz" && find . ! -type d | cut -c3- | sort | xargs)" = "$esperado" ] ||
  falha "conteúdo: $(cd "$t/raiz" && find . ! -type d)"
python3 "$servidores/../../scripts/conferir_links.py" "$p/doc" >/dev/null || falha "links do manual instalado"
[ -z "$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')" ] || falha "dono diferente de root"
deps=$(dpkg-deb --field "$deb" Depends)
for d in libqt6widgets6 unixodbc tdsodbc p7zip-full ncftp; do grep -qw $d <<<"$deps" || falha "sem $d"; done
for f in 7z 7z.so ncftpput; do [ -e "$p/$f" ] || falha "$f não aponta para a ferramenta"; done
grep -qx 'Exec=pkexec "/opt/kelvane/kelvane-janela"' "$p/kelvane.desktop" || falha "menu não abre a janela"
desktop-file-validate "$t/raiz/usr/share/applications/kelvane.desktop" || falha "entrada do menu inválida"
acao=$t/raiz/usr/share/polkit-1/actions/br.kelvane.janela.policy
[ "$(xmllint --xpath 'string(//action[@id="br.kelvane.janela"][defaults/allow_active="auth_admin"]/annotate[@key="org.freedesktop.policykit.exec.path"])' "$acao")" = /opt/kelvane/kelvane-janela ] ||
  falha "ação do polkit: $(cat "$acao")"
grep -qx 'ExecStart="/opt/kelvane/kelvane" EXEC' "$p/exemplos/kelvane.service" || falha serviço
! grep -q SuccessExitStatus "$p/exemplos/kelvane.service" || falha "serviço aceita falha"
grep -Eqx 'TimeoutStartSec=[0-9]+h' "$p/exemplos/kelvane.service" || falha "serviço sem limite de tempo"
grep -qx User=mssql "$p/exemplos/kelvane.service" && grep -qx /var/opt/kelvane "$p/pasta-dados" &&
  grep -qx WorkingDirectory=/var/opt/kelvane "$p/exemplos/kelvane.service" ||
  falha "dados e serviço não são da conta do SQL Server"

servidor() { # <variable> <script> <arguments>: starts it, to end with this shell even on SIGKILL
  setpriv --pdeathsig KILL sh -c '[ "$PPID" = "$0" ] && exec "$@"' $$ \
    /usr/bin/python3 -I "$servidores/$2" "${@:3}" >"$t/$2.out" &
  for _ in $(seq 100); do grep -q LISTENING "$t/$2.out" && break; sleep 0.1; done
  printf -v "$1" %s "$(awk '{print $2}' "$t/$2.out")" # its port
}
mkdir -p "$t/ftp/backups"
install -d -m 0700 "$t/dados"
echo "$t/dados" >"$p/pasta-dados" # the unpacked copy's data, not this machine's
servidor tds tds_server.py --password=S3nha --batches="$t/lotes"
servidor ftp ftp_server.py --root="$t/ftp" --password=P4ss
umask 077 # the data: ours alone
printf '[infos]\nNCripto=1\nCodigoCliente=1\nNomeCliente=Casa\nServidorDB=127.0.0.1,%s\nBanco=Vendas
Login=sa\nSenha=S3nha\nUsuario=kelvane\nPassw=P4ss\nEndereco=127.0.0.1\nPorta=%s\nDiretorio=/backups\n' \
  "$tds" "$ftp" >"$t/dados/info.ini"
"$p/kelvane" EXEC || falha "EXEC terminou com $?: $(cat "$t"/dados/Log/*)"
grep -q "DISK = N'$t/dados/KVLN_1_Casa_" "$t/lotes" || falha "backup fora da pasta de dados"
[ "$(find "$p" -newer "$t/dados/info.ini" -print -quit)" = "" ] || falha "a execução gravou na pasta do programa"
"$p/7z" t "$t"/ftp/backups/KVLN_1_Casa_*.7z >/dev/null || falha "nada chegou ao FTP"
# The menu's launcher, run as root with a hostile environment, opens the window as root with the
# display alone; meanwhile no process of the data's account reaches the display (the program here
# a stand-in that says who and with what it ran, and has the account dial the display without a
# cookie). A refusal goes to a box too: the stand-in hears what the box says.
if [ "$(id -u)" = 0 ] && getent passwd nobody >/dev/null && command -v xvfb-run >/dev/null; then
  chmod 0711 "$t" && chown nobody: "$t/dados" && mv "$p/kelvane" "$t/kelvane"
  cat >"$t/tela.py" <<'FIM'
import os, socket, struct, sys
s = socket.socket(socket.AF_UNIX)
s.connect("/tmp/.X11-unix/X" + os.environ["DISPLAY"].split(":")[1].split(".")[0])
s.sendall(struct.pack("<cxHHHHxx", b"l", 11, 0, 0, 0))
sys.exit(s.recv(1) != b"\x01")
FIM
  cat >"$p/kelvane" <<FIM
#!/bin/sh
{ id -un; echo "\$*"; tr "\\0" "\\n" </proc/\$\$/environ | cut -d= -f1 | sort | xargs
  ! DISPLAY=\$DISPLAY setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/python3 -I \\
    $t/tela.py || echo "a tela aceitou nobody"; } >>$t/sonda
FIM
  chmod 0755 "$t/tela.py" "$p/kelvane"
  xvfb-run -a env LD_PRELOAD="$t/hostil.so" HOME="$t" QT_PLUGIN_PATH="$t" QT_QPA_PLATFORM=offscreen \
    "$p/kelvane-janela" 2>/dev/null || falha "lançador do menu terminou com $?"
  echo "$t/nada" >"$p/pasta-dados"
  ! xvfb-run -a "$p/kelvane-janela" 2>/dev/null || falha "lançador abriu a janela sem a pasta de dados"
  printf -v esperado '%s\n' root "" "DISPLAY HOME LANG LOGNAME PATH USER XAUTHORITY" root \
    "AVISO a pasta de dados $t/nada não existe" "DISPLAY HOME LANG PATH XAUTHORITY"
  [ "$(cat "$t/sonda")" = "${esperado%?}" ] || falha "lançador do menu: $(cat "$t/sonda")"
  echo "$t/dados" >"$p/pasta-dados"
  mv "$t/kelvane" "$p/kelvane" && chown root: "$t/dados"
else
  echo "pulado: o lançador do menu precisa de root, da conta nobody e de xvfb-run"
fi

# An install never writes through a link left where it writes.
mkdir -p "$t/alvo" "$t/ligado/srv/kv2" && ln -s "$t/alvo" "$t/ligado/srv/kv2/exemplos"
! DESTDIR=$t/ligado cmake --install "$build" --prefix /srv/kv2 >/dev/null 2>&1 &&
  [ -z "$(ls -A "$t/alvo")" ] || falha "cmake --install gravou através de um link"

# An earlier layout (the program folder the data's account's, links planted, runs as root) is
# taken apart by the package's scripts before anything is unpacked.
if [ "$(id -u)" = 0 ] && getent passwd nobody >/dev/null; then
  v=$t/velho
  chmod 0711 "$t" # the data's account reaches its old folder, as under /opt
  (umask 022 && mkdir -p "$v/opt/kelvane/Log" "$v/etc/cron.d" "$v/etc/systemd/system")
  echo '[infos]' >"$v/opt/kelvane/info.ini" && echo x >"$v/opt/kelvane/KVLN_1_Casa_010126.7z"
  ln -s "$t/alvo" "$v/opt/kelvane/exemplos" && cp "$p/kelvane" "$v/opt/kelvane/kelvane"
  chown -R nobody: "$v/opt/kelvane" && chown root: "$v/opt/kelvane/kelvane" && chmod 0700 "$v/opt/kelvane"
  printf '0 2 * * * root /opt/kelvane/kelvane EXEC\n0 3 * * * mssql /opt/kelvane/kelvane EXEC\n' >"$v/etc/cron.d/k"
  printf '[Service]\nExecStart=/opt/kelvane/kelvane EXEC\n' >"$v/etc/systemd/system/k.service"
  dpkg-deb -e "$deb" "$t/controle"
  # Run from a terminal, as apt is: what runs as the data's account has none to type into (its
  # find says which terminal it has).
  mkdir -m 0755 "$t/sondas" && install -m 0666 /dev/null "$t/tty"
  printf '#!/bin/sh\n[ "$(id -u)" = 0 ] || cut -d" " -f7 /proc/$$/stat >>%s/tty\nexec /usr/bin/find "$@"\n' \
    "$t" >"$t/sondas/find" && chmod 0755 "$t/sondas/find"
  script -qec "PATH=$t/sondas:\$PATH DPKG_ROOT=$v sh $t/controle/preinst upgrade 1.0" /dev/null \
    >"$t/preinst.out" || falha "preinst terminou com $?: $(cat "$t/preinst.out")"
  [ "$(sort -u "$t/tty")" = 0 ] || falha "a conta dos dados rodou com o terminal $(cat "$t/tty")"
  dpkg-deb -x "$deb" "$v" && DPKG_ROOT=$v sh "$t/controle/postinst" configure 1.0 || falha postinst
  [ "$(stat -c '%U %a' "$v/opt/kelvane")" = "root 755" ] && [ -d "$v/opt/kelvane/exemplos" ] &&
    [ ! -L "$v/opt/kelvane/exemplos" ] && [ -z "$(ls -A "$t/alvo")" ] || falha "pasta do programa: $(ls -la "$v/opt/kelvane")"
  [ -z "$(find "$v/opt/kelvane" ! -user root)" ] || falha "restou algo de outra conta no programa"
  [ "$(stat -c '%U %a' "$v/var/opt/kelvane")" = "nobody 700" ] && [ -f "$v/var/opt/kelvane/info.ini" ] &&
    [ -d "$v/var/opt/kelvane/Log" ] && [ -f "$v/var/opt/kelvane/KVLN_1_Casa_010126.7z" ] ||
    falha "dados não foram movidos: $(ls -la "$v/var/opt/kelvane")"
  ! setpriv --reuid=65534 --regid=65534 --clear-groups mv "$v/opt/kelvane/kelvane" "$v/opt/kelvane/k" 2>/dev/null ||
    falha "a conta dos dados trocou o programa"
  grep -q '^# desativado.*root /opt/kelvane/kelvane EXEC$' "$v/etc/cron.d/k" &&
    grep -qx '0 3 \* \* \* mssql /opt/kelvane/kelvane EXEC' "$v/etc/cron.d/k" || falha "cron: $(cat "$v/etc/cron.d/k")"
  [ -f "$v/etc/systemd/system/k.service.desativado" ] && [ ! -e "$v/etc/systemd/system/k.service" ] ||
    falha "unidade de root não foi desativada"
else
  echo "pulado: a migração do pacote precisa de root e da conta nobody"
fi

# Under another prefix the menu entry and the examples name that folder.
DESTDIR=$t/outro cmake --install "$build" --prefix /srv/kv >/dev/null && [ -x "$t/outro/srv/kv/kelvane" ]
! grep -rqE '(^|[^a-z/])/opt/kelvane' "$t"/outro/srv/kv/{kelvane.desktop,exemplos} || falha "caminho fixo em /opt"
echo OK
