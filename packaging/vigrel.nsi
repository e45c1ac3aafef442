; Installer of the Vigrel service: the three programs, a sample settings file, the README and
; the fleet kit (folder fleet) and the group policy templates (folder policy).
; The companion Vigreltray.exe starts at every user's logon (the machine's Run key) and, at the
; end of setup, for the installing user.
; Built by the CMake target "installer", which stages the files first:
;   makensis -NOCD -DVERSION=1.0.0 -DSTAGE=<staged files> -DOUTFILE=<setup.exe> vigrel.nsi
;
; Command line of the setup program:
;   /S          silent: no pages, no questions
;   /START      start the service once installed (the finish page offers the same)
;   /D=folder   installation folder; it must come last and stands unquoted, blanks and all
; Command line of uninstall.exe:
;   /S          silent
;   /PURGE      delete the settings file Vigrel.INI and the log files as well (the
;               uninstaller's components page offers the same); without it they stay

Unicode true
Target amd64-unicode

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

!ifndef VERSION
  !error "define VERSION"
!endif
!ifndef STAGE
  !error "define STAGE"
!endif
!ifndef OUTFILE
  !error "define OUTFILE"
!endif

!define SERVICE_KEY "System\CurrentControlSet\Services\Vigrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vigrel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define EVENTLOG_KEY "System\CurrentControlSet\Services\EventLog\Application\Vigrel"

Name "Vigrel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vigrel"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Vigrel"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Vigrel setup"
VIAddVersionKey "LegalCopyright" "The Vigrel developers"

!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start the Vigrel service now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartService
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Stops and unregisters the service, with the programs in folder $0.
; A copy of Vigrel.exe started while the stopped service's process still holds the program's
; single-instance mutex would do nothing, so the removal waits for that process to end first.
!macro DEFINE_REMOVE_SERVICE UN
Function ${UN}RemoveService
  Push $1
  Push $2
  ReadRegStr $1 HKLM "${SERVICE_KEY}" "ImagePath"
  ${If} $1 != ""
    DetailPrint "Stopping the service Vigrel"
    ExecWait '"$0\Vigrelrun.exe" stop'
    ${For} $2 1 40
      System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Vigrel") p .r1'
      ${If} $1 P= 0
        ${Break}
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r1)'
      Sleep 250
    ${Next}
    DetailPrint "Removing the service Vigrel"
    ExecWait '"$0\Vigrel.exe" -uninstall -silent'
    ReadRegStr $1 HKLM "${SERVICE_KEY}" "ImagePath"
    ${If} $1 != ""
      DetailPrint "The service Vigrel is still registered"
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro DEFINE_REMOVE_SERVICE ""
!insertmacro DEFINE_REMOVE_SERVICE "un."

