#!/usr/bin/env bash
# Builds libcurl for Windows (static, MinGW-w64) from Debian's own sources, once, into
# $KELVANE_CURL_WINDOWS (scripts/ambiente_windows.sh); a later run only checks. TLS is Schannel and
# SSH's crypto WinCNG: the system's own, with the system's trust store, so nothing but Windows'
# DLLs is loaded. Only FTP, FTPS and SFTP. A few minutes on 2 cores.
# curl is Debian 12's; libssh2 is Debian 13's (1.11): under WinCNG 1.10 knows RSA host keys only
# as ssh-rsa (SHA-1), which OpenSSH 8.8 and later refuse, and no ECDSA, so it could not talk to a
# current sshd. Its source comes through apt with a list of its own, checked against Debian's
# archive keys as the system's own sources are.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ambiente_windows.sh

# Written last, with what went in: a cache without it, or built from other sources, is redone.
pronto="$KELVANE_CURL_WINDOWS/.pronto"
conteudo="curl bookworm, libssh2 trixie com ECDSA"
[ "$(cat "$pronto" 2>/dev/null)" = "$conteudo" ] && exit 0
fonte="$KELVANE_CURL_WINDOWS.fonte"
registro="$KELVANE_CURL_WINDOWS.log"

falhou() {
  tail -n 40 "$registro" >&2
  echo "libcurl para Windows: $1 falhou; o registro completo: $registro" >&2
  exit 1
}

# A security update's source may be missing from a mirror: then the newest one it has.
baixar() {
  local pacote=$1 versao
  apt-get source -qq "$pacote" >>"$registro" 2>&1 && return
  for versao in $(apt-cache showsrc "$pacote" | sed -n 's/^Version: //p'); do
    apt-get source -qq "$pacote=$versao" >>"$registro" 2>&1 && return
  done
  falhou "apt-get source $pacote"
}

# Debian 13's libssh2 source, with apt's lists for it in the build folder only.
baixar_ssh2() {
  local apt=$fonte/apt
  mkdir -p "$apt/listas/partial"
  printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: trixie' \
    'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' \
    >"$apt/trixie.sources"
  local opcoes=(-o Dir::Etc::SourceList="$apt/trixie.sources" -o Dir::Etc::SourceParts=-
    -o Dir::State::Lists="$apt/listas" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
  apt-get "${opcoes[@]}" update -qq >>"$registro" 2>&1 || falhou "apt-get update (trixie)"
  apt-get "${opcoes[@]}" source -qq libssh2/trixie >>"$registro" 2>&1 ||
    falhou "apt-get source libssh2/trixie"
}

rm -rf "$fonte" && mkdir -p "$fonte"
: >"$registro"
# libssh2 is kept from an interrupted run of this same version.
marca_ssh2="$KELVANE_CURL_WINDOWS/.ssh2-trixie-ecdsa"
if [ ! -f "$KELVANE_CURL_WINDOWS/lib/libssh2.a" ] || [ ! -f "$marca_ssh2" ]; then
  rm -rf "$KELVANE_CURL_WINDOWS"
fi
(cd "$fonte" && { [ -d "$KELVANE_CURL_WINDOWS" ] || baixar_ssh2; } && baixar curl)
curl=$(echo "$fonte"/curl-*/)
comum=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX="$KELVANE_CURL_WINDOWS")

if [ ! -f "$KELVANE_CURL_WINDOWS/lib/libssh2.a" ]; then
  ssh2=$(echo "$fonte"/libssh2-*/)
  # ECDSA under WinCNG needs Windows 10's raw ECDH secret, the floor of this program anyway.
  cmake -S "$ssh2" -B "$fonte/obra-ssh2" "${comum[@]}" -DCRYPTO_BACKEND=WinCNG \
    -DENABLE_ECDSA_WINCNG=ON -DBUILD_EXAMPLES=OFF -DENABLE_ZLIB_COMPRESSION=OFF \
    >>"$registro" 2>&1 || falhou "libssh2 (cmake)"
  nice cmake --build "$fonte/obra-ssh2" -j2 --target install >>"$registro" 2>&1 || falhou "libssh2"
  touch "$marca_ssh2"
fi

# HTTP stays: Debian's patched FTP code calls into it.
desligados=()
for p in DICT FILE GOPHER IMAP LDAP LDAPS MQTT POP3 RTSP SMB SMTP TELNET TFTP COOKIES ALTSVC \
  HSTS DOH NETRC PROXY NTLM MIME; do
  desligados+=(-DCURL_DISABLE_$p=ON)
done
cmake -S "$curl" -B "$fonte/obra-curl" "${comum[@]}" "${desligados[@]}" -DBUILD_CURL_EXE=OFF \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=ON \
  -DLIBSSH2_INCLUDE_DIR="$KELVANE_CURL_WINDOWS/include" \
  -DLIBSSH2_LIBRARY="$KELVANE_CURL_WINDOWS/lib/libssh2.a" -DCURL_ZLIB=OFF -DUSE_LIBIDN2=OFF \
  -DCURL_USE_LIBPSL=OFF -DENABLE_UNIX_SOCKETS=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none \
  -DENABLE_MANUAL=OFF >>"$registro" 2>&1 || falhou "curl (cmake)"
nice cmake --build "$fonte/obra-curl" -j2 --target install >>"$registro" 2>&1 || falhou "curl"
rm -rf "$fonte"
echo "$conteudo" >"$pronto"
