#!/usr/bin/env bash
# Prepares the Windows build on Debian 12: the MinGW-w64 cross compiler (posix threads), Wine,
# 7z.exe and 7z.dll built from Debian's own 7zip source, static libcurl from Debian's curl and
# libssh2 sources (scripts/curl_windows.sh), a Wine prefix with a wineserver that
# stays up; Qt 6 for Windows (scripts/qt_windows.sh); then builds kelvane.exe with its window into
# build-win/ and the tests' relay into build-win/ponte/.
# What it builds goes to the cache named in scripts/ambiente_windows.sh and is reused: a second
# run only checks. Prints how long each step took. Run as root or with sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ambiente_windows.sh

instalar() {
  bash scripts/instalar_pacotes.sh \
    g++-mingw-w64-x86-64-posix cmake make \
    wine wine64 fonts-wine \
    dpkg-dev xz-utils nsis unzip file \
    ninja-build qt6-base-dev qt6-translations-l10n \
    ncftp python3-pyftpdlib # Qt's build (scripts/qt_windows.sh); the relay; the tests' FTP server
}

# 7z.exe (the console) and 7z.dll with 7-Zip's own gcc makefiles, as Debian's source has them.
# The DLL is the bundle that holds the 7z format alone (7-Zip's own 7za.dll: LZMA, LZMA2, PPMd,
# the BCJ filters, AES-256), which is all the job and its tests ask of it, in a third of the
# compile of the all-formats one. That bundle has only a Windows makefile: its lists of objects
# are turned into one for gcc.
tem_7z() { [ -f "$KELVANE_7Z_WINDOWS/7z.exe" ] && [ -f "$KELVANE_7Z_WINDOWS/7z.dll" ]; }
makefile_7z_dll() { # <Bundles/Format7z>: makefile.gcc from its makefile
  awk '
    /^PROG = /                 { print "PROG = 7z"; next }
    /^CFLAGS = \$\(CFLAGS\)/    { print "LOCAL_FLAGS = \\"; next }
    /^!include/                { next }
    { gsub(/\$O\\/, "$O/"); gsub(/\.obj/, ".o"); print }
    END {
      # What its !include lines add on x64, in C instead of assembler.
      print "C_OBJS += $O/Aes.o $O/AesOpt.o $O/7zCrc.o $O/7zCrcOpt.o $O/LzFindOpt.o \\"
      print "  $O/Sha256.o $O/Sha256Opt.o $O/Sort.o"
      print "COMMON_OBJS += $O/Sha256Prepare.o"
      print "include ../../LzmaDec_gcc.mak"
      print "OBJS = $(LZMA_DEC_OPT_OBJS) $(C_OBJS) $(COMMON_OBJS) $(WIN_OBJS) $(7ZIP_COMMON_OBJS) \\"
      print "  $(AR_OBJS) $(AR_COMMON_OBJS) $(7Z_OBJS) $(COMPRESS_OBJS) $(CRYPTO_OBJS) $O/resource.o"
      print "include ../../7zip_gcc.mak"
    }' "$1/makefile" >"$1/makefile.gcc"
}
compilar_7z() {
  tem_7z && return
  local fonte="$KELVANE_CACHE/fonte-7zip" registro="$KELVANE_CACHE/7z-windows.log"
  rm -rf "$fonte" && mkdir -p "$fonte"
  (cd "$fonte" && apt-get source -qq 7zip) >"$registro" 2>&1
  local raiz
  raiz=$(echo "$fonte"/7zip-*/CPP/7zip)
  makefile_7z_dll "$raiz/Bundles/Format7z"
  for parte in UI/Console Bundles/Format7z; do
    if ! nice make -C "$raiz/$parte" -f ../../cmpl_gcc.mak CROSS_COMPILE=x86_64-w64-mingw32- \
      IS_MINGW=1 IS_X64=1 MSYSTEM=1 RC=x86_64-w64-mingw32-windres DISABLE_RAR=1 O=b/mingw \
      -j2 >>"$registro" 2>&1; then
      tail -n 30 "$registro" >&2
      echo "7z para Windows não compilou; o registro completo: $registro" >&2
      exit 1
    fi
  done
  mkdir -p "$KELVANE_7Z_WINDOWS"
  cp "$raiz/UI/Console/b/mingw/7z.exe" "$raiz/Bundles/Format7z/b/mingw/7z.dll" \
    "$KELVANE_7Z_WINDOWS/"
  textos_7z "$fonte"
  rm -rf "$fonte"
}
# What 7-Zip's licence asks to go with 7z.exe and 7z.dll in the installer (packaging/windows.cmake):
# its License.txt, the LGPL's text, and which source they were built from. From the source the
# binaries were built with; a cache built before this step gets them from the source package.
textos_7z() { # <folder holding the unpacked 7zip source and its .dsc>
  local doc
  doc=$(echo "$1"/7zip-*/DOC)
  cp "$doc/License.txt" "$doc/copying.txt" "$KELVANE_7Z_WINDOWS/"
  printf '%s\r\n' "7z.exe e 7z.dll: compilados com MinGW-w64, sem alterações no código, do pacote-fonte do Debian" \
    "$(basename "$1"/7zip_*.dsc .dsc) (apt-get source 7zip), com o formato 7z apenas no 7z.dll." \
    "Código-fonte: o pacote 7zip desta versão no arquivo do Debian." >"$KELVANE_7Z_WINDOWS/fonte.txt"
}
licenca_7z() {
  [ -f "$KELVANE_7Z_WINDOWS/fonte.txt" ] && return
  local fonte
  fonte=$(mktemp -d)
  (cd "$fonte" && apt-get source -qq 7zip) >/dev/null 2>&1
  textos_7z "$fonte"
  rm -rf "$fonte"
}

