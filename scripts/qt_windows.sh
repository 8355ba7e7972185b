#!/usr/bin/env bash
# Builds Qt 6 for Windows (static libraries, MinGW-w64) from Debian 12's own qt6-base source, once,
# into $KELVANE_QT_WINDOWS (scripts/ambiente_windows.sh); a later run only checks. The host tools
# (moc, rcc, uic) stay Debian's: a build against it passes
#   -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_PREFIX_PATH=$KELVANE_QT_WINDOWS
# The longest step of a first run. Prints how long each step took. Run as root or with sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ambiente_windows.sh

pronto="$KELVANE_QT_WINDOWS/.pronto" # written last: a cache without it is redone from scratch
fonte="$KELVANE_CACHE/fonte-qt6"
obra="$KELVANE_CACHE/obra-qt6"
registro="$KELVANE_CACHE/qt6-windows.log"

instalar() {
  # qt6-base-dev: the host tools of the same release (/usr/lib/qt6/libexec), which the cross
  # build and every project built against it run. qt6-translations-l10n: qtbase_pt_BR.qm.
  bash scripts/instalar_pacotes.sh \
    g++-mingw-w64-x86-64-posix cmake ninja-build dpkg-dev xz-utils \
    qt6-base-dev qt6-translations-l10n
}

falhou() { # falhou <what>: the log's tail, and the log is kept
  tail -n 40 "$registro" >&2
  echo "Qt para Windows: $1 falhou; o registro completo: $registro" >&2
  exit 1
}

baixar() {
  rm -rf "$fonte" "$obra" && mkdir -p "$fonte"
  (cd "$fonte" && apt-get source -qq qt6-base) >"$registro" 2>&1 || falhou "apt-get source"
  raiz=$(echo "$fonte"/qt6-base-*/)
  raiz=${raiz%/}
  # Without OpenGL the windows plugin still calls the dynamic-GL check, whose class it then lacks.
  local alvo=src/plugins/platforms/windows/qwindowswindow.cpp
  sed -i '2296s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$raiz/$alvo"
  if ! sed -n 2296p "$raiz/$alvo" | grep -qx '#if QT_CONFIG(dynamicgl) && QT_CONFIG(opengl)'; then
    echo "Qt para Windows: $alvo mudou, a correção da linha 2296 não se aplica" >&2
    exit 1
  fi
}

# Only what the window and its tests link: Core, Gui, Widgets, Test, the windows platform plugin
# and the style plugin. No image format plugins (the window's pictures are PNG, built into Gui),
# no FreeType (Windows draws text with DirectWrite; without it no offscreen plugin either), no
# Direct2D plugin (direct2d itself stays: the windows plugin shares its DirectWrite font code).
# tabletevent: Debian's tarball leaves out wintab.h. relocatable: a static Qt then finds its data
# (translations/) beside the program instead of in this cache.
opcoes=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_opengl=OFF
  -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
  -DFEATURE_tabletevent=OFF -DFEATURE_relocatable=ON -DFEATURE_imageformatplugin=OFF
  -DFEATURE_freetype=OFF -DFEATURE_direct2d1_1=OFF)
# Nor the widgets, dialogs and documents a one-form window never shows: a tenth less to compile.
# Qt's own code asks for each of them (QT_CONFIG) and does without it. The main window, its tool
# bar, menu bar, table view and input dialog stay: Qt 6.4's widgets library and Vista style use
# them whatever the features say.
for sem in graphicsview mdiarea dockwidget statusbar calendarwidget datetimeedit dial lcdnumber \
  commandlinkbutton fontcombobox keysequenceedit splashscreen toolbox undoview columnview \
  datawidgetmapper tablewidget treewidget listwidget wizard colordialog fontdialog \
  errormessage scroller textbrowser syntaxhighlighter systemtrayicon whatsthis pdf \
  textodfwriter textmarkdownreader textmarkdownwriter movie undocommand undostack undogroup \
  jalalicalendar hijricalendar islamiccivilcalendar; do
  opcoes+=("-DFEATURE_$sem=OFF")
done

configurar() {
  cmake -S "$raiz" -B "$obra" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$KELVANE_QT_WINDOWS" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    "${opcoes[@]}" >>"$registro" 2>&1 || falhou "cmake (configurar)"
}

compilar() {
  # Two jobs, below the other work on the machine.
  nice -n 10 cmake --build "$obra" -j2 >>"$registro" 2>&1 || falhou "a compilação"
}

instalar_qt() {
  rm -rf "$KELVANE_QT_WINDOWS"
  cmake --install "$obra" >>"$registro" 2>&1 || falhou "cmake --install"
  # Translations are data, the same on every system: Debian's, of the same release, as they are.
  mkdir -p "$KELVANE_QT_WINDOWS/translations"
  cp /usr/share/qt6/translations/qtbase_pt_BR.qm "$KELVANE_QT_WINDOWS/translations/"
  rm -rf "$fonte" "$obra" "$registro"
  echo "${opcoes[*]}" >"$pronto"
}

inicio=$EPOCHREALTIME
passo "pacotes (MinGW-w64, Ninja, Qt host tools)" instalar
mkdir -p "$KELVANE_CACHE"
exec 9>"$KELVANE_CACHE/.trava-qt" # one Qt build at a time per cache
flock 9
if [ "$(cat "$pronto" 2>/dev/null)" = "${opcoes[*]}" ]; then # built with other options: again
  echo "Qt para Windows já está em $KELVANE_QT_WINDOWS"
  exit 0
fi
passo "deb-src para apt-get source" fontes_apt qt6-base
passo "fonte qt6-base (apt-get source)" baixar
passo "cmake (configurar)" configurar
passo "compilação (ninja -j2)" compilar
passo "instalação" instalar_qt
awk -v a="$inicio" -v b="$EPOCHREALTIME" 'BEGIN { printf "%-44s %7.1f s\n", "total", b - a }'
echo "Qt para Windows: $KELVANE_QT_WINDOWS ($(du -sh "$KELVANE_QT_WINDOWS" | cut -f1))"
