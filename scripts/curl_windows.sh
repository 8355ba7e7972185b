#!/usr/bin/env bash
# Builds libcurl for Windows (static, MinGW-w64) from Debian 12's own curl and libssh2 sources,
# once, into $KELVANE_CURL_WINDOWS (scripts/ambiente_windows.sh); a later run only checks. TLS is
# Schannel and SSH's crypto WinCNG: the system's own, with the system's trust store, so nothing
# but Windows' DLLs is loaded. Only FTP, FTPS and SFTP. A few minutes on 2 cores.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ambiente_windows.sh

pronto="$KELVANE_CURL_WINDOWS/.pronto" # written last: a cache without it is redone
[ -f "$pronto" ] && exit 0
fonte="$KELVANE_CACHE/fonte-curl"
registro="$KELVANE_CACHE/curl-windows.log"

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

rm -rf "$fonte" && mkdir -p "$fonte"
: >"$registro"
# libssh2 is kept from an interrupted run.
[ -f "$KELVANE_CURL_WINDOWS/lib/libssh2.a" ] || rm -rf "$KELVANE_CURL_WINDOWS"
(cd "$fonte" && { [ -d "$KELVANE_CURL_WINDOWS" ] || baixar libssh2; } && baixar curl)
curl=$(echo "$fonte"/curl-*/)
comum=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX="$KELVANE_CURL_WINDOWS")

if [ ! -f "$KELVANE_CURL_WINDOWS/lib/libssh2.a" ]; then
  ssh2=$(echo "$fonte"/libssh2-*/)
  cmake -S "$ssh2" -B "$fonte/obra-ssh2" "${comum[@]}" -DCRYPTO_BACKEND=WinCNG \
    -DBUILD_EXAMPLES=OFF -DENABLE_ZLIB_COMPRESSION=OFF >>"$registro" 2>&1 || falhou "libssh2 (cmake)"
  nice cmake --build "$fonte/obra-ssh2" -j2 --target install >>"$registro" 2>&1 || falhou "libssh2"
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
touch "$pronto"