# A prefix made by an older version of this script is set up again. Programs that draw (Qt's
# windows) draw with no display: Wine's null graphics driver, in the registry before any program
# starts the desktop, and Wine's own Tahoma, the font Windows dialogs ask for.
versao_prefixo=3
prefixo_wine() {
  if [ "$(cat "$WINEPREFIX/.pronto" 2>/dev/null)" != $versao_prefixo ]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true # one left by an interrupted first run
    timeout 600 "$WINE64" wineboot -i </dev/null >/dev/null 2>&1
    for v in TEMP TMP; do
      timeout 60 "$WINE64" reg add 'HKCU\Environment' /v $v /t REG_EXPAND_SZ /d '%KELVANE_TEMP%' \
        /f </dev/null >/dev/null 2>&1
    done
    timeout 60 "$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      </dev/null >/dev/null 2>&1
    cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    timeout 120 "$WINESERVER" -w # the registry is on disk once the server has ended
    echo $versao_prefixo >"$WINEPREFIX/.pronto"
  fi
}

# kelvane.exe with its window into build-win/, with the window's suite (build-win/tests/) and the
# README's picture of it (captura_janela.exe), Qt's Portuguese texts beside them; the tests' relay
# (tests/windows) into build-win/ponte/.
compilar() {
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_PREFIX_PATH="$KELVANE_QT_WINDOWS" -DKELVANE_JANELA=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVANE_WERROR=ON -DKELVANE_CURL="$KELVANE_CURL_WINDOWS" \
    -DKELVANE_7Z_WINDOWS="$KELVANE_7Z_WINDOWS" >/dev/null
  nice cmake --build build-win -j2 >/dev/null
  cmake -S tests/windows -B build-win/ponte -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-win/ponte -j2 >/dev/null
}

# Qt for Windows, the longest step of a first run (then only checked), starts as soon as its
# packages and sources are there; the other steps run beside it, and its own steps print when it
# has ended.
qt_a_parte() {
  registro_qt=$(mktemp)
  bash scripts/qt_windows.sh >"$registro_qt" 2>&1 &
  qt=$!
  trap 'kill "$qt" 2>/dev/null || true; rm -f "$registro_qt"' EXIT
}
esperar_qt() {
  local codigo=0
  wait "$qt" || codigo=$?
  sed 's/^/  /' "$registro_qt"
  return $codigo
}

inicio=$EPOCHREALTIME
passo "pacotes (MinGW-w64, Wine, Qt's host tools)" instalar
mkdir -p "$KELVANE_CACHE"
exec 9>"$KELVANE_CACHE/.trava" # one preparation at a time per cache
flock 9
passo "deb-src para apt-get source" fontes_apt qt6-base
qt_a_parte
passo "7z.exe e 7z.dll" compilar_7z
passo "licença do 7-Zip" licenca_7z
passo "libcurl e libssh2 (scripts/curl_windows.sh)" bash scripts/curl_windows.sh
passo "prefixo Wine" prefixo_wine
passo "wineserver persistente" wineserver_persistente
passo "Qt 6 para Windows (desde os pacotes)" esperar_qt
passo "kelvane.exe, a suíte da janela e a ponte dos testes" compilar
awk -v a="$inicio" -v b="$EPOCHREALTIME" 'BEGIN { printf "%-44s %7.1f s\n", "total", b - a }'
echo "cache: $KELVANE_CACHE (7z: $KELVANE_7Z_WINDOWS, WINEPREFIX: $WINEPREFIX)"
