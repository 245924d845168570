#!/usr/bin/env bash
# Installs the Windows installer silently under Wine, runs the installed
# kqget-cli.exe, and uninstalls it silently again.
#   installer.sh INSTALLER PREFIX WINE-RUN...
set -euo pipefail
installer=$1
prefix=$2
shift 2
wine_run=("$@")
if [[ ! -f "$installer" ]]; then
    echo "no $installer: make it with scripts/build-windows.sh" >&2
    exit 1
fi

# No space: Wine quotes an argument with one, and NSIS reads /D only unquoted.
folder='C:\kqget-installer-test'
unix_folder="$prefix/drive_c/kqget-installer-test"
programs="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
link() { compgen -G "$programs/kqget*/kqget command prompt.lnk"; }
rm -rf "$unix_folder"

failed=0
check() {
    echo "FAILED: $*" >&2
    failed=1
}
# /D comes last.
"${wine_run[@]}" "$installer" /S "/D=$folder"
version=$("${wine_run[@]}" "$unix_folder/kqget-cli.exe" --version | tr -d '\r') ||
    check "the installed kqget-cli.exe does not run"
[[ $version == "kqget "* ]] || check "kqget-cli.exe --version said '$version'"
link >/dev/null || check "no Start-menu entry in $programs"
[[ -f "$unix_folder/Uninstall.exe" ]] || check "no uninstaller"
[[ -f "$unix_folder/kqget.exe" ]] || check "no kqget.exe, the window"

# _?= makes the uninstaller work in place and wait for its end.
"${wine_run[@]}" "$unix_folder/Uninstall.exe" /S "_?=$folder"
for program in kqget-cli.exe kqget.exe; do
    [[ ! -e "$unix_folder/$program" ]] || check "$program is still there"
done
! link || check "the Start-menu entry is still there"
rm -rf "$unix_folder"
exit $failed
