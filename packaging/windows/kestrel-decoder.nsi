; The Windows installer (makensis, from scripts/package-windows.sh): the
; programs, the guide and the licence under Program Files, a Start-menu
; shortcut that starts the decoder in the user's station folder
; Documents\KESTREL, one that opens a Command Prompt there with the programs
; at hand, and an uninstaller that takes all of that away again but leaves the
; station folder (settings and archive) alone. A newer installer installs over
; an older one. A program of ours that is running from the folder is closed
; first, as its close box closes it (the decoder stores its settings), after
; asking; nothing is written or removed while one still runs.
;
; Defined by the caller: VERSION (the package version, 1.83.N), STAGE (the
; folder holding the files), OUTFILE, CAPTION (the decoder window's caption).

; A 64-bit installer, as the programs are: it runs where they run (and on a
; Wine without 32-bit support), and Windows refuses it where they would not.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"

!define APP "KESTREL Telemetry Decoder"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KESTREL Telemetry Decoder"
; The top-level windows of the decoder and of the trend window (class, caption).
!define DECODER_CLASS "TForm1"
!define TRENDS_CLASS "KestrelTrends"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; Program Files needs an administrator; the shortcut goes to the Start menu of
; the user who installs, whose Documents folder it starts in.
RequestExecutionLevel admin
ManifestDPIAware true
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${APP}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${APP} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "KESTREL team"
VIAddVersionKey /LANG=1033 "LegalCopyright" "GNU GPL version 3 or later"

!define MUI_ICON "${STAGE}\kestrel-decoder.ico"
!define MUI_UNICON "${STAGE}\kestrel-decoder.ico"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The last page offers to start the decoder, as its Start-menu shortcut does.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start the decoder"
!define MUI_FINISHPAGE_RUN_FUNCTION StartDecoder
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README-windows.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!define MUI_UNCONFIRMPAGE_TEXT_TOP "The programs, their guide and their Start-menu shortcuts will be removed from \
  your computer. Your station folder $DOCUMENTS\KESTREL stays as it is: the settings, the archive (Telemetry) \
  and the station log are kept."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---- A program of ours still running from $INSTDIR ----
; Defined twice, for the installer and (with the prefix un.) the uninstaller.
!macro RUNNING_PROGRAMS un
; $R0: the first of our programs in $INSTDIR that cannot be written, as while
; it runs, or "".
Function ${un}ProgramInUse
  StrCpy $R0 ""
  ${ForEach} $R1 0 2 + 1
    ${Select} $R1
      ${Case} 0
        StrCpy $R2 "kestrel-decoder.exe"
      ${Case} 1
        StrCpy $R2 "kestrel-trends.exe"
      ${Case} 2
        StrCpy $R2 "kestrel-redecode.exe"
    ${EndSelect}
    ${If} ${FileExists} "$INSTDIR\$R2"
      ClearErrors
      FileOpen $R3 "$INSTDIR\$R2" a
      ${If} ${Errors}
        StrCpy $R0 $R2
        ${Break}
      ${EndIf}
      FileClose $R3
    ${EndIf}
  ${Next}
FunctionEnd

; Asks the open windows of the decoder and of the trend window to close, as
; their close boxes do: the decoder stores its settings and closes its logs.
; A window that is still there is asked again at the next call.
Function ${un}CloseWindows
  ${ForEach} $R1 0 1 + 1
    ${If} $R1 == 0
      StrCpy $R2 "${DECODER_CLASS}"
      StrCpy $R3 "${CAPTION}"
    ${Else}
      StrCpy $R2 "${TRENDS_CLASS}"
      StrCpy $R3 ""
    ${EndIf}
    StrCpy $R4 0
    ${Do}
      FindWindow $R5 $R2 $R3
      ${If} $R5 == 0
      ${OrIf} $R5 == $R4
        ${Break}
      ${EndIf}
      ; Not waited for long: one with a box up closes once the box is gone.
      SendMessage $R5 ${WM_CLOSE} 0 0 /TIMEOUT=2000
      StrCpy $R4 $R5
    ${Loop}
  ${Next}
FunctionEnd

; Goes on only once none of our programs runs from $INSTDIR any more: asks to
; close them (silently: closes them), waits up to 30 s for them to end, and
; asks again (silently: gives up) while one still runs. Giving up ends setup
; with exit code 2 before anything was written or removed.
Function ${un}CloseRunningPrograms
  Call ${un}ProgramInUse
  ${If} $R0 == ""
    Return
  ${EndIf}
  MessageBox MB_OKCANCEL|MB_ICONINFORMATION "${APP} is running ($R0). It will be closed now; the decoder stores \
    its settings first.$\r$\n$\r$\nOK closes it and goes on, Cancel stops here and changes nothing." \
    /SD IDOK IDOK close
  Goto giveUp
close:
  ${ForEach} $R6 0 119 + 1
    IntOp $R7 $R6 % 8
    ${IfThen} $R7 == 0 ${|} Call ${un}CloseWindows ${|}
    Sleep 250
    Call ${un}ProgramInUse
    ${IfThen} $R0 == "" ${|} Return ${|}
  ${Next}
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$R0 in $INSTDIR is still running. Close it (kestrel-redecode.exe \
    runs in a Command Prompt: end it there), then press Retry.$\r$\n$\r$\nCancel stops here and changes nothing." \
    /SD IDCANCEL IDRETRY close
giveUp:
  SetErrorLevel 2
  Quit
FunctionEnd
!macroend
!insertmacro RUNNING_PROGRAMS ""
!insertmacro RUNNING_PROGRAMS "un."

; Started as the Start-menu shortcut starts it (its arguments and "Start in"),
; by the shell rather than by this elevated installer, so that it runs as the
; user who installed it and not as the administrator.
Function StartDecoder
  SetShellVarContext current
  Exec '"$WINDIR\explorer.exe" "$SMPROGRAMS\${APP}.lnk"'
FunctionEnd

Section "Install"
  SetShellVarContext current
  Call CloseRunningPrograms
  ; The uninstaller and its entry first: whatever follows can be taken away.
  CreateDirectory "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "KESTREL team"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrel-decoder.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  SetOutPath "$INSTDIR"
  File "${STAGE}\kestrel-decoder.exe"
  File "${STAGE}\kestrel-redecode.exe"
  !if /FileExists "${STAGE}\kestrel-trends.exe"
    File "${STAGE}\kestrel-trends.exe"
  !endif
  File "${STAGE}\README-windows.txt"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\copyright.txt"
  SetOutPath "$INSTDIR\satnogs"
  File "${STAGE}\satnogs\kestrel.ksy"
  SetOutPath "$INSTDIR"

  ; The shortcuts' "Start in" is the folder they create in; --station makes
  ; the decoder enter (and make) each user's own Documents\KESTREL even so.
  CreateDirectory "$DOCUMENTS\KESTREL"
  SetOutPath "$DOCUMENTS\KESTREL"
  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\kestrel-decoder.exe" "--station" \
    "$INSTDIR\kestrel-decoder.exe" 0 SW_SHOWNORMAL "" "Receive, decode and archive the KESTREL satellite's beacons"
  !if /FileExists "${STAGE}\kestrel-trends.exe"
    CreateShortcut "$SMPROGRAMS\KESTREL Trends.lnk" "$INSTDIR\kestrel-trends.exe" "" \
      "$INSTDIR\kestrel-trends.exe" 0 SW_SHOWNORMAL "" "The trends of the beacons archived in Documents\KESTREL"
  !endif
  ; The guide's commands as written: in the station folder, the programs
  ; found by their names.
  CreateShortcut "$SMPROGRAMS\KESTREL Command Prompt.lnk" "$SYSDIR\cmd.exe" \
    '/k "set "PATH=$INSTDIR;%PATH%" && kestrel-redecode.exe --version"' "$SYSDIR\cmd.exe" 0 SW_SHOWNORMAL "" \
    "A Command Prompt in Documents\KESTREL for kestrel-redecode.exe and kestrel-trends.exe"
  SetOutPath "$INSTDIR"
SectionEnd

; Only what the installer put there: the station folder with its settings and
; archive stays in Documents. The programs go first; while one cannot be
; removed, nothing else is.
Section "Uninstall"
  SetShellVarContext current
  Call un.CloseRunningPrograms
  Delete "$INSTDIR\kestrel-decoder.exe"
  Delete "$INSTDIR\kestrel-redecode.exe"
  Delete "$INSTDIR\kestrel-trends.exe"
  ${If} ${FileExists} "$INSTDIR\kestrel-decoder.exe"
  ${OrIf} ${FileExists} "$INSTDIR\kestrel-redecode.exe"
  ${OrIf} ${FileExists} "$INSTDIR\kestrel-trends.exe"
    MessageBox MB_OK|MB_ICONSTOP "The programs in $INSTDIR could not be removed; nothing else was. Close them and \
      uninstall again." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "$SMPROGRAMS\KESTREL Trends.lnk"
  Delete "$SMPROGRAMS\KESTREL Command Prompt.lnk"
  Delete "$INSTDIR\README-windows.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\copyright.txt"
  Delete "$INSTDIR\satnogs\kestrel.ksy"
  RMDir "$INSTDIR\satnogs"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
