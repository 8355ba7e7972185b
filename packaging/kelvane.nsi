; Kelvane's installer for Windows, built by the `instalador` target (packaging/windows.cmake):
;   makensis -DVERSAO=<x.y> -DORIGEM=<the program folder laid out by cmake --install>
;            -DICONE=<app/kelvane.ico> -DSAIDA=<kelvane-x.y-win64.exe> kelvane.nsi
; Silent: /S [/HORA=HH:MM] [/DADOS=<data folder>] [/D=<program folder>, last];
; the uninstaller: /S [/APAGARDADOS].

Unicode true
; A 64-bit installer, as the program: Windows Server has no 32-bit layer where WOW64 was left
; out (Server Core), and neither does a Wine without its 32-bit half.
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; A file that cannot be replaced (the window or a run still open) stops the install instead of
; leaving an old program beside new files.
AllowSkipFiles off

!include "MUI2.nsh"
!include "nsDialogs.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define CHAVE "Software\Kelvane"
!define CHAVE_REMOVER "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvane"
!define FONTE_EVENTOS "SYSTEM\CurrentControlSet\Services\EventLog\Application\Kelvane"
; What the last page says and the details keep: the one tool that does not come with it.
!define TEXTO_FIM "O Kelvane foi instalado em $INSTDIR com o 7z.exe e o 7z.dll do 7-Zip (licença GNU LGPL: 7z-Licenca.txt e 7z-LGPL.txt na mesma pasta).$\r$\n$\r$\nFalta o ncftpput.exe, que envia os backups por FTP sem criptografia (endereços ftp://) e não vem com o Kelvane: baixe o NcFTP Client para Windows (64 bits) do site do NcFTP e copie o ncftpput.exe para $INSTDIR. Veja docs\administracao-windows.md nessa pasta."
; Owners trusted with the program: SYSTEM, the Administrators, TrustedInstaller (Windows' own
; folders), CREATOR OWNER and OWNER RIGHTS (the owner, checked apart), and the account installing.
!define SID_INSTALADOR "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

Name "Kelvane"
OutFile "${SAIDA}"
InstallDir "$PROGRAMFILES64\Kelvane"
InstallDirRegKey HKLM "${CHAVE}" "PastaPrograma"
BrandingText "Kelvane ${VERSAO}"
VIProductVersion "${VERSAO}.0.0"
VIAddVersionKey /LANG=1046 "ProductName" "Kelvane"
VIAddVersionKey /LANG=1046 "CompanyName" "Kelvane"
VIAddVersionKey /LANG=1046 "FileDescription" "Instalador do Kelvane"
VIAddVersionKey /LANG=1046 "FileVersion" "${VERSAO}"
VIAddVersionKey /LANG=1046 "ProductVersion" "${VERSAO}"
VIAddVersionKey /LANG=1046 "LegalCopyright" "Kelvane"

Var Dados      ; the data folder
Var Hora       ; the task's time, HH:MM
Var CampoHora
Var ApagarDados
Var CaixaDados
Var Conta      ; the SID of the account running the installer

!define MUI_ICON "${ICONE}"
!define MUI_UNICON "${ICONE}"
!define MUI_ABORTWARNING
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE PaginaPastaSair
!insertmacro MUI_PAGE_DIRECTORY
Page custom PaginaHora PaginaHoraSair
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "Kelvane instalado: falta o ncftpput.exe"
!define MUI_FINISHPAGE_TEXT "${TEXTO_FIM}"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.PaginaDados un.PaginaDadosSair
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "PortugueseBR"

; Refusal: the text in a box (none when silent) and in the details, exit code 2.
!macro Recusar texto
  MessageBox MB_OK|MB_ICONSTOP "${texto}" /SD IDOK
  DetailPrint "${texto}"
  SetErrorLevel 2
  Abort "${texto}"
!macroend

