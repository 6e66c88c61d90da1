; Installer of the student service for Windows student PCs: kursdienst and
; its helpers go to Program Files, the service is registered and started.
; Built by scripts/test-windows.sh:
;   makensis -DVERSION=x.y.z -DBINDIR=<folder with the programs> -DOUTFILE=<setup.exe> kursdienst.nsi
;
; Securing the PC at install time, also silently:
;   kursdienst-setup.exe /S /ALLOW=192.168.10.5,10.1.0.0/16,lehrer-pc /TRUSTKEY=\\server\share\lehrer.pub
; (a value runs to the next " /"; quotes around it are allowed)
; /ALLOW names the only sources whose connections are served; /TRUSTKEY is the
; public key file of the teacher console whose proven commands alone are
; carried out. Both end up in kursdienst.conf beside the service, in Program
; Files, where only administrators may write. Without them an earlier
; kursdienst.conf is kept, or the PC stays open.

Unicode true
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "nsDialogs.nsh"

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

Var Allow
Var TrustKey
Var AllowField
Var KeyField

Page directory
Page custom securityPage securityPageLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"

; The value of "/NAME=" on the command line ($R0 holds "/NAME="), in $R1: it
; runs to the next " /" or the end, so networks such as 10.1.0.0/16 and lists
; with blanks stay whole; quotes around the switch or the value are dropped.
Function switchValue
  StrCpy $R1 ""
  StrLen $1 $R0
  StrLen $2 $CMDLINE
  StrCpy $3 0
  find:
    IntCmp $3 $2 done 0 done
    StrCpy $4 $CMDLINE $1 $3
    StrCmp $4 $R0 found
    IntOp $3 $3 + 1
    Goto find
  found:
    IntOp $3 $3 + $1
    StrCpy $5 $3
  scan:
    IntCmp $5 $2 cut 0 cut
    StrCpy $4 $CMDLINE 2 $5
    StrCmp $4 " /" cut
    IntOp $5 $5 + 1
    Goto scan
  cut:
    IntOp $5 $5 - $3
    StrCpy $R1 $CMDLINE $5 $3
  unquote:
    StrCpy $4 $R1 1 -1
    StrCmp $4 '"' 0 +3
      StrCpy $R1 $R1 -1
      Goto unquote
    StrCpy $4 $R1 1
    StrCmp $4 '"' 0 +3
      StrCpy $R1 $R1 "" 1
      Goto unquote
    StrCmp $4 " " 0 done
      StrCpy $R1 $R1 "" 1
      Goto unquote
  done:
FunctionEnd

Function .onInit
  StrCpy $R0 "/ALLOW="
  Call switchValue
  StrCpy $Allow $R1
  StrCpy $R0 "/TRUSTKEY="
  Call switchValue
  StrCpy $TrustKey $R1
FunctionEnd

Function securityPage
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "Wer darf diesen Schüler-PC steuern? Leer lassen: jede Lehrerkonsole im Netz."
  Pop $0
  ${NSD_CreateLabel} 0 30u 100% 10u "Erlaubte Absender (Adressen, Netze wie 10.1.0.0/16, Rechnernamen; mit Komma getrennt):"
  Pop $0
  ${NSD_CreateText} 0 42u 100% 12u "$Allow"
  Pop $AllowField
  ${NSD_CreateLabel} 0 64u 100% 10u "Öffentlicher Schlüssel der Lehrerkonsole (Datei .pub):"
  Pop $0
  ${NSD_CreateFileRequest} 0 76u 80% 12u "$TrustKey"
  Pop $KeyField
  ${NSD_CreateBrowseButton} 82% 75u 18% 14u "Durchsuchen..."
  Pop $0
  ${NSD_OnClick} $0 browseKey
  nsDialogs::Show
FunctionEnd

Function browseKey
  nsDialogs::SelectFileDialog open "$TrustKey" "Öffentliche Schlüssel (*.pub)|*.pub|Alle Dateien|*.*"
  Pop $0
  ${If} $0 != ""
    ${NSD_SetText} $KeyField $0
  ${EndIf}
FunctionEnd

Function securityPageLeave
  ${NSD_GetText} $AllowField $Allow
  ${NSD_GetText} $KeyField $TrustKey
FunctionEnd

; Writes kursdienst.conf from the options; the service checks it at once.
Function writeSettings
  ${If} $Allow == ""
  ${AndIf} $TrustKey == ""
    Return
  ${EndIf}
  ${If} $TrustKey != ""
    IfFileExists "$TrustKey" keyFound
      Abort "Die Schlüsseldatei $TrustKey gibt es nicht."
    keyFound:
    CreateDirectory "$INSTDIR\trusted-keys"
    ${GetFileName} "$TrustKey" $1
    CopyFiles /SILENT "$TrustKey" "$INSTDIR\trusted-keys\$1"
  ${EndIf}
  FileOpen $0 "$INSTDIR\kursdienst.conf" w
  FileWrite $0 "# Written by the kursdienst installer.$\r$\n"
  ${If} $Allow != ""
    FileWrite $0 "allow = $Allow$\r$\n"
  ${EndIf}
  ${If} $TrustKey != ""
    FileWrite $0 "trusted-keys = $INSTDIR\trusted-keys$\r$\n"
  ${EndIf}
  FileClose $0
  nsExec::ExecToLog '"$INSTDIR\kursdienst.exe" /CHECK'
  Pop $0
  StrCmp $0 "0" +3
    SetErrors
    Abort "Die Einstellungen in $INSTDIR\kursdienst.conf sind fehlerhaft (siehe oben)."
FunctionEnd

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
  Call writeSettings

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
  Delete "$INSTDIR\kursdienst.conf"
  RMDir /r "$INSTDIR\trusted-keys"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
