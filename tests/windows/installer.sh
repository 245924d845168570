#!/usr/bin/env bash
# Installs the Windows installer silently under Wine, again without a folder
# (an upgrade stays where it is), then into another folder (the earlier
# installation goes), and uninstalls. After each step: one installation, in
# the folder expected, whose kqget-cli.exe runs; one Apps entry naming it,
# with kqget.exe's icon; Start-menu entries that start in the user's
# Documents, not in the installation folder.
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
first='C:\kqget-installer-test'
other='C:\kqget-installer-other'
default='C:\Program Files\kqget'
unix() { printf '%s/drive_c/%s' "$prefix" "$(tr '\\' / <<<"${1#C:\\}")"; }
programs="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
apps='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
rm -rf "$(unix "$first")" "$(unix "$other")" "$(unix "$default")"

failed=0
check() {
    echo "FAILED: $step: $*" >&2
    failed=1
}
# A shortcut's "Start in" (its working directory), from the file: past the
# header, the target's ID list and the link info, the third of its strings.
start_in() {
    perl -e 'local $/; open my $f, "<:raw", $ARGV[0] or die; my $d = <$f>;
        my ($flags, $at, $unit) = (unpack("V", substr($d, 20, 4)), 76);
        $unit = $flags & 0x80 ? 2 : 1;
        $at += 2 + unpack "v", substr($d, $at, 2) if $flags & 1;
        $at += unpack "V", substr($d, $at, 4) if $flags & 2;
        for my $bit (4, 8, 16) {
            next unless $flags & $bit;
            my $text = substr($d, $at + 2, $unit * unpack "v", substr($d, $at, 2));
            $at += 2 + length $text;
            print $text =~ tr/\0//dr if $bit == 16;
        }' "$1"
}
registry() { "${wine_run[@]}" reg query "$@" 2>/dev/null | tr -d '\r'; }
value() { registry "$apps\\kqget" /v "$1" | sed -n "s/^ *$1 *REG_SZ *//p"; }

expect_installed() {
    local folder=$1 version
    version=$("${wine_run[@]}" "$(unix "$folder")/kqget-cli.exe" --version | tr -d '\r') || true
    [[ $version == "kqget "* ]] || check "kqget-cli.exe in $folder said '$version'"
    [[ -f "$(unix "$folder")/kqget.exe" && -f "$(unix "$folder")/Uninstall.exe" ]] ||
        check "no kqget.exe or uninstaller in $folder"
    for elsewhere in "$first" "$other" "$default"; do
        [[ $elsewhere == "$folder" || ! -e "$(unix "$elsewhere")" ]] ||
            check "$elsewhere is still there: $(ls "$(unix "$elsewhere")" | tr "\n" " ")"
    done
    [[ $(value UninstallString) == "\"$folder\\Uninstall.exe\"" ]] ||
        check "the Apps entry uninstalls with '$(value UninstallString)'"
    [[ $(value DisplayIcon) == "$folder\\kqget.exe" ]] ||
        check "the Apps entry's icon is '$(value DisplayIcon)'"
    for link in "kqget" "kqget command prompt"; do
        local file
        file=$(compgen -G "$programs/kqget*/$link.lnk") || {
            check "no Start-menu entry '$link'"
            continue
        }
        [[ $(start_in "$file") == '%USERPROFILE%\Documents' ]] ||
            check "'$link' starts in '$(start_in "$file")'"
    done
}

steps=(
    # step                  installer arguments (/D comes last)   folder then
    "fresh install" "/S /D=$first" "$first"
    "reinstall" "/S" "$first"
    "into another folder" "/S /D=$other" "$other"
)
for ((i = 0; i < ${#steps[@]}; i += 3)); do
    step=${steps[i]}
    read -ra arguments <<<"${steps[i + 1]}"
    "${wine_run[@]}" "$installer" "${arguments[@]}"
    expect_installed "${steps[i + 2]}"
    entries=$(registry "$apps" /s | grep -c '^ *DisplayName *REG_SZ *kqget') || true
    [[ $entries == 1 ]] || check "$entries Apps entries for kqget"
done

step="uninstall"
# _?= makes the uninstaller work in place and wait for its end.
"${wine_run[@]}" "$(unix "$other")/Uninstall.exe" /S "_?=$other"
for program in kqget-cli.exe kqget.exe; do
    [[ ! -e "$(unix "$other")/$program" ]] || check "$program is still there"
done
! compgen -G "$programs/kqget*" >/dev/null || check "the Start-menu folder is still there"
! "${wine_run[@]}" reg query "$apps\\kqget" >/dev/null 2>&1 || check "the Apps entry is still there"
! "${wine_run[@]}" reg query 'HKLM\Software\kqget developers' >/dev/null 2>&1 ||
    check "the empty vendor key is still there"
rm -rf "$(unix "$first")" "$(unix "$other")" "$(unix "$default")"
exit $failed