; HH:MM in 24 hours, two digits each, or "" on the stack: what the task's trigger takes.
Function ValidarHora
  Exch $0
  Push $1
  Push $2
  Push $3
  StrLen $1 $0
  StrCpy $2 $0 1 2
  ${If} $1 != 5
  ${OrIf} $2 != ":"
    StrCpy $0 ""
  ${Else}
    ; Each half must read back as the same two digits: no sign, space or letter passes.
    StrCpy $1 $0 2
    IntOp $2 $1 + 0
    IntFmt $3 "%02d" $2
    StrCpy $0 $0 2 3
    ${If} $3 != $1
    ${OrIf} $2 > 23
      StrCpy $0 ""
    ${Else}
      IntOp $2 $0 + 0
      IntFmt $1 "%02d" $2
      ${If} $1 != $0
      ${OrIf} $2 > 59
        StrCpy $0 ""
      ${Else}
        StrCpy $0 "$3:$1"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

!macro SoAdministrador
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    !insertmacro Recusar "Instale o Kelvane como administrador."
  ${EndIf}
!macroend

Function .onInit
  SetShellVarContext all
  !insertmacro SoAdministrador
  System::Call 'advapi32::OpenProcessToken(p -1, i 8, *p .r1) i .r0' ; TOKEN_QUERY
  System::Call 'advapi32::GetTokenInformation(p r1, i 1, p 0, i 0, *i .r2)' ; TokenUser
  System::Alloc $2
  Pop $3
  System::Call 'advapi32::GetTokenInformation(p r1, i 1, p r3, i r2, *i .r2) i .r0'
  StrCpy $Conta "-"
  ${If} $0 <> 0
    System::Call '*$3(p .r4)'
    System::Call 'advapi32::ConvertSidToStringSidW(p r4, *w .s)'
    Pop $Conta
  ${EndIf}
  ${IfThen} $Conta == "" ${|} StrCpy $Conta "-" ${|} ; never the same as an owner not read
  System::Free $3
  System::Call 'kernel32::CloseHandle(p r1)'
  ; An earlier install's data folder and time stay unless new ones are given.
  ReadRegStr $Dados HKLM "${CHAVE}" "PastaDados"
  ${If} $Dados == ""
    StrCpy $Dados "$APPDATA\Kelvane"
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DADOS=" $R1
  ${IfNot} ${Errors}
    StrCpy $Dados $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/HORA=" $R1
  ${IfNot} ${Errors}
    Push $R1
    Call ValidarHora
    Pop $Hora
    ${If} $Hora == ""
      !insertmacro Recusar "Horário inválido em /HORA=$R1: use HH:MM, de 00:00 a 23:59."
    ${EndIf}
  ${Else}
    Call HoraDaTarefa
  ${EndIf}
FunctionEnd

; The time the task already has (the Task Scheduler's own answer, where an administrator may have
; changed it), else the one this installer set last, else 02:00.
Function HoraDaTarefa
  nsExec::ExecToStack '"$SYSDIR\schtasks.exe" /Query /TN Kelvane /XML ONE'
  Pop $0
  Pop $1
  StrCpy $Hora ""
  ${If} $0 == 0
    StrLen $2 $1
    StrCpy $3 0
    ${DoWhile} $3 < $2
      StrCpy $4 $1 15 $3
      ${If} $4 == "<StartBoundary>"
        IntOp $3 $3 + 26 ; past the tag and the date, YYYY-MM-DDT
        StrCpy $Hora $1 5 $3
        ${Break}
      ${EndIf}
      IntOp $3 $3 + 1
    ${Loop}
  ${EndIf}
  ${If} $Hora == ""
    ReadRegStr $Hora HKLM "${CHAVE}" "Hora"
  ${EndIf}
  Push $Hora
  Call ValidarHora
  Pop $Hora
  ${If} $Hora == ""
    StrCpy $Hora "02:00"
  ${EndIf}
FunctionEnd

Function PaginaHora
  !insertmacro MUI_HEADER_TEXT "Horário do backup" "Quando a tarefa agendada Kelvane roda o backup, todos os dias."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 48u "A tarefa agendada $\"Kelvane$\" roda $\"kelvane-exec.exe EXEC$\" como SYSTEM, todos os dias neste horário, com ou sem usuário conectado; o resultado de cada execução aparece em $\"Último resultado$\" no Agendador de Tarefas e no log em $Dados\Log."
  Pop $0
  ${NSD_CreateLabel} 0 56u 60u 12u "Horário (HH:MM):"
  Pop $0
  ${NSD_CreateText} 64u 54u 40u 12u $Hora
  Pop $CampoHora
  ${NSD_SetTextLimit} $CampoHora 5
  nsDialogs::Show
