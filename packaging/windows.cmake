# Installation on Windows: the program folder, a zip of it and an installer.
#
# `cmake --install` lays out the program folder in the prefix (default C:/Kelvane):
#   kelvane.exe        the executable, with the configuration window (Qt, linked statically)
#   translations\qtbase_pt_BR.qm  Qt's own texts in Portuguese (the file dialog's, the buttons')
#   LEIA-ME.md         the administrators' guide (README.md)
# 7z.exe, 7z.dll and ncftpput.exe are not ours to ship: the administrator copies them in from
# 7-Zip's and NcFTP's Windows downloads (see the README). info.ini and Log\ are made by the
# program, so an upgrade never touches them.
#
# `cpack` (or the `package` target) makes kelvane-<version>-win64.zip, that folder zipped, and,
# where Debian's nsis is installed, kelvane-<version>-win64.exe: an installer that puts it in
# C:\Kelvane and gives the folder the permissions the job asks for (SYSTEM and Administrators, and
# SQL Server's service, which writes the .BAK there; nobody else).

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX C:/Kelvane CACHE PATH "Program folder" FORCE)
endif()

install(TARGETS kelvane RUNTIME DESTINATION .)
if(KELVANE_JANELA)
  # Where a relocatable static Qt looks for them: translations\ beside the program.
  install(FILES ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS}/qtbase_pt_BR.qm
    DESTINATION translations)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME LEIA-ME.md)

set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VENDOR Kelvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Nightly backup of one SQL Server database, packed with 7z and sent by FTP")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON) # the installer's commands below reach it as written
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME kelvane-${PROJECT_VERSION}-win64)

find_program(KELVANE_MAKENSIS makensis)
if(KELVANE_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS64)
  set(CPACK_NSIS_EXECUTABLE ${KELVANE_MAKENSIS})
  # A 64-bit installer, as the program: Windows Server has no 32-bit layer where WOW64 was left
  # out (Server Core), and neither does a Wine without its 32-bit half.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_DISPLAY_NAME Kelvane)
  set(CPACK_NSIS_PACKAGE_NAME Kelvane)
  # Not under Program Files: the program writes its settings, logs and backups beside itself.
  set(CPACK_NSIS_INSTALL_ROOT "C:")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Kelvane)
  # The folder's own permissions instead of the inherited ones (C:\ lets every user create files
  # in new folders): SYSTEM (*S-1-5-18) and Administrators (*S-1-5-32-544) own it; the service
  # account of a default or an Express instance of SQL Server may change it, where it exists
  # (icacls fails for the one that does not, and nothing else changes).
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  nsExec::ExecToLog 'icacls "$INSTDIR" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F /T /C'
  nsExec::ExecToLog 'icacls "$INSTDIR" /setowner *S-1-5-32-544 /T /C'
  nsExec::ExecToLog 'icacls "$INSTDIR" /grant "NT SERVICE\MSSQLSERVER:(OI)(CI)M"'
  nsExec::ExecToLog 'icacls "$INSTDIR" /grant "NT SERVICE\MSSQL$$SQLEXPRESS:(OI)(CI)M"'
]=])
endif()

include(CPack)
