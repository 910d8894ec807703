; The Windows installer: corvanel.exe and corvanel-cli.exe in one folder, a
; Start-menu folder, an uninstaller that removes everything the installer added, and the
; program's version in the installer's own version block.
; makensis -DVERSION=1.0.0.1 -DBINDIR=<folder with the .exe files> -DOUTFILE=<setup.exe>
;          -DICON=<the application icon, .ico> corvanel.nsi
; Silent use: setup.exe /S [/D=C:\folder]   and   Uninstall.exe /S

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef BINDIR
  !error "BINDIR is not defined"
!endif
!ifndef OUTFILE
  !error "OUTFILE is not defined"
!endif
!ifndef ICON
  !error "ICON is not defined"
!endif

!define PRODUCT "Corvanel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvanel"

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
Icon "${ICON}"
UninstallIcon "${ICON}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Corvanel Application"
VIAddVersionKey /LANG=1033 "FileDescription" "Corvanel Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "InternalName" "Corvanel Setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026"
VIAddVersionKey /LANG=1033 "OriginalFilename" "corvanel-${VERSION}-setup.exe"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Corvanel"
  SetShellVarContext all
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${BINDIR}\corvanel-cli.exe"
  File "${BINDIR}\corvanel.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Corvanel.lnk" "$INSTDIR\corvanel.exe"
  ; A command prompt in the program's folder, with the command line's help shown.
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Corvanel command line.lnk" "$SYSDIR\cmd.exe" \
    '/k "cd /d "$INSTDIR" && corvanel-cli.exe --help"'
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall Corvanel.lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Corvanel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Corvanel authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  Delete "$SMPROGRAMS\${PRODUCT}\Corvanel.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Corvanel command line.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall Corvanel.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$INSTDIR\corvanel.exe"
  Delete "$INSTDIR\corvanel-cli.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
