; Installer of the student service for Windows student PCs: kursdienst and
; its helpers go to Program Files, the service is registered and started.
; Built by scripts/test-windows.sh:
;   makensis -DVERSION=x.y.z -DBINDIR=<folder with the programs> -DOUTFILE=<setup.exe> kursdienst.nsi

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION
  !error "VERSION is not set"
!endif
!ifndef BINDIR
  !error "BINDIR is not set"
!endif
!ifndef OUTFILE
  !define OUTFILE "kursdienst-setup-${VERSION}.exe"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Saalwacht-kursdienst"

Name "Saalwacht kursdienst ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Saalwacht"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"

Section "kursdienst"
  SetShellVarContext all
  ; An earlier installation is stopped and unregistered first, so that its
  ; files can be replaced.
  IfFileExists "$INSTDIR\kursdienst.exe" 0 fresh
    nsExec::ExecToLog '"$SYSDIR\net.exe" stop Service1'
    Pop $0
    nsExec::ExecToLog '"$INSTDIR\kursdienst.exe" /UNINSTALL /SILENT'
    Pop $0
  fresh:

  SetOutPath "$INSTDIR"
  File "${BINDIR}\kursdienst.exe"
  File "${BINDIR}\swdkl.exe"
  File "${BINDIR}\swmsg.exe"
  File "${BINDIR}\swsdmsg.exe"
  File "${BINDIR}\swscr.exe"
  File "${BINDIR}\swscrerror.jpg"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Saalwacht kursdienst"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Saalwacht"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  nsExec::ExecToLog '"$INSTDIR\kursdienst.exe" /INSTALL /SILENT'
  Pop $0
  StrCmp $0 "0" registered
    SetErrors
    DetailPrint "Der Dienst kursdienst konnte nicht eingerichtet werden ($0)."
    Abort "Der Dienst kursdienst konnte nicht eingerichtet werden."
  registered:
  nsExec::ExecToLog '"$SYSDIR\net.exe" start Service1'
  Pop $0
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  nsExec::ExecToLog '"$SYSDIR\net.exe" stop Service1'
  Pop $0
  nsExec::ExecToLog '"$INSTDIR\kursdienst.exe" /UNINSTALL /SILENT'
  Pop $0
  Delete "$INSTDIR\kursdienst.exe"
  Delete "$INSTDIR\swdkl.exe"
  Delete "$INSTDIR\swmsg.exe"
  Delete "$INSTDIR\swsdmsg.exe"
  Delete "$INSTDIR\swscr.exe"
  Delete "$INSTDIR\swscrerror.jpg"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
