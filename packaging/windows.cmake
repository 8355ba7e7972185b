# Installation on Windows: the program folder, a zip of it and an installer.
#
# `cmake --install` lays out the program folder in the prefix (default C:/Program Files/Kelvane),
# which only administrators can change:
#   kelvane.exe        the configuration window (Qt, linked statically), a GUI program
#   kelvane-exec.exe   the unattended job (EXEC), a console program; its message table is the
#                      Event Log source "Kelvane"'s, which the installer registers
#   translations\qtbase_pt_BR.qm  Qt's own texts in Portuguese (the file dialog's, the buttons')
#   LEIA-ME.md         the administrators' guide (README.md)
#   pasta-dados        where the job's data lie: KELVANE_PASTA_DADOS (C:\ProgramData\Kelvane)
# 7z.exe, 7z.dll and ncftpput.exe are not ours to ship: the administrator copies them in from
# 7-Zip's and NcFTP's Windows downloads (see the README). The data folder itself (info.ini, Log\,
# Backups\, the archives) is not part of it: the installer makes it, with its own permissions.
#
# `cpack` (or the `package` target) makes kelvane-<version>-win64.zip, that folder zipped, and,
# where Debian's nsis is installed, kelvane-<version>-win64.exe: an installer that puts it in
# C:\Program Files\Kelvane and makes the data folder, %ProgramData%\Kelvane (/DADOS=<folder> for
# another), for SYSTEM and the Administrators alone, with Backups\ in it that SQL Server's service
# may write; its uninstaller leaves the data.

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
set(CPACK_VERBATIM_VARIABLES ON) # the installer's commands below reach it as written
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME kelvane-${PROJECT_VERSION}-win64)

