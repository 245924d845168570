; Steps of the kqget installer beyond CPack's own, included at the top of the
; script CPack writes; windows_package.cmake hooks the macros into it.

!include FileFunc.nsh

!define KQGET_APPS_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\kqget"

; An upgrade or reinstall goes where the installation the Apps entry names
; is, unless /D or the folder page says otherwise. NSIS drops the quotes and
; the uninstaller's own name from the value.
InstallDirRegKey HKLM "${KQGET_APPS_KEY}" "UninstallString"

; Before any file goes in, the installation the Apps entry names is removed
; with its own uninstaller, wherever it is, so there is only ever one. In
; place (_?=) the uninstaller cannot delete itself: that is done once it has
; ended, or it would be left behind to remove the new installation's entries.
!macro KqgetRemoveEarlierInstallation
  ReadRegStr $0 HKLM "${KQGET_APPS_KEY}" "UninstallString"
  StrCmp $0 "" kqget_no_earlier_installation
  StrCpy $1 $0 1
  StrCmp $1 '"' 0 +2
    StrCpy $0 $0 "" 1
  StrCpy $1 $0 1 -1
  StrCmp $1 '"' 0 +2
    StrCpy $0 $0 -1
  IfFileExists $0 0 kqget_no_earlier_installation
  ${GetParent} $0 $1
  DetailPrint "Removing the installation in $1"
  ExecWait '"$0" /S _?=$1'
  Delete $0
  RMDir $1
  SetOutPath $INSTDIR
  kqget_no_earlier_installation:
!macroend

; A shortcut's "Start in" folder is where the program writes its run log. The
; installation folder is not writable for a standard user, and $DOCUMENTS is
; the installing account's (or, for all users, the public one) when it is
; expanded here; the shell expands a variable in "Start in" for whoever
; starts the shortcut. $OUTDIR is that folder for CreateShortCut.
!macro KqgetCreateShortcuts
  StrCpy $OUTDIR "%USERPROFILE%\Documents"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\kqget.lnk" "$INSTDIR\kqget.exe"
  ; The command's help on screen, and kqget-cli found from the prompt's folder.
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\kqget command prompt.lnk" "$SYSDIR\cmd.exe" \
    '/k "set "PATH=$INSTDIR;%PATH%" && kqget-cli.exe --help"'
  SetOutPath $INSTDIR
!macroend

; Comes after CPack's own removal of the installation's key, so the vendor's
; key above it, which CPack leaves, is empty now unless another program of
; ours still uses it; so is a folder that held only the installation folder.
; Neither is removed when it holds anything.
!macro KqgetDeleteShortcuts
  Delete "$SMPROGRAMS\$MUI_TEMP\kqget.lnk"
  Delete "$SMPROGRAMS\$MUI_TEMP\kqget command prompt.lnk"
  DeleteRegKey /ifempty SHCTX "Software\kqget developers" ; CPACK_PACKAGE_VENDOR
  ${GetParent} $INSTDIR $0
  RMDir $0
!macroend

; The value of an option such as /INFOBASE= on the installer's command line,
; in any case, up to the next space or, quoted, the closing quote; "" when
; the option is not given. (FileFunc's GetOptions ends a value at its first
; '/', which every URL holds.)
;   Push "/INFOBASE="  Call KqgetCommandLineValue  Pop $0
Function KqgetCommandLineValue
  Exch $0 ; the option
  Push $1
  Push $2
  Push $3
  Push $4
  ${GetParameters} $1
  StrCpy $1 " $1"
  StrLen $2 " $0"
  StrCpy $3 0
  kqget_option_search:
    StrCpy $4 $1 $2 $3
    StrCmp $4 "" kqget_option_absent
    StrCmp $4 " $0" kqget_option_found ; StrCmp is blind to case
    IntOp $3 $3 + 1
    Goto kqget_option_search
  kqget_option_absent:
    StrCpy $0 ""
    Goto kqget_option_done
  kqget_option_found:
    IntOp $3 $3 + $2
    StrCpy $1 $1 "" $3 ; from the value on
    StrCpy $0 ""
    StrCpy $2 " " ; what ends the value
    StrCpy $4 $1 1
    StrCmp $4 '"' 0 kqget_option_value
      StrCpy $2 '"'
      StrCpy $1 $1 "" 1
  kqget_option_value:
    StrCpy $4 $1 1
    StrCmp $4 "" kqget_option_done
    StrCmp $4 $2 kqget_option_done
    StrCpy $0 "$0$4"
    StrCpy $1 $1 "" 1
    Goto kqget_option_value
  kqget_option_done:
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; /INFOBASE=URL and /IMAGEBASE=URL on the installer's command line (a silent
; install's above all) write the machine's settings file, which both programs
; read and never write, so an organisation deploys kqget configured. Given
; either, the file is written anew with the lines given; given neither, a
; file already there is left as it is, also by the uninstaller. The values
; are written as given: the programs check them, naming the file and line.
; $APPDATA is FOLDERID_ProgramData in the shell context for all users.
!macro KqgetWriteMachineSettings
  Push "/INFOBASE="
  Call KqgetCommandLineValue
  Pop $R1
  Push "/IMAGEBASE="
  Call KqgetCommandLineValue
  Pop $R2
  StrCmp "$R1$R2" "" kqget_no_machine_settings
  SetShellVarContext all
  StrCpy $R3 "$APPDATA\kqget"
  StrCmp $SV_ALLUSERS "AllUsers" +2
    SetShellVarContext current
  CreateDirectory $R3
  ; Made anew rather than written over: a file another user made there first
  ; would stay theirs, and writable by them, if only its bytes were replaced.
  Delete "$R3\kqget.ini"
  IfFileExists "$R3\kqget.ini" 0 +3
    MessageBox MB_OK|MB_ICONSTOP "Cannot replace the settings file $R3\kqget.ini." /SD IDOK
    Abort "Cannot replace the settings file $R3\kqget.ini."
  ClearErrors
  FileOpen $R4 "$R3\kqget.ini" w
  IfErrors 0 +3
    MessageBox MB_OK|MB_ICONSTOP "Cannot write the settings file $R3\kqget.ini." /SD IDOK
    Abort "Cannot write the settings file $R3\kqget.ini."
  FileWrite $R4 "# The card service's addresses, written by the kqget installer.$\r$\n"
  StrCmp $R1 "" +2
    FileWrite $R4 "info-base = $R1$\r$\n"
  StrCmp $R2 "" +2
    FileWrite $R4 "image-base = $R2$\r$\n"
  FileClose $R4
  DetailPrint "Service addresses written to $R3\kqget.ini"
  kqget_no_machine_settings:
!macroend
