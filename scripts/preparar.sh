#!/usr/bin/env bash
# Installs what Kelvane needs to build and test on Debian 12, then builds it into build/; any
# arguments go to CMake's configure (--so-pacotes: only the packages).
set -euo pipefail
cd "$(dirname "$0")/.."

pacotes=(
  g++ cmake make pkg-config          # build
  libgtest-dev                       # tests
  unixodbc-dev tdsodbc               # database access (ODBC + FreeTDS driver)
  p7zip-full ncftp                   # the archiver and the uploader
  libcurl4-openssl-dev               # heartbeats and transfers (libcurl, loaded on demand)
  python3 python3-pyftpdlib          # the test servers
  vsftpd openssh-server openssl      # the FTPS and SFTP test servers, their certificates and keys
  ca-certificates                    # the system's trust store, which FTPES trusts by default
  iproute2                           # a network of the test's own (ip, in a namespace)
  qt6-base-dev fonts-dejavu-extra    # the window (Qt 6 Widgets) and its narrow font
  qt6-translations-l10n              # Qt's own texts in Portuguese
  xvfb xauth                         # a display for the window's screenshot
  desktop-file-utils libxml2-utils   # the menu entry and its polkit action checked
  unixodbc dpkg-dev file             # the .deb: a run-time need; what cpack runs
)
bash scripts/instalar_pacotes.sh "${pacotes[@]}"
[ "${1:-}" != --so-pacotes ] || exit 0

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_WERROR=ON "$@"
cmake --build build -j "$(nproc)"