FunctionEnd

Function PaginaHoraSair
  ${NSD_GetText} $CampoHora $0
  Push $0
  Call ValidarHora
  Pop $1
  ${If} $1 == ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "Horário inválido: $0. Use HH:MM, de 00:00 a 23:59 (por exemplo 02:00)."
    Abort
  ${EndIf}
  StrCpy $Hora $1
FunctionEnd

; & is the one character of a Windows path that XML does not take as it is.
Function XmlTexto
  Exch $0
  Push $1
  Push $2
  Push $3
  StrCpy $1 ""
  StrCpy $2 0
  ${Do}
    StrCpy $3 $0 1 $2
    ${IfThen} $3 == "" ${|} ${ExitDo} ${|}
    ${IfThen} $3 == "&" ${|} StrCpy $3 "&amp;" ${|}
    StrCpy $1 "$1$3"
    IntOp $2 $2 + 1
  ${Loop}
  StrCpy $0 $1
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Whether ${sid} is the system's or the account's installing: 1 or 0 in ${r}.
!macro DoSistema sid r
  StrCpy ${r} 0
  ${If} ${sid} == "S-1-5-18"
  ${OrIf} ${sid} == "S-1-5-32-544"
  ${OrIf} ${sid} == "${SID_INSTALADOR}"
  ${OrIf} ${sid} == $Conta
    StrCpy ${r} 1
  ${EndIf}
!macroend

; The folder $R0, which exists: "" in $R3 when only the system may change it, else why not.
; $R1: the rights that count (the program folder: any change; a folder above: removing or
; replacing what is in it, not creating entries, as C:\ lets users do); $R2 = 1: entries only
; what is created inside inherits count too (the program's files would get them). Uses $0-$9.
Function ConferirPasta
  StrCpy $R3 ""
  System::Call 'kernel32::CreateFileW(w "$R0", i 0x20080, i 7, p 0, i 3, i 0x02200000, p 0) p .r9'
  System::Alloc 64
  Pop $1
  System::Call 'kernel32::GetFileInformationByHandle(p r9, p r1) i .r0'
  System::Call '*$1(i .r2)'
  System::Free $1
  IntOp $2 $2 & 0x410
  ${If} $0 = 0
    StrCpy $R3 "não pôde ser lida"
  ${ElseIf} $2 <> 0x10
    StrCpy $R3 "não é uma pasta comum (é um link)"
  ${Else}
    System::Call 'advapi32::GetSecurityInfo(p r9, i 1, i 5, *p .r1, p 0, *p .r2, p 0, *p .r3) i .r0'
    ${If} $0 <> 0
      StrCpy $R3 "não pôde ser lida (erro $0)"
    ${Else}
      System::Call 'advapi32::ConvertSidToStringSidW(p r1, *w .r4)'
      !insertmacro DoSistema $4 $5
      ${If} $5 = 0
        StrCpy $R3 "pertence a outra conta ($4)"
      ${ElseIf} $2 = 0
        StrCpy $R3 "não tem permissões: qualquer conta pode alterá-la"
      ${Else}
        System::Call '*$2(&i1, &i1, &i2, &i2 .r4)' ; the ACL's header: its entries' count
        StrCpy $5 0
        ${DoWhile} $5 < $4
          System::Call 'advapi32::GetAce(p r2, i r5, *p .r6) i .r0'
          System::Call '*$6(&i1 .r7, &i1 .r8, &i2, i .r1)' ; type, flags, size, rights
          IntOp $8 $8 & 0x8 ; inherit-only
          ${IfThen} $R2 = 1 ${|} StrCpy $8 0 ${|}
          ${If} $7 = 1 ; a denial gives no one anything
          ${OrIf} $7 = 10
          ${OrIf} $8 <> 0
            StrCpy $0 "" ; nothing here
          ${ElseIf} $7 <> 0 ; an allowing entry of another kind is not guessed at
          ${AndIf} $7 <> 9
            StrCpy $R3 "tem uma permissão de tipo $7, que o instalador não sabe ler"
          ${Else}
            IntPtrOp $6 $6 + 8
            System::Call 'advapi32::ConvertSidToStringSidW(p r6, *w .r0)'
            !insertmacro DoSistema $0 $8
            IntOp $1 $1 & $R1
            ${If} $8 = 0
            ${AndIf} $0 != "S-1-3-0"
            ${AndIf} $0 != "S-1-3-4"
            ${AndIf} $1 <> 0
              StrCpy $R3 "pode ser alterada por outra conta ($0)"
            ${EndIf}
          ${EndIf}
          ${IfThen} $R3 != "" ${|} ${Break} ${|}
          IntOp $5 $5 + 1
        ${Loop}
      ${EndIf}
      System::Call 'kernel32::LocalFree(p r3)'
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r9)'
FunctionEnd

