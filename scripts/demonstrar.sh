#!/usr/bin/env bash
# A full unattended backup against the bundled local test servers: installs and builds, starts a
# SQL Server stand-in and an FTP server on 127.0.0.1, lays out the program and its data folder
# in demo/ as installed (demo/programa names demo/dados in its pasta-dados), runs
# `kelvane EXEC`, shows the log and what reached the FTP server, and stops the servers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/preparar.sh

raiz=$(pwd)
demo="$raiz/demo"
rm -rf "$demo"
mkdir -p "$demo/programa" "$demo/ftp/backups"
install -d -m 0700 "$demo/dados" # settings, logs and backups: the job's account's alone
echo "$demo/dados" >"$demo/programa/pasta-dados"
cp build/kelvane build/window/kelvane-janela.so "$demo/programa/"
ln -s /usr/lib/p7zip/7z "$demo/programa/7z"
ln -s /usr/lib/p7zip/7z.so "$demo/programa/7z.so"
ln -s /usr/bin/ncftpput "$demo/programa/ncftpput"

pids=()
parar() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done; }
trap parar EXIT

# Starts a server in the background and stores the port it announces in the variable named $1.
iniciar() {
  local variavel="$1" saida="$2"; shift 2
  /usr/bin/python3 "$@" >"$saida" 2>"$saida.err" &
  pids+=($!)
  for _ in $(seq 100); do
    if grep -q '^LISTENING ' "$saida"; then
      printf -v "$variavel" '%s' "$(awk '/^LISTENING/{print $2; exit}' "$saida")"
      return
    fi
    sleep 0.1
  done
  echo "servidor não iniciou: $*" >&2; cat "$saida.err" >&2; exit 1
}

iniciar porta_tds "$demo/tds.out" tests/servers/tds_server.py --user sa --password 'Demo;Senha 1' \
  --database Vendas --backup-size $((32 * 1024 * 1024)) --batches "$demo/lotes.jsonl"
iniciar porta_ftp "$demo/ftp.out" tests/servers/ftp_server.py --root "$demo/ftp" \
  --user kelvane --password 'senha com espaco'

cat >"$demo/dados/info.ini" <<INI
[infos]
NCripto=1
CodigoCliente=00 42
NomeCliente=Casa Azul
ServidorDB=127.0.0.1,$porta_tds
Banco=Vendas
SSPI=0
Login=sa
Senha=Demo;Senha 1
Usuario=kelvane
Passw=senha com espaco
ServidorFTP=1
Endereco=127.0.0.1
Porta=$porta_ftp
Diretorio=/backups
INI
chmod 600 "$demo/dados/info.ini"

echo "== kelvane EXEC"
set +e
"$demo/programa/kelvane" EXEC
codigo=$?
set -e
echo "== código de saída: $codigo"
echo "== log"
cat "$demo"/dados/Log/*.Log
echo "== no servidor FTP ($demo/ftp/backups)"
ls -l "$demo/ftp/backups"
echo "== pasta do programa ($demo/programa)"
ls -l "$demo/programa"
echo "== pasta de dados ($demo/dados)"
ls -l "$demo/dados"
exit "$codigo"
