#!/usr/bin/env bash
# Builds libcurl for Windows (static, MinGW-w64) from Debian's own sources, once, into
# $KELVANE_CURL_WINDOWS (scripts/ambiente_windows.sh); a later run only checks. TLS is Schannel,
# the system's own with the system's trust store. SSH's crypto is OpenSSL's libcrypto, linked in:
# the same code on every Windows and under Wine, with Ed25519 host keys, which libssh2 knows only
# on OpenSSL (Windows' CNG, as Wine has it, cannot do libssh2's key exchange at all). Only FTP,
# FTPS and SFTP. A few minutes on 2 cores.
# curl and OpenSSL (3.0) are Debian 12's; libssh2 is Debian 13's (1.11): 1.10 knows RSA host keys
# only as ssh-rsa (SHA-1), which OpenSSH 8.8 and later refuse. Its source comes through apt with a
# list of its own, checked against Debian's archive keys as the system's own sources are.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ambiente_windows.sh

# Written last, with what went in: a cache without it, or built from other sources, is redone.
pronto="$KELVANE_CURL_WINDOWS/.pronto"
conteudo="curl bookworm, libssh2 trixie, OpenSSL bookworm"
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
  for versao in $(apt-cache showsrc "$pacote" | sed -n 's/^Version: //p' | sort -rV); do
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
# OpenSSL and libssh2 are kept from an interrupted run of this same version, each once whole.
marca="$KELVANE_CURL_WINDOWS/.partes"
[ "$(cat "$marca" 2>/dev/null)" = "$conteudo" ] || rm -rf "$KELVANE_CURL_WINDOWS"
mkdir -p "$KELVANE_CURL_WINDOWS/include/openssl" "$KELVANE_CURL_WINDOWS/lib"
echo "$conteudo" >"$marca"
libcrypto="$KELVANE_CURL_WINDOWS/lib/libcrypto.a" marca_ssh2="$KELVANE_CURL_WINDOWS/.libssh2"
(cd "$fonte" && { [ -f "$libcrypto" ] || baixar openssl; } &&
  { [ -f "$marca_ssh2" ] || baixar_ssh2; } && baixar curl)
curl=$(echo "$fonte"/curl-*/)
# The cache is searched as a prefix of Windows libraries (cmake/mingw-w64.cmake): libssh2 finds
# libcrypto there.
comum=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX="$KELVANE_CURL_WINDOWS"
  -DCMAKE_PREFIX_PATH="$KELVANE_CURL_WINDOWS")

if [ ! -f "$libcrypto" ]; then
  # libcrypto alone (libssh2 needs no TLS), static, with what an SSH client uses: AES, SHA-1/2,
  # MD5 (fingerprints), HMAC, bignums for RSA and Diffie-Hellman, ECDSA, ECDH, X25519, Ed25519.
  # No engines or modules loaded from disk and no configuration file read: on Windows their
  # default folders are under C:\, where any account may create them.
  ossl=$(echo "$fonte"/openssl-*/)
  (cd "$ossl" && ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- \
    --prefix="$KELVANE_CURL_WINDOWS" no-shared no-dso no-engine no-autoload-config no-tests \
    no-legacy no-ssl no-dtls no-ui-console no-aria no-bf no-blake2 no-camellia no-cast \
    no-chacha no-poly1305 no-cmac no-cmp no-cms no-comp no-ct no-des no-dsa no-ec2m no-gost \
    no-idea no-md4 no-mdc2 no-ocb no-ocsp no-rc2 no-rc4 no-rfc3779 no-rmd160 no-scrypt no-seed \
    no-siphash no-siv no-sm2 no-sm3 no-sm4 no-srp no-srtp no-ts no-whirlpool) \
    >>"$registro" 2>&1 || falhou "OpenSSL (Configure)"
  nice make -C "$ossl" -j2 build_generated >>"$registro" 2>&1 || falhou "OpenSSL (cabeçalhos)"
  nice make -C "$ossl" -j2 libcrypto.a >>"$registro" 2>&1 || falhou "OpenSSL (libcrypto)"
  cp "$ossl"/include/openssl/*.h "$KELVANE_CURL_WINDOWS/include/openssl/"
  cp "$ossl/libcrypto.a" "$libcrypto.novo" && mv "$libcrypto.novo" "$libcrypto"
fi
if [ ! -f "$marca_ssh2" ]; then
  ssh2=$(echo "$fonte"/libssh2-*/)
  cmake -S "$ssh2" -B "$fonte/obra-ssh2" "${comum[@]}" -DCRYPTO_BACKEND=OpenSSL \
    -DOPENSSL_USE_STATIC_LIBS=ON -DBUILD_EXAMPLES=OFF -DENABLE_ZLIB_COMPRESSION=OFF \
    >>"$registro" 2>&1 || falhou "libssh2 (cmake)"
  nice cmake --build "$fonte/obra-ssh2" -j2 --target install >>"$registro" 2>&1 || falhou "libssh2"
  touch "$marca_ssh2"
fi

# Schannel decides whether to trust the server's certificate by itself only where the Windows
# underneath does (Wine's accepts any): libcurl checks the chain with the system's chain engine
# (its trust store, the root updates and revocation checks Windows applies) and the name itself,
# as it already does against CertificadoFTP's CA.
sed -z -i 's/  else\n    backend->use_manual_cred_validation = false;/  else\n    backend->use_manual_cred_validation = true;/' \
  "$curl/lib/vtls/schannel.c"
grep -q "use_manual_cred_validation = false" "$curl/lib/vtls/schannel.c" && falhou "curl (schannel.c)"

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