; The program folder and every folder above it that exists (SYSTEM runs what is in it, so only the
; system may change it): the text of a refusal, or "", in $R3. The ones missing are pushed on the
; stack, the highest last, and counted in $R4, for CriarPastaPrograma. Uses $0-$9, $R0-$R4.
Function ConferirPastaPrograma
  StrCpy $R3 ""
  StrCpy $R4 0
  StrCpy $R0 $INSTDIR
  ${Do}
    System::Call 'kernel32::GetFileAttributesW(w "$R0") i .r0'
    ${If} $0 = -1
      Push $R0
      IntOp $R4 $R4 + 1
    ${Else}
      StrCpy $R2 0
      ${If} $R0 == $INSTDIR
        StrCpy $R1 0x500D0156 ; any change
        StrCpy $R2 1
      ${Else}
        StrCpy $R1 0x500D0040 ; delete, delete what is inside, permissions, owner, generic write/all
      ${EndIf}
      Call ConferirPasta
      ${If} $R3 != ""
        StrCpy $R3 "A pasta $R0 $R3: outra conta poderia trocar o programa que a tarefa agendada roda como SYSTEM. Escolha outra pasta para o programa (por exemplo $PROGRAMFILES64\Kelvane); nada foi instalado."
        ${Break}
      ${EndIf}
    ${EndIf}
    ${GetParent} $R0 $1
    StrLen $2 $1
    ${If} $2 = 2 ; "C:", whose folder is "C:\"
      StrCpy $1 "$1\"
    ${EndIf}
    ${If} $1 == ""
    ${OrIf} $1 == $R0
      ${Break}
    ${EndIf}
    StrCpy $R0 $1
  ${Loop}
FunctionEnd

Function PaginaPastaSair
  Call ConferirPastaPrograma
  ${DoWhile} $R4 > 0
    Pop $0
    IntOp $R4 $R4 - 1
  ${Loop}
  ${If} $R3 != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "$R3"
    Abort
  ${EndIf}
FunctionEnd

