# Installation and the Debian package.
#
# `cmake --install` lays out a complete program folder in the prefix (default /opt/kelvane):
#   kelvane                  the executable
#   kelvane-janela.so        the window, loaded by the executable only when it opens it
#   7z, 7z.so, ncftpput      links to the Debian binaries (p7zip-full, ncftp)
#   kelvane.png              the window's icon (32x32)
#   kelvane.desktop          the desktop entry that opens the configuration window
#   kelvane-janela           what the entry runs through pkexec: the window as the data folder's
#                            owner, after an administrator's password (br.kelvane.janela)
#   exemplos/                a systemd service and timer and a cron line for the nightly run
#   doc/README.md, doc/docs/ the manual: its front page, and its pages (docs/*.md) with their
#                            pictures, administration on Linux among them
#   pasta-dados              names the data folder (KELVANE_PASTA_DADOS, /var/opt/kelvane)
# Outside the prefix it makes only the data folder, when missing (0700, SQL Server's account's
# where it exists). info.ini and Log/ are not installed: the window and the job create them
# there, so an upgrade never touches them. Run as root without DESTDIR, it first moves an
# earlier layout's data out of the program folder, as the package does (packaging/preinst).
#
# The Debian package (`cpack -G DEB`, or `cmake --build <build> --target package`) holds the same
# folder under /opt/kelvane plus one file outside it, /usr/share/applications/kelvane.desktop (a
# copy of the desktop entry), so the window appears in the desktop's menu, and the polkit action
# that entry asks for, /usr/share/polkit-1/actions/br.kelvane.janela.policy. Those two belong to
# the install component "menu", which a plain `cmake --install` leaves out
# (`cmake --install <build> --component menu` adds them).

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/kelvane CACHE PATH "Program folder" FORCE)
endif()

# The job refuses to run where any account but root (or its own) can replace what it runs: every
# folder it lays out is 0755 whatever the installer's umask, and files are never group-writable.
set(_kelvane_modo_pastas OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${_kelvane_modo_pastas})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${_kelvane_modo_pastas})

