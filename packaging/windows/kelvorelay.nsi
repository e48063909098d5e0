; KelvoRelay for Windows: a per-user installation without administrator rights, into
; %LOCALAPPDATA%\Programs\KelvoRelay, so that the debug log beside the executable is writable.
; Built by `make windows-installer`; makensis gets VERSION, BIN_DIR (kelvorelay.exe and
; Readme.txt), ICON and OUTFILE on its command line.
;
; Silent use:
;   KelvoRelay-<version>-setup.exe /S [/AUTOSTART=1|0] [/D=<folder>]
;   uninstall.exe /S
; /AUTOSTART=1 starts KelvoRelay at sign-in, /AUTOSTART=0 no longer; without it a silent
; upgrade keeps what the user chose. A running KelvoRelay is ended first through its own --quit
; (settings saved); when it has not ended within 10 s a silent run exits with code 2 and
; changes nothing. A silent uninstall never removes the settings.
;
; A 64-bit installer for the 64-bit program (and it runs where only 64-bit Wine is installed).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "nsDialogs.nsh"

!define PRODUCT "KelvoRelay"
!define PUBLISHER "Marlowin"
!define WEBSITE "https://www.marlowin.com"
!define EXE "kelvorelay.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvoRelay"
!define SETTINGS_KEY "Software\Marlowin\KelvoRelay"
; The entry of start at sign-in that `kelvorelay --autostart on` writes, and the mark Task
; Manager sets beside it when the user switches it off there.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
!define RUN_VALUE "KelvoRelay"
; How long a running KelvoRelay gets to end (its --quit saves the settings first).
!define QUIT_PATIENCE_MS 10000

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the installed one is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Var Autostart        ; "1" on, "0" off, "" leave as it is
Var RemoveSettings   ; the uninstaller's choice, ${BST_CHECKED} or not
Var RemoveSettingsBox

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The last page: run it now, and start at sign-in (the read-me box, put to that use).
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Run KelvoRelay now"
!define MUI_FINISHPAGE_RUN_FUNCTION RunNow
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Start KelvoRelay when I sign in"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION NoReadme
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishShow
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE FinishLeave
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.SettingsPage un.SettingsPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Ends the KelvoRelay of $INSTDIR, window or headless, through its own --quit, and waits until
; its executable can be replaced. When it is still running after QUIT_PATIENCE_MS the user is
; told and may try again; a silent run ends with exit code 2 and nothing changed.
!macro CLOSE_RUNNING_RELAY UN
Function ${UN}CloseRunningRelay
  ${IfNot} ${FileExists} "$INSTDIR\${EXE}"
    Return
  ${EndIf}
  try:
  DetailPrint "Asking a running KelvoRelay to end..."
  System::Call "kernel32::GetTickCount() i .r8"
  ; Without a console window; --quit waits for the end itself, and comes back at once with
  ; code 1 when nothing runs.
  nsExec::Exec /TIMEOUT=${QUIT_PATIENCE_MS} '"$INSTDIR\${EXE}" --quit'
  Pop $0
  ; The executable of a running program cannot be opened for writing.
  ${Do}
    ClearErrors
    FileOpen $1 "$INSTDIR\${EXE}" a
    ${IfNot} ${Errors}
      FileClose $1
      Return
    ${EndIf}
    System::Call "kernel32::GetTickCount() i .r9"
    IntOp $9 $9 - $8
    ${If} $9 >= ${QUIT_PATIENCE_MS}
      ${ExitDo}
    ${EndIf}
    Sleep 200
  ${Loop}
  DetailPrint "KelvoRelay is still running."
  ${If} ${Silent}
    SetErrorLevel 2
    Quit
  ${EndIf}
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
    "KelvoRelay is still running and did not end within 10 seconds.$\r$\n$\r$\nEnd it with $\"Exit$\" in the menu of its icon in the notification area, then choose Retry. Cancel stops here without changing anything." \
    /SD IDCANCEL IDRETRY try
  SetErrorLevel 2
  Abort "KelvoRelay is still running; nothing was changed."
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_RELAY ""
!insertmacro CLOSE_RUNNING_RELAY "un."