Section "Kelvane"
  ; First the program folder, checked: one that another account could change is refused.
  Call ConferirPastaPrograma
  ${If} $R3 != ""
    !insertmacro Recusar "$R3"
  ${EndIf}
  ; Before any file is written: the data folder, made in one step with its own permissions
  ; (SYSTEM and Administrators, nothing inherited: a new folder under ProgramData would let every
  ; user read it and create files in it until its permissions were changed). One that exists is
  ; used only when it is a plain folder owned by SYSTEM or the Administrators (or the account
  ; installing, below): whoever else made it keeps the power to read it. Nothing in it is taken over or rewritten (an upgrade leaves
  ; info.ini as it is); the job's check covers what is there. A refusal leaves no program folder.
  StrCpy $3 ""
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", i 1, *p .r1, p 0) i .r0'
  ${If} $0 = 0
    !insertmacro Recusar "Não foi possível criar a pasta de dados $Dados."
  ${EndIf}
  System::Call '*(&i8 24, p r1, &i8 0) p .r2' ; SECURITY_ATTRIBUTES
  System::Call 'kernel32::CreateDirectoryW(w "$Dados", p r2) i .r0 ?e'
  Pop $3
  ${If} $0 = 0
    ${If} $3 <> 183 ; ERROR_ALREADY_EXISTS
      !insertmacro Recusar "Não foi possível criar a pasta de dados $Dados (erro $3)."
    ${EndIf}
    ; The entry itself (never where a link leads), its kind and its owner read through one handle.
    System::Call 'kernel32::CreateFileW(w "$Dados", i 0x20080, i 7, p 0, i 3, i 0x02200000, p 0) p .r4'
    System::Alloc 64
    Pop $5
    System::Call 'kernel32::GetFileInformationByHandle(p r4, p r5) i .r0'
    System::Call '*$5(i .r6)'
    System::Free $5
    StrCpy $8 ""
    ${If} $0 <> 0
      System::Call 'advapi32::GetSecurityInfo(p r4, i 1, i 1, *p .r7, p 0, p 0, p 0, *p .r3) i .r0'
      ${If} $0 = 0
        System::Call 'advapi32::ConvertSidToStringSidW(p r7, *w .r8)'
      ${EndIf}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r4)'
    IntOp $6 $6 & 0x410 ; a folder, not a reparse point
    ; Or the very account installing, whose folder goes to the Administrators: it could read
    ; the backups anyway, and the job, as SYSTEM, takes no administrator's own account.
    StrCpy $9 $8
    ${IfThen} $9 == "S-1-5-32-544" ${|} StrCpy $9 "S-1-5-18" ${|}
    ${IfThen} $9 == $Conta ${|} StrCpy $9 "S-1-5-18" ${|}
    ${If} $6 <> 0x10
    ${OrIf} $9 != "S-1-5-18"
      !insertmacro Recusar "A pasta de dados $Dados já existe e não é uma pasta de SYSTEM nem dos Administradores (dono: $8): quem a criou poderia ler os backups. Apague-a ou mova-a e instale de novo."
    ${EndIf}
    ${If} $8 == $Conta
      nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$Dados" /setowner *S-1-5-32-544'
      Pop $0
    ${EndIf}
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$Dados" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F'
    Pop $0
  ${EndIf}
  System::Free $2
  System::Call 'kernel32::LocalFree(p r1)'
  ; The .BAK's folder, the only one SQL Server's service may write, is the job's to make: it
  ; grants it to the service of the instance ServidorDB names, the only one its check trusts
  ; there (a machine may run several). An empty one left by an earlier installer, which granted
  ; every instance it knew, goes; one that holds something stays, for the job's check to name.
  RMDir "$Dados\Backups"

  ; The folders of the program that are missing, one by one, the highest first, each with the
  ; system's permissions alone (SYSTEM and Administrators full, Users read and run, nothing
  ; inherited: one made under C:\ would let every user change it); one that someone else made
  ; in between is refused.
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", i 1, *p .r1, p 0) i .r0'
  System::Call '*(&i8 24, p r1, &i8 0) p .r2'
  ${DoWhile} $R4 > 0
    Pop $R0
    IntOp $R4 $R4 - 1
    System::Call 'kernel32::CreateDirectoryW(w "$R0", p r2) i .r0 ?e'
    Pop $3
    ${If} $0 = 0
      !insertmacro Recusar "Não foi possível criar a pasta do programa $R0 (erro $3): nada foi instalado."
    ${EndIf}
  ${Loop}
  System::Free $2
  System::Call 'kernel32::LocalFree(p r1)'

  ; The program; an upgrade replaces it file by file.
  SetOutPath "$INSTDIR"
  File /r /x pasta-dados "${ORIGEM}\*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Beside kelvane.exe, the file that names the data folder: UTF-8, one line.
  FileOpen $0 "$INSTDIR\pasta-dados" w
  System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w "$Dados", i -1, p 0, i 0, p 0, p 0) i .r1'
  ${If} $1 > 1
    System::Alloc $1
    Pop $2
    System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w "$Dados", i -1, p r2, i r1, p 0, p 0)'
    IntOp $1 $1 - 1
    System::Call 'kernel32::WriteFile(p r0, p r2, i r1, *i .r3, p 0)'
    System::Free $2
    FileWrite $0 "$\r$\n"
  ${EndIf}
  FileClose $0

  ; The Event Log source of the job's runs, its texts in kelvane-exec.exe's message table.
  WriteRegExpandStr HKLM "${FONTE_EVENTOS}" "EventMessageFile" "$INSTDIR\kelvane-exec.exe"
  WriteRegDWORD HKLM "${FONTE_EVENTOS}" "TypesSupported" 7

  WriteRegStr HKLM "${CHAVE}" "PastaPrograma" "$INSTDIR"
  WriteRegStr HKLM "${CHAVE}" "PastaDados" "$Dados"
  WriteRegStr HKLM "${CHAVE}" "Hora" "$Hora"
  WriteRegStr HKLM "${CHAVE_REMOVER}" "DisplayName" "Kelvane"
  WriteRegStr HKLM "${CHAVE_REMOVER}" "DisplayVersion" "${VERSAO}"
  WriteRegStr HKLM "${CHAVE_REMOVER}" "Publisher" "Kelvane"
  WriteRegStr HKLM "${CHAVE_REMOVER}" "DisplayIcon" "$INSTDIR\kelvane.exe"
  WriteRegStr HKLM "${CHAVE_REMOVER}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${CHAVE_REMOVER}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${CHAVE_REMOVER}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${CHAVE_REMOVER}" "NoModify" 1
  WriteRegDWORD HKLM "${CHAVE_REMOVER}" "NoRepair" 1

  ; The window for every user, marked to ask for elevation (the RunAsUser bit of the link's
  ; flags, MS-SHLLINK 2.1.1): the Administrators group counts only in an elevated window.
  CreateShortcut "$SMPROGRAMS\Kelvane.lnk" "$INSTDIR\kelvane.exe" "" "$INSTDIR\kelvane.exe" 0 SW_SHOWNORMAL "" "Configuração do backup do Kelvane"
  FileOpen $0 "$SMPROGRAMS\Kelvane.lnk" a
  FileSeek $0 0x15
  FileReadByte $0 $1
  IntOp $1 $1 | 0x20
  FileSeek $0 0x15
  FileWriteByte $0 $1
  FileClose $0

  Call RegistrarTarefa
  DetailPrint "${TEXTO_FIM}"