set(KELVANE_PACOTE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(KELVANE_PACOTE_BIN ${PROJECT_BINARY_DIR}/packaging)
set(KELVANE_PASTA_DADOS /var/opt/kelvane CACHE PATH
  "The job's data folder (info.ini, Log, archives), named by pasta-dados in the program folder; \
empty for a portable copy with its data beside the program")

# Before anything is written: an earlier layout on this machine moved apart (as the package does
# it), then the folders written into must be real folders that no other account controls.
install(CODE "
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    execute_process(COMMAND id -u OUTPUT_VARIABLE _eu OUTPUT_STRIP_TRAILING_WHITESPACE)
    # Only over an earlier Kelvane: a shared prefix (/usr/local) is nobody's layout to move.
    if(_eu STREQUAL \"0\" AND NOT \"${KELVANE_PASTA_DADOS}\" STREQUAL \"\" AND
       EXISTS \"\${CMAKE_INSTALL_PREFIX}/kelvane\")
      set(ENV{KELVANE_PROGRAMA} \"\${CMAKE_INSTALL_PREFIX}\")
      set(ENV{KELVANE_DADOS} \"${KELVANE_PASTA_DADOS}\")
      execute_process(COMMAND sh \"${KELVANE_PACOTE_DIR}/preinst\" upgrade RESULT_VARIABLE _r)
      if(NOT _r EQUAL 0)
        message(FATAL_ERROR \"A pasta do programa não pôde ser preparada (veja acima).\")
      endif()
    endif()
  endif()
  include(\"${KELVANE_PACOTE_DIR}/conferir.cmake\")
  kelvane_conferir_destino(\"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
" ALL_COMPONENTS)

install(TARGETS kelvane RUNTIME DESTINATION .)
install(TARGETS kelvane_janela_modulo LIBRARY DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/window/kelvane.png DESTINATION .)
install(PROGRAMS ${KELVANE_PACOTE_DIR}/kelvane-janela DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION doc)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION doc/docs
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(FILES ${KELVANE_PACOTE_DIR}/kelvane.timer DESTINATION exemplos)

# The tools: links made in the build tree and installed as links (install keeps a link a link).
file(MAKE_DIRECTORY ${KELVANE_PACOTE_BIN}/ferramentas)
set(_kelvane_ferramentas
  7z /usr/lib/p7zip/7z
  7z.so /usr/lib/p7zip/7z.so
  ncftpput /usr/bin/ncftpput)
while(_kelvane_ferramentas)
  list(POP_FRONT _kelvane_ferramentas _nome _alvo)
  file(CREATE_LINK ${_alvo} ${KELVANE_PACOTE_BIN}/ferramentas/${_nome} SYMBOLIC)
  install(FILES ${KELVANE_PACOTE_BIN}/ferramentas/${_nome} DESTINATION .)
endwhile()

# The files that name the program folder are made at install time from the prefix in force then,
# so `cmake --install --prefix X` and the package both get their own paths. Each destination
# (DESTDIR + prefix) has its own staging folder in the build tree, so two installs to different
# places never share a file.
set(_kelvane_gerar "
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${_kelvane_modo_pastas})
  set(KELVANE_PACOTE_DIR \"${KELVANE_PACOTE_DIR}\")
  set(KELVANE_GERADOS \"${KELVANE_PACOTE_BIN}/gerados\")
  include(\"${KELVANE_PACOTE_DIR}/gerar.cmake\")")
set(_kelvane_gerar "${_kelvane_gerar}
  set(DADOS \"${KELVANE_PASTA_DADOS}\")")
install(CODE "${_kelvane_gerar}
  kelvane_instalar_gerado(kelvane.desktop.in kelvane.desktop \"\${CMAKE_INSTALL_PREFIX}\")
  if(NOT DADOS STREQUAL \"\")
    kelvane_instalar_gerado(pasta-dados.in pasta-dados \"\${CMAKE_INSTALL_PREFIX}\")
  endif()
  kelvane_instalar_gerado(kelvane.service.in kelvane.service \"\${CMAKE_INSTALL_PREFIX}/exemplos\")
  kelvane_instalar_gerado(kelvane.cron.in kelvane.cron \"\${CMAKE_INSTALL_PREFIX}/exemplos\")
  include(\"${KELVANE_PACOTE_DIR}/conferir.cmake\")
  kelvane_criar_dados(\"\$ENV{DESTDIR}\${DADOS}\")
")
install(CODE "${_kelvane_gerar}
  kelvane_instalar_gerado(kelvane.desktop.in kelvane.desktop /usr/share/applications)
  kelvane_instalar_gerado(br.kelvane.janela.policy.in br.kelvane.janela.policy
    /usr/share/polkit-1/actions)
" COMPONENT menu EXCLUDE_FROM_ALL)

# ---------------------------------------------------------------- Debian package
set(KELVANE_MANTENEDOR "Kelvane <kelvane@localhost>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VENDOR Kelvane)
set(CPACK_PACKAGE_CONTACT "${KELVANE_MANTENEDOR}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Nightly backup of one SQL Server database, packed with 7z and sent by FTP")
set(CPACK_PACKAGE_DESCRIPTION
    "Run as `kelvane EXEC` (by the systemd timer or cron line in /opt/kelvane/exemplos), it has \
the local SQL Server write a full backup into its data folder /var/opt/kelvane, packs and verifies \
it with 7z, uploads it with ncftpput and logs every step in /var/opt/kelvane/Log. Without arguments it opens its \
configuration window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/kelvane)
# Both install passes: everything a plain install lays out, then the menu entry.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/"
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};menu;/")
set(CPACK_STRIP_FILES ON)
# The program folder made root's alone and an earlier layout's data moved out before unpacking; the
# data folder made for SQL Server's account; an old scheduled run as root disabled.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KELVANE_PACOTE_DIR}/preinst ${KELVANE_PACOTE_DIR}/postinst
  ${KELVANE_PACOTE_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time needs by Debian package name: the ODBC tools and FreeTDS's driver (its package registers
# it as "FreeTDS"), the archiver and the uploader the tool links point at, and Qt's Portuguese
# texts for the window's standard buttons and file dialog. dpkg-shlibdeps adds the libraries the
# executable links, with their minimum versions: Qt 6 Widgets (libqt6widgets6), unixODBC
# (libodbc2), the C and C++ runtimes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "unixodbc, tdsodbc, p7zip-full, ncftp, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded only when a monitoring address (AvisoURL) is configured; HTTPS needs the CA certificates.
# The menu entry asks for an administrator with pkexec. A refused start of the window is shown by
# the desktop's dialog program (zenity, kdialog or xmessage), as the window module that would show
# it is not loaded then.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libcurl4, ca-certificates, pkexec, zenity | kdialog | x11-utils")

include(CPack)
