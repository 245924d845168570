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
