# Installation on Windows: the program folder, a zip of it and an installer.
#
# `cmake --install` lays out the program folder in the prefix (default C:/Program Files/Kelvane),
# which only administrators can change:
#   kelvane.exe        the configuration window (Qt, linked statically), a GUI program
#   kelvane-exec.exe   the unattended job (EXEC), a console program; its message table is the
#                      Event Log source "Kelvane"'s, which the installer registers
#   translations\qtbase_pt_BR.qm  Qt's own texts in Portuguese (the file dialog's, the buttons')
#   LEIA-ME.md, docs\  the manual: its front page (README.md), and its pages (docs/*.md) with
#                      their pictures, administration on Windows among them
#   pasta-dados        where the job's data lie: KELVANE_PASTA_DADOS (C:\ProgramData\Kelvane)
#   7z.exe, 7z.dll     7-Zip's console and its 7z-format library, from KELVANE_7Z_WINDOWS (built
#                      unchanged from Debian's 7zip source by scripts/preparar_windows.sh), with
#                      what its licence (GNU LGPL) asks to go with them: 7z-Licenca.txt (its
#                      License.txt), 7z-LGPL.txt (the LGPL's text) and 7z-Fonte.txt (the source)
# ncftpput.exe is not ours to ship: the administrator copies it in from NcFTP's Windows client
# (see docs/administracao-windows.md). The data folder itself (info.ini, Log\, Backups\, the
# archives) is not part of it: the installer makes it, with its own permissions.
#
# `cpack` (or the `package` target) makes kelvane-<version>-win64.zip, that folder zipped. Where
# Debian's nsis is installed, the `instalador` target makes kelvane-<version>-win64.exe from
# packaging/kelvane.nsi: it puts the folder in C:\Program Files\Kelvane, makes the data folder,
# %ProgramData%\Kelvane (/DADOS=<folder> for another), for SYSTEM and the Administrators alone,
# creates the scheduled task (its time
# on a page of its own, /HORA=HH:MM) and the Start menu's shortcut; its uninstaller removes the
# task and leaves the data unless asked (/APAGARDADOS).

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "C:/Program Files/Kelvane" CACHE PATH "Program folder" FORCE)
endif()
set(KELVANE_PASTA_DADOS "C:/ProgramData/Kelvane" CACHE STRING
  "The data folder pasta-dados names in an install without the installer")

install(TARGETS kelvane RUNTIME DESTINATION .)
if(TARGET kelvane-exec)
  install(TARGETS kelvane-exec RUNTIME DESTINATION .)
endif()
if(KELVANE_JANELA)
  # Where a relocatable static Qt looks for them: translations\ beside the program.
  install(FILES ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS}/qtbase_pt_BR.qm
    DESTINATION translations)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME LEIA-ME.md)
file(GLOB _manual CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${_manual} DESTINATION docs)
set(KELVANE_7Z_WINDOWS "" CACHE PATH
  "7z.exe, 7z.dll, License.txt, copying.txt and fonte.txt: 7-Zip for the program folder")
if(KELVANE_7Z_WINDOWS)
  install(FILES ${KELVANE_7Z_WINDOWS}/7z.exe ${KELVANE_7Z_WINDOWS}/7z.dll DESTINATION .)
  install(FILES ${KELVANE_7Z_WINDOWS}/License.txt DESTINATION . RENAME 7z-Licenca.txt)
  install(FILES ${KELVANE_7Z_WINDOWS}/copying.txt DESTINATION . RENAME 7z-LGPL.txt)
  install(FILES ${KELVANE_7Z_WINDOWS}/fonte.txt DESTINATION . RENAME 7z-Fonte.txt)
else()
  message(WARNING "KELVANE_7Z_WINDOWS not set: the zip and the installer come without 7-Zip")
endif()
string(REPLACE "/" "\\" _pasta_dados "${KELVANE_PASTA_DADOS}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/pasta-dados "${_pasta_dados}\r\n")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pasta-dados DESTINATION .)

set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VENDOR Kelvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Nightly backup of one SQL Server database, packed with 7z and sent by FTP")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME kelvane-${PROJECT_VERSION}-win64)

# Both executables carry the version and the icon: what Explorer, the list of installed programs
# and the Task Scheduler show.
foreach(_alvo kelvane kelvane-exec)
  if(NOT TARGET ${_alvo})
    continue()
  endif()
  set(KELVANE_ARQUIVO ${_alvo}.exe)
  if(_alvo STREQUAL kelvane)
    set(KELVANE_DESCRICAO "Kelvane: configuração do backup do SQL Server")
  else()
    set(KELVANE_DESCRICAO "Kelvane: backup do SQL Server enviado por FTP (EXEC)")
  endif()
  set(KELVANE_ICONE ${PROJECT_SOURCE_DIR}/app/kelvane.ico)
  set(KELVANE_VERSAO_PONTOS ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0)
  set(KELVANE_VERSAO_VIRGULAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0)
  configure_file(${PROJECT_SOURCE_DIR}/app/versao.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${_alvo}-versao.rc
    @ONLY)
  target_sources(${_alvo} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${_alvo}-versao.rc)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${_alvo}-versao.rc PROPERTIES
    OBJECT_DEPENDS ${KELVANE_ICONE})
endforeach()

# The installer: the program folder as `cmake --install` lays it out (stripped), packed by
# makensis with packaging/kelvane.nsi.
find_program(KELVANE_MAKENSIS makensis)
if(KELVANE_MAKENSIS)
  set(_origem ${CMAKE_CURRENT_BINARY_DIR}/instalador/Kelvane)
  set(_instalador ${CMAKE_CURRENT_BINARY_DIR}/kelvane-${PROJECT_VERSION}-win64.exe)
  set(_alvos kelvane)
  if(TARGET kelvane-exec)
    list(APPEND _alvos kelvane-exec)
  endif()
  add_custom_command(OUTPUT ${_instalador}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${_origem}
    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_CURRENT_BINARY_DIR} --prefix ${_origem} --strip
    COMMAND ${KELVANE_MAKENSIS} -V2 -WX -DVERSAO=${PROJECT_VERSION} -DORIGEM=${_origem}
      -DICONE=${PROJECT_SOURCE_DIR}/app/kelvane.ico -DSAIDA=${_instalador}
      ${PROJECT_SOURCE_DIR}/packaging/kelvane.nsi
    DEPENDS ${_alvos} packaging/kelvane.nsi app/kelvane.ico ${PROJECT_SOURCE_DIR}/README.md ${_manual}
    VERBATIM)
  add_custom_target(instalador DEPENDS ${_instalador})
endif()

set(CPACK_GENERATOR ZIP)

include(CPack)