SectionEnd

; The scheduled task, from a Task Scheduler XML definition written in the installer's own folder
; (only this account may write there: nobody can swap the file before schtasks reads it).
; kelvane-exec.exe itself, not cmd, so its exit code is the task's "Last Result"; as SYSTEM with
; or without anyone logged on; one run at a time (a run still going takes that day's start with
; it, as the job's lock would refuse it anyway); a start missed while the machine was off runs
; when it is back. The job ends each step itself (SilencioBackup, LimiteEtapa); the scheduler's
; limit only stops a run that hangs anyway, an hour before the next day's start.
Function RegistrarTarefa
  ; The first start is the next HH:MM to come: a past one would count as missed and run at once.
  System::Alloc 16
  Pop $1
  System::Call 'kernel32::GetLocalTime(p r1)'
  System::Call '*$1(&i2 .r2, &i2 .r3, &i2, &i2 .r4, &i2 .r5, &i2 .r6)'
  IntOp $5 $5 * 60
  IntOp $5 $5 + $6
  StrCpy $6 $Hora 2
  StrCpy $7 $Hora 2 3
  IntOp $6 $6 * 60
  IntOp $6 $6 + $7
  ${If} $5 >= $6
    System::Call 'kernel32::SystemTimeToFileTime(p r1, *l .r7)'
    System::Int64Op $7 + 864000000000 ; one day in 100 ns
    Pop $7
    System::Call 'kernel32::FileTimeToSystemTime(*l r7, p r1)'
    System::Call '*$1(&i2 .r2, &i2 .r3, &i2, &i2 .r4)'
  ${EndIf}
  System::Free $1
  IntFmt $3 "%02d" $3
  IntFmt $4 "%02d" $4
  StrCpy $R0 "$2-$3-$4T$Hora:00"

  Push "$INSTDIR\kelvane-exec.exe"
  Call XmlTexto
  Pop $R1
  Push "$Dados"
  Call XmlTexto
  Pop $R2
  InitPluginsDir
  StrCpy $R3 "$PLUGINSDIR\tarefa.xml"
  FileOpen $0 $R3 w
  FileWriteWord $0 0xFEFF
  FileWriteUTF16LE $0 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $0 '  <RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '    <Description>Backup do Kelvane: kelvane-exec.exe EXEC. O código de saída é o último resultado (0: backup enviado); os detalhes ficam no log.</Description>$\r$\n'
  FileWriteUTF16LE $0 '  </RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '  <Triggers>$\r$\n'
  FileWriteUTF16LE $0 '    <CalendarTrigger>$\r$\n'
  FileWriteUTF16LE $0 '      <StartBoundary>$R0</StartBoundary>$\r$\n'
  FileWriteUTF16LE $0 '      <ScheduleByDay>$\r$\n'
  FileWriteUTF16LE $0 '        <DaysInterval>1</DaysInterval>$\r$\n'
  FileWriteUTF16LE $0 '      </ScheduleByDay>$\r$\n'
  FileWriteUTF16LE $0 '    </CalendarTrigger>$\r$\n'
  FileWriteUTF16LE $0 '  </Triggers>$\r$\n'
  FileWriteUTF16LE $0 '  <Principals>$\r$\n'
  FileWriteUTF16LE $0 '    <Principal id="Author">$\r$\n'
  FileWriteUTF16LE $0 '      <UserId>S-1-5-18</UserId>$\r$\n'
  FileWriteUTF16LE $0 '      <LogonType>ServiceAccount</LogonType>$\r$\n'
  FileWriteUTF16LE $0 '      <RunLevel>HighestAvailable</RunLevel>$\r$\n'
  FileWriteUTF16LE $0 '    </Principal>$\r$\n'
  FileWriteUTF16LE $0 '  </Principals>$\r$\n'
  FileWriteUTF16LE $0 '  <Settings>$\r$\n'
  FileWriteUTF16LE $0 '    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>$\r$\n'
  FileWriteUTF16LE $0 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <StartWhenAvailable>true</StartWhenAvailable>$\r$\n'
  FileWriteUTF16LE $0 '    <IdleSettings>$\r$\n'
  FileWriteUTF16LE $0 '      <StopOnIdleEnd>false</StopOnIdleEnd>$\r$\n'
  FileWriteUTF16LE $0 '    </IdleSettings>$\r$\n'
  FileWriteUTF16LE $0 '    <ExecutionTimeLimit>PT23H</ExecutionTimeLimit>$\r$\n'
  FileWriteUTF16LE $0 '    <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $0 '  </Settings>$\r$\n'
  FileWriteUTF16LE $0 '  <Actions Context="Author">$\r$\n'
  FileWriteUTF16LE $0 '    <Exec>$\r$\n'
  FileWriteUTF16LE $0 '      <Command>$R1</Command>$\r$\n'
  FileWriteUTF16LE $0 '      <Arguments>EXEC</Arguments>$\r$\n'
  FileWriteUTF16LE $0 '      <WorkingDirectory>$R2</WorkingDirectory>$\r$\n'
  FileWriteUTF16LE $0 '    </Exec>$\r$\n'
  FileWriteUTF16LE $0 '  </Actions>$\r$\n'
  FileWriteUTF16LE $0 '</Task>$\r$\n'
  FileClose $0
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /XML "$R3" /TN Kelvane /F'
  Pop $0
  ${If} $0 != 0
    !insertmacro Recusar "A tarefa agendada Kelvane não foi criada (schtasks terminou com $0): o backup não rodaria. O programa foi instalado; crie a tarefa como em docs\administracao-windows.md."
  ${EndIf}
  DetailPrint "Tarefa agendada Kelvane: kelvane-exec.exe EXEC todos os dias às $Hora."
FunctionEnd

Function un.onInit
  SetShellVarContext all
  !insertmacro SoAdministrador
  ReadRegStr $Dados HKLM "${CHAVE}" "PastaDados"
  StrCpy $ApagarDados 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/APAGARDADOS" $R1
  ${IfNot} ${Errors}
    StrCpy $ApagarDados 1
  ${EndIf}
FunctionEnd

Function un.PaginaDados
  ${If} $Dados == ""
    Abort ; nothing recorded to offer
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Pasta de dados" "O programa será removido; os dados ficam, a menos que você peça."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 36u "$Dados guarda o info.ini (com as senhas), os logs, os arquivos .7z e os .BAK. Ela fica para uma nova instalação, a menos que seja marcada abaixo."
  Pop $0
  ${NSD_CreateCheckbox} 0 44u 100% 12u "Apagar também a pasta de dados $Dados"
  Pop $CaixaDados
  ${If} $ApagarDados = 1
    ${NSD_Check} $CaixaDados
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.PaginaDadosSair
  ${NSD_GetState} $CaixaDados $0
  ${If} $0 = ${BST_CHECKED}
    StrCpy $ApagarDados 1
  ${Else}
    StrCpy $ApagarDados 0
  ${EndIf}
FunctionEnd

; Whether an entry is a link of any kind (junction, symbolic link, mount point): 1, 0, or -1
; when it cannot be read.
Function un.ELink
  Exch $0
  System::Call 'kernel32::GetFileAttributesW(w r0) i .r0'
  ${If} $0 = -1
    StrCpy $0 -1
  ${ElseIf} $0 & 0x400
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
  Exch $0
FunctionEnd

; The data folder and what the job keeps in it (info.ini, the lock, the archives at the top; the
; logs and the .BAK one level down). RMDir /r would follow a junction and empty whatever it leads
; to, and SQL Server's service may make one in Backups\: here a link is removed as the link it is,
; files are deleted level by level, and a folder is only ever removed once empty (RMDir without
; /r never deletes what is in it). Anything deeper stays, with the folder, and is reported.
Function un.ApagarDados
  Push $Dados
  Call un.ELink
  Pop $0
  ${If} $0 != 0
    DetailPrint "$Dados não foi apagada: não é uma pasta comum."
    Return
  ${EndIf}
  Delete "$Dados\*"
  FindFirst $1 $2 "$Dados\*"
  ${DoWhile} $2 != ""
    ${If} $2 != "."
    ${AndIf} $2 != ".."
      Push "$Dados\$2"
      Call un.ELink
      Pop $0
      ${If} $0 = 0
        Delete "$Dados\$2\*"
        FindFirst $3 $4 "$Dados\$2\*"
        ${DoWhile} $4 != ""
          ${If} $4 != "."
          ${AndIf} $4 != ".."
            RMDir "$Dados\$2\$4"
          ${EndIf}
          FindNext $3 $4
        ${Loop}
        FindClose $3
      ${EndIf}
      RMDir "$Dados\$2"
    ${EndIf}
    FindNext $1 $2
  ${Loop}
  FindClose $1
  RMDir "$Dados"
  ${If} ${FileExists} "$Dados\*"
    DetailPrint "$Dados não foi apagada por inteiro: veja o que ficou nela."
  ${Else}
    DetailPrint "Pasta de dados apagada: $Dados"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /TN Kelvane /F'
  Pop $0
  ${If} $0 != 0
    DetailPrint "schtasks /Delete terminou com $0: confira se a tarefa Kelvane ainda existe."
  ${EndIf}
  Delete "$SMPROGRAMS\Kelvane.lnk"
  DeleteRegKey HKLM "${FONTE_EVENTOS}"
  DeleteRegKey HKLM "${CHAVE_REMOVER}"
  DeleteRegKey HKLM "${CHAVE}"
  ; What the installer put there; ncftpput.exe, copied in by hand, stays.
  Delete "$INSTDIR\7z.exe"
  Delete "$INSTDIR\7z.dll"
  Delete "$INSTDIR\7z-Licenca.txt"
  Delete "$INSTDIR\7z-LGPL.txt"
  Delete "$INSTDIR\7z-Fonte.txt"
  Delete "$INSTDIR\kelvane.exe"
  Delete "$INSTDIR\kelvane-exec.exe"
  Delete "$INSTDIR\LEIA-ME.md"
  Delete "$INSTDIR\docs\*.md"
  Delete "$INSTDIR\docs\*.png"
  RMDir "$INSTDIR\docs"
  Delete "$INSTDIR\pasta-dados"
  Delete "$INSTDIR\translations\qtbase_pt_BR.qm"
  RMDir "$INSTDIR\translations"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  ${If} $ApagarDados = 1
  ${AndIf} $Dados != ""
    Call un.ApagarDados
  ${EndIf}
SectionEnd
