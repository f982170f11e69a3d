; A real installer package for the tests, made with NSIS (makensis -DOUT=...):
; its payload is compressed inside it, it reads its own file while it runs
; and unpacks its plug-ins into TEMP. Installs a file under Program Files and
; registers an uninstaller, as products do; /S makes it silent.
Name "Vexo E2E"
OutFile "${OUT}"
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES\Vexo E2E"

!define UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\VexoE2E"

Section
  InitPluginsDir
  File "/oname=$PLUGINSDIR\unpacked.nsi" "${__FILE__}"
  SetOutPath "$INSTDIR"
  File "/oname=payload.nsi" "${__FILE__}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL}" "DisplayName" "Vexo E2E"
  WriteRegStr HKLM "${UNINSTALL}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\payload.nsi"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL}"
SectionEnd