find_program(KELVANE_MAKENSIS makensis)
if(KELVANE_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS64)
  set(CPACK_NSIS_EXECUTABLE ${KELVANE_MAKENSIS})
  # A 64-bit installer, as the program: Windows Server has no 32-bit layer where WOW64 was left
  # out (Server Core), and neither does a Wine without its 32-bit half.
  set(CPACK_NSIS_DEFINES [=[
  Target amd64-unicode
  !include "FileFunc.nsh"
  Var KELVANE_DADOS
]=])
  set(CPACK_NSIS_DISPLAY_NAME Kelvane)
  set(CPACK_NSIS_PACKAGE_NAME Kelvane)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Kelvane)
  # Before any file is written: the data folder, made in one step with its own permissions
  # (SYSTEM and Administrators, nothing inherited: a new folder under ProgramData would let every
  # user read it and create files in it until its permissions were changed). One that exists is
  # used only when it is a plain folder owned by SYSTEM or the Administrators: whoever else made
  # it keeps the power to read it. Nothing in it is taken over; the job's check covers what is
  # there. An aborted install leaves no program folder behind.
  set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS [=[
  StrCpy $9 "Instale o Kelvane como administrador."
  UserInfo::GetAccountType
  Pop $0
  StrCmp $0 "Admin" 0 kelvane_abortar
  SetShellVarContext all
  StrCpy $KELVANE_DADOS "$APPDATA\Kelvane"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/DADOS=" $1
  IfErrors +2
    StrCpy $KELVANE_DADOS $1
  StrCpy $3 ""
  StrCpy $9 "Não foi possível criar a pasta de dados $KELVANE_DADOS."
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", i 1, *p .r1, p 0) i .r0'
  IntCmp $0 0 kelvane_abortar
  System::Call '*(&i8 24, p r1, &i8 0) p .r2' ; SECURITY_ATTRIBUTES, for Backups too
  System::Call 'kernel32::CreateDirectoryW(w "$KELVANE_DADOS", p r2) i .r0 ?e'
  Pop $3
  IntCmp $0 0 0 kelvane_dados_prontos kelvane_dados_prontos
  StrCpy $9 "Não foi possível criar a pasta de dados $KELVANE_DADOS (erro $3)."
  IntCmp $3 183 0 kelvane_abortar kelvane_abortar ; ERROR_ALREADY_EXISTS
  ; The entry itself (never where a link leads), its kind and its owner read through one handle.
  System::Call 'kernel32::CreateFileW(w "$KELVANE_DADOS", i 0x20080, i 7, p 0, i 3, i 0x02200000, p 0) p .r4'
  System::Alloc 64
  Pop $5
  System::Call 'kernel32::GetFileInformationByHandle(p r4, p r5) i .r0'
  System::Call '*$5(i .r6)'
  System::Free $5
  StrCpy $8 ""
  IntCmp $0 0 kelvane_dono_lido
  System::Call 'advapi32::GetSecurityInfo(p r4, i 1, i 1, *p .r7, p 0, p 0, p 0, *p .r3) i .r0'
  IntCmp $0 0 0 kelvane_dono_lido kelvane_dono_lido
  System::Call 'advapi32::ConvertSidToStringSidW(p r7, *w .r8)'
  kelvane_dono_lido:
  System::Call 'kernel32::CloseHandle(p r4)'
  StrCpy $9 "A pasta de dados $KELVANE_DADOS já existe e não é uma pasta de SYSTEM nem dos Administradores (dono: $8): quem a criou poderia ler os backups. Apague-a ou mova-a e instale de novo."
  IntOp $6 $6 & 0x410 ; a folder, not a reparse point
  IntCmp $6 0x10 0 kelvane_abortar kelvane_abortar
  StrCmp $8 "S-1-5-18" kelvane_dados_do_sistema
  StrCmp $8 "S-1-5-32-544" 0 kelvane_abortar
  kelvane_dados_do_sistema:
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$KELVANE_DADOS" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F'
  Pop $0
  kelvane_dados_prontos:
  ; The .BAK's folder, the only one SQL Server's service may write: a default instance's and an
  ; Express instance's account where they exist (icacls fails for one that does not).
  System::Call 'kernel32::CreateDirectoryW(w "$KELVANE_DADOS\Backups", p r2)'
  System::Free $2
  System::Call 'kernel32::LocalFree(p r1)'
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$KELVANE_DADOS\Backups" /grant "NT SERVICE\MSSQLSERVER:(OI)(CI)M"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$KELVANE_DADOS\Backups" /grant "NT SERVICE\MSSQL$$SQLEXPRESS:(OI)(CI)M"'
  Pop $0
  Goto kelvane_continuar
  kelvane_abortar:
    MessageBox MB_OK|MB_ICONSTOP "$9" /SD IDOK
    SetOutPath "$TEMP" ; the folder in use cannot be removed
    RMDir "$INSTDIR"
    Abort "$9"
  kelvane_continuar:
]=])
  # Beside kelvane.exe, the file that names the data folder: UTF-8, one line. The Event Log
  # source of the job's runs, its texts in kelvane-exec.exe's message table.
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [=[
  WriteRegExpandStr HKLM "SYSTEM\CurrentControlSet\Services\EventLog\Application\Kelvane" "EventMessageFile" "$INSTDIR\kelvane-exec.exe"
  WriteRegDWORD HKLM "SYSTEM\CurrentControlSet\Services\EventLog\Application\Kelvane" "TypesSupported" 7
  FileOpen $0 "$INSTDIR\pasta-dados" w
  System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w "$KELVANE_DADOS", i -1, p 0, i 0, p 0, p 0) i .r1'
  IntCmp $1 1 kelvane_sem_nome kelvane_sem_nome
  System::Alloc $1
  Pop $2
  System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w "$KELVANE_DADOS", i -1, p r2, i r1, p 0, p 0)'
  IntOp $1 $1 - 1
  System::Call 'kernel32::WriteFile(p r0, p r2, i r1, *i .r3, p 0)'
  System::Free $2
  FileWrite $0 "$\r$\n"
  kelvane_sem_nome:
  FileClose $0
]=])
endif()

set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [=[
  DeleteRegKey HKLM "SYSTEM\CurrentControlSet\Services\EventLog\Application\Kelvane"
]=])

include(CPack)