; Start at sign-in through the program itself, so that the entry is the one --autostart writes.
Function SetAutostart  ; "on" or "off" on the stack
  Exch $0
  nsExec::Exec '"$INSTDIR\${EXE}" --autostart $0'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Start at sign-in could not be changed (code $0)."
  ${EndIf}
  Pop $0
FunctionEnd

Function .onInit
  ; The current user's Start menu and application data, never the machine's.
  SetShellVarContext current
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AUTOSTART=" $R1
  ${IfNot} ${Errors}
  ${AndIf} $R1 != ""
    ${If} $R1 == "0"
      StrCpy $Autostart "0"
    ${Else}
      StrCpy $Autostart "1"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "KelvoRelay"
  Call CloseRunningRelay
  ; Whether an earlier installation starts at sign-in, read before anything changes.
  ReadRegStr $R2 HKCU "${RUN_KEY}" "${RUN_VALUE}"

  SetOutPath "$INSTDIR"
  File "${BIN_DIR}\${EXE}"
  ; Help shows the read-me that lies beside the executable.
  File "${BIN_DIR}\Readme.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "${WEBSITE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KB, as Settings > Apps shows it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"

  ${If} ${Silent}
    ${If} $Autostart == "1"
      Push "on"
      Call SetAutostart
    ${ElseIf} $Autostart == "0"
      Push "off"
      Call SetAutostart
    ${ElseIf} $R2 != ""
      ; Kept as the user chose it, pointed at this installation's executable.
      Push "on"
      Call SetAutostart
    ${EndIf}
  ${ElseIf} $Autostart == ""
  ${AndIf} $R2 != ""
    StrCpy $Autostart "1"  ; the last page's box starts ticked
  ${EndIf}
SectionEnd

Function RunNow
  Exec '"$INSTDIR\${EXE}"'
FunctionEnd

Function NoReadme
  ; The box is read in FinishLeave, ticked or not.
FunctionEnd

Function FinishShow
  ${If} $Autostart == "1"
    ${NSD_Check} $mui.FinishPage.ShowReadme
  ${EndIf}
FunctionEnd

Function FinishLeave
  ${NSD_GetState} $mui.FinishPage.ShowReadme $0
  ${If} $0 == ${BST_CHECKED}
    Push "on"
    Call SetAutostart
  ${Else}
    ReadRegStr $1 HKCU "${RUN_KEY}" "${RUN_VALUE}"
    ${If} $1 != ""
      Push "off"
      Call SetAutostart
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext current
  StrCpy $RemoveSettings ${BST_UNCHECKED}
FunctionEnd

; The settings are the user's: they stay unless the user asks otherwise here.
Function un.SettingsPage
  !insertmacro MUI_HEADER_TEXT "Your settings" "KelvoRelay's settings stay for a later installation."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 40u "KelvoRelay keeps the chosen adapter, the static IP list and the window position under HKEY_CURRENT_USER\${SETTINGS_KEY}. Left in place, a later installation of KelvoRelay finds them again."
  Pop $0
  ${NSD_CreateCheckbox} 0 48u 100% 12u "Remove my settings"
  Pop $RemoveSettingsBox
  ${NSD_SetState} $RemoveSettingsBox $RemoveSettings
  nsDialogs::Show
FunctionEnd

Function un.SettingsPageLeave
  ${NSD_GetState} $RemoveSettingsBox $RemoveSettings
FunctionEnd

; Removes the program's files, its shortcut, its start at sign-in and its Uninstall entry.
Section "Uninstall"
  Call un.CloseRunningRelay
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\Readme.txt"
  ; The debug log the program wrote beside itself.
  Delete "$INSTDIR\kelvorelay.log"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegValue HKCU "${APPROVED_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${If} $RemoveSettings == ${BST_CHECKED}
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Marlowin"
  ${EndIf}
SectionEnd