; Ends the companion in every session (an administrator may end other users' processes), so
; that its file can be replaced or removed; it waits until the file is free.
!macro DEFINE_END_COMPANIONS UN
Function ${UN}EndCompanions
  Push $0
  Push $1
  nsExec::Exec '"$SYSDIR\taskkill.exe" /IM Vigreltray.exe /F'
  Pop $1
  ${For} $1 1 40
    ${IfNot} ${FileExists} "$INSTDIR\Vigreltray.exe"
      ${Break}
    ${EndIf}
    ClearErrors
    FileOpen $0 "$INSTDIR\Vigreltray.exe" a
    ${IfNot} ${Errors}
      FileClose $0
      ${Break}
    ${EndIf}
    Sleep 250
  ${Next}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro DEFINE_END_COMPANIONS ""
!insertmacro DEFINE_END_COMPANIONS "un."

Function StartService
  DetailPrint "Starting the service Vigrel"
  ExecWait '"$INSTDIR\Vigrelrun.exe"'
FunctionEnd

Section "-Vigrel"
  ; An earlier installation's service is running from its files and must go before they are
  ; replaced; the new programs, unpacked aside, stop and remove it wherever it lives.
  ReadRegStr $1 HKLM "${SERVICE_KEY}" "ImagePath"
  ${If} $1 != ""
    InitPluginsDir
    SetOutPath "$PLUGINSDIR"
    File "${STAGE}/Vigrel.exe"
    File "${STAGE}/Vigrelrun.exe"
    StrCpy $0 "$PLUGINSDIR"
    Call RemoveService
  ${EndIf}

  Call EndCompanions
  SetOutPath "$INSTDIR"
  File "${STAGE}/Vigrel.exe"
  File "${STAGE}/Vigrelrun.exe"
  File "${STAGE}/Vigreltray.exe"
  File "${STAGE}/README.md"
  SetOutPath "$INSTDIR\fleet"
  File "${STAGE}/fleet/prometheus-rules.yml"
  File "${STAGE}/fleet/alertmanager-inhibit.yml"
  File "${STAGE}/fleet/grafana-dashboard.json"
  File "${STAGE}/fleet/wef-subscription.xml"
  File "${STAGE}/fleet/query.xml"
  SetOutPath "$INSTDIR\policy"
  File "${STAGE}/policy/vigrel.admx"
  SetOutPath "$INSTDIR\policy\en-US"
  File "${STAGE}/policy/en-US/vigrel.adml"
  SetOutPath "$INSTDIR"
  ; The user's settings survive a reinstall.
  SetOverwrite off
  File "${STAGE}/Vigrel.INI"
  SetOverwrite on
  ; SYSTEM and Administrators only, inheriting nothing: the password in it is protected for the
  ; machine, which holds against nobody who may read the file. A kept file is narrowed too.
  nsExec::Exec '"$SYSDIR\icacls.exe" "$INSTDIR\Vigrel.INI" /inheritance:r /grant:r *S-1-5-18:F *S-1-5-32-544:F'
  Pop $0

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vigrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Vigrel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  DetailPrint "Registering the service Vigrel"
  ExecWait '"$INSTDIR\Vigrel.exe" -install -silent'
  ReadRegStr $1 HKLM "${SERVICE_KEY}" "ImagePath"
  ${If} $1 == ""
    MessageBox MB_OK|MB_ICONSTOP "The service Vigrel could not be registered." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; The registration wrote the event source too; the same values again, so that the entries
  ; are worded from the program's message table whatever the registration could do.
  WriteRegExpandStr HKLM "${EVENTLOG_KEY}" "EventMessageFile" "$INSTDIR\Vigrel.exe"
  WriteRegDWORD HKLM "${EVENTLOG_KEY}" "TypesSupported" 7

  ${If} ${Silent}
    ${GetParameters} $1
    ClearErrors
    ${GetOptions} $1 "/START" $2
    ${IfNot} ${Errors}
      Call StartService
    ${EndIf}
  ${EndIf}

  ; The companion shows the service in each user's session; it waits for the service by itself.
  WriteRegStr HKLM "${RUN_KEY}" "Vigreltray" '"$INSTDIR\Vigreltray.exe"'
  DetailPrint "Starting the companion Vigreltray"
  Exec '"$INSTDIR\Vigreltray.exe"'
SectionEnd

Section "-un.Service and programs"
  DeleteRegValue HKLM "${RUN_KEY}" "Vigreltray"
  Call un.EndCompanions
  StrCpy $0 "$INSTDIR"
  Call un.RemoveService
  ; Removed with the service; also when the service was removed by other means.
  DeleteRegKey HKLM "${EVENTLOG_KEY}"
  Delete "$INSTDIR\Vigrel.exe"
  Delete "$INSTDIR\Vigrelrun.exe"
  Delete "$INSTDIR\Vigreltray.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\fleet\prometheus-rules.yml"
  Delete "$INSTDIR\fleet\alertmanager-inhibit.yml"
  Delete "$INSTDIR\fleet\grafana-dashboard.json"
  Delete "$INSTDIR\fleet\wef-subscription.xml"
  Delete "$INSTDIR\fleet\query.xml"
  RMDir "$INSTDIR\fleet"
  Delete "$INSTDIR\policy\en-US\vigrel.adml"
  Delete "$INSTDIR\policy\vigrel.admx"
  RMDir "$INSTDIR\policy\en-US"
  RMDir "$INSTDIR\policy"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Settings (Vigrel.INI) and log files" SecPurge
  Delete "$INSTDIR\Vigrel.INI"
  Delete "$INSTDIR\log*.log"
SectionEnd

; Last, so that the uninstaller's file going away means everything else is done.
Section "-un.Finish"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  ${un.GetParameters} $1
  ClearErrors
  ${un.GetOptions} $1 "/PURGE" $2
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPurge}
  ${EndIf}
FunctionEnd
