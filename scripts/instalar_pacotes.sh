#!/usr/bin/env bash
# Installs the Debian packages named as arguments that are not installed yet (apt-get update
# first, only when something is missing). Run as root or with sudo.
set -euo pipefail
faltando=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || faltando+=("$p")
done
if ((${#faltando[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # Another build on the machine may hold apt's lock: wait for it instead of failing.
  $sudo apt-get -o DPkg::Lock::Timeout=600 update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${faltando[@]}"
fi
