; The Windows installer (makensis, from scripts/package-windows.sh): the
; programs, the guide and the licence under Program Files, a Start-menu
; shortcut that starts the decoder in the user's station folder
; Documents\KESTREL, and an uninstaller that takes all of that away again but
; leaves the station folder (settings and archive) alone.
;
; Defined by the caller: VERSION, STAGE (the folder holding the files), OUTFILE.

; A 64-bit installer, as the programs are: it runs where they run (and on a
; Wine without 32-bit support), and Windows refuses it where they would not.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"

!define APP "KESTREL Telemetry Decoder"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KESTREL Telemetry Decoder"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; Program Files needs an administrator; the shortcut goes to the Start menu of
; the user who installs, whose Documents folder it starts in.
RequestExecutionLevel admin
ManifestDPIAware true

!define MUI_ICON "${STAGE}\kestrel-decoder.ico"
!define MUI_UNICON "${STAGE}\kestrel-decoder.ico"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README-windows.txt"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Install"
  SetShellVarContext current
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
  WriteUninstaller "$INSTDIR\Uninstall.exe"

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
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "KESTREL team"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrel-decoder.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there: the station folder with its settings and
; archive stays in Documents.
Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "$SMPROGRAMS\KESTREL Trends.lnk"
  Delete "$INSTDIR\kestrel-decoder.exe"
  Delete "$INSTDIR\kestrel-redecode.exe"
  Delete "$INSTDIR\kestrel-trends.exe"
  Delete "$INSTDIR\README-windows.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\copyright.txt"
  Delete "$INSTDIR\satnogs\kestrel.ksy"
  RMDir "$INSTDIR\satnogs"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
