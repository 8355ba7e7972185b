# Sourced by the scripts that build or run the Windows side (bash). The one place that says
# where its cache lives and how Wine is run.
#
# KELVANE_CACHE  7z.exe and 7z.dll built from Debian's 7zip source, Qt 6 for Windows built from
#                Debian's qt6-base source (scripts/qt_windows.sh), static libcurl from Debian's curl
#                and libssh2 sources (scripts/curl_windows.sh), and the Wine prefix. Built
#                once and shared by every clone on the machine, never in the repository.
#                /var/cache/kelvane for root, $XDG_CACHE_HOME/kelvane (~/.cache) for others.
if [ -z "${KELVANE_CACHE:-}" ]; then
  if [ "$(id -u)" -eq 0 ]; then
    KELVANE_CACHE=/var/cache/kelvane
  else
    KELVANE_CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/kelvane"
  fi
fi
export KELVANE_CACHE
export KELVANE_7Z_WINDOWS="$KELVANE_CACHE/7z-windows-so7z" # 7z.exe, 7z.dll (the 7z format alone)
export KELVANE_QT_WINDOWS="$KELVANE_CACHE/qt6-windows" # static Qt 6: -DCMAKE_PREFIX_PATH=...
export KELVANE_CURL_WINDOWS="$KELVANE_CACHE/curl-windows-openssl" # static libcurl, libssh2, libcrypto (Schannel; OpenSSL for SSH)
export WINEPREFIX="$KELVANE_CACHE/wine"
export WINEDEBUG=-all
# Headless: the job needs no display, and Wine would open its windows on any it is given.
unset DISPLAY WAYLAND_DISPLAY
# No Mono or Gecko (their installers would ask to download), no menu entries on the host.
# KELVANE_WINE_DLLS adds more: "x=n,b" has Wine look for x.dll beside the program first, as
# Windows does for a DLL that is not one of its known DLLs.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${KELVANE_WINE_DLLS:+;$KELVANE_WINE_DLLS}"
# The prefix takes Windows' TEMP and TMP from this (Wine does not pass them through), so each run
# can have its own temporary folder; scripts/preparar_windows.sh sets the prefix up for it.
export KELVANE_TEMP="${KELVANE_TEMP:-C:\windows\temp}"
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

# Runs a Windows program under Wine with a time limit: a run that hangs ends as 124 (timeout's
# status) instead of holding the caller. The first argument is the limit in seconds.
wine_executar() {
  local limite=$1
  shift
  timeout -k 5 "$limite" "$WINE64" "$@"
}

# A wineserver that stays up, with the services of Wine's own that the first program starts
# (services.exe, plugplay.exe...), makes each later run start in tens of milliseconds instead of
# about a second. They live as long as the server and keep every file descriptor they were
# started with: started here on /dev/null with nothing else open, as a pipe or lock they held
# would never close (whoever reads a run's output through a pipe would wait for ever).
wineserver_persistente() {
  (
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      ((fd <= 2)) || eval "exec $fd>&-"
    done
    "$WINESERVER" -p && # fails when one is already up
      timeout 60 "$WINE64" cmd /c exit
  ) </dev/null >/dev/null 2>&1 || true
}

passo() { # passo <what> <command...>: runs the command and prints how long it took
  local inicio=$EPOCHREALTIME o_que=$1
  shift
  "$@"
  awk -v a="$inicio" -v b="$EPOCHREALTIME" -v o="$o_que" 'BEGIN { printf "%-44s %7.1f s\n", o, b - a }'
}

# apt-get source needs deb-src entries: the system's own Debian entries, as deb-src. The argument
# is a source package whose look-up tells whether they are there already.
fontes_apt() {
  apt-get source --print-uris "$1" >/dev/null 2>&1 && return
  local lista=/etc/apt/sources.list.d/kelvane-fontes sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    awk -v RS= -v ORS='\n\n' '/bookworm/ && /Types:[^\n]*deb/ {
      sub(/Types:[^\n]*/, "Types: deb-src"); print }' /etc/apt/sources.list.d/debian.sources |
      $sudo tee "$lista.sources" >/dev/null
  else
    sed -n 's/^deb \(.*bookworm.*\)/deb-src \1/p' /etc/apt/sources.list |
      $sudo tee "$lista.list" >/dev/null
  fi
  $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
}

# Before a run with a temporary folder of its own (the tests'): Wine finds its server through
# TMPDIR, so that goes, and the folder becomes Windows' TEMP through KELVANE_TEMP; then the shared
# wineserver.
wine_temp_proprio() {
  local t=${TMPDIR:-/tmp}
  unset TMPDIR
  export KELVANE_TEMP="Z:${t//\//\\}"
  wineserver_persistente
}
