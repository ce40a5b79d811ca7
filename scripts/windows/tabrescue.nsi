; The Windows installer: both programs and the help under Program Files, a Start-menu shortcut to
; the window, an uninstaller registered with the system.
;   makensis -DVERSION=1.0.0 -DSTAGE=dir -DOUTFILE=setup.exe tabrescue.nsi
Unicode true
; A 32-bit installer would not start on a 64-bit-only system.
Target amd64-unicode

Name "tabrescue ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\tabrescue"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
Icon "${STAGE}/tabrescue.ico"
UninstallIcon "${STAGE}/tabrescue.ico"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tabrescue"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "tabrescue"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/tabrescue-gui.exe"
  File "${STAGE}/tabrescue.exe"
  File "${STAGE}/README.TXT"
  SetOutPath "$INSTDIR\examples"
  File "${STAGE}/examples/*.*"
  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\tabrescue"
  CreateShortcut "$SMPROGRAMS\tabrescue\tabrescue.lnk" "$INSTDIR\tabrescue-gui.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "tabrescue ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tabrescue-gui.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\tabrescue-gui.exe"
  Delete "$INSTDIR\tabrescue.exe"
  Delete "$INSTDIR\README.TXT"
  Delete "$INSTDIR\examples\*.*"
  RMDir "$INSTDIR\examples"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\tabrescue\tabrescue.lnk"
  RMDir "$SMPROGRAMS\tabrescue"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
