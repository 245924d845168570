#!/usr/bin/env bash
# Installs the Windows installer silently under Wine, with the service
# addresses, again without a folder (an upgrade stays where it is), then into
# another folder (the earlier installation goes), and uninstalls it from the
# Start menu; then installs it from its window, the licence shown, and
# uninstalls it as Uninstall.exe. The windows' buttons are pressed by the
# dialog driver on a virtual display. After each install: one installation,
# in the folder expected, whose kqget-cli.exe runs; one Apps entry naming it,
# with kqget.exe's icon; Start-menu entries that start in the user's
# Documents, not in the installation folder. After each uninstall: nothing of
# it left but the machine's settings file.
#   installer.sh INSTALLER PREFIX DIALOG-DRIVER.EXE WINE-RUN...
set -euo pipefail
installer=$1
prefix=$2
driver=$3
shift 3
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
settings="$prefix/drive_c/ProgramData/kqget/kqget.ini"
apps='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
rm -rf "$(unix "$first")" "$(unix "$other")" "$(unix "$default")" "$(dirname "$settings")"

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

# The machine's settings file as the silent install leaves it: written when
# the service addresses are given, left alone when they are not.
addresses='info-base = http://info.test:8080|image-base = https://images.test'
steps=(
    # step                  installer arguments (/D comes last)   folder then   settings file's lines
    "fresh install" "/S /INFOBASE=http://info.test:8080 /IMAGEBASE=https://images.test /D=$first" "$first" "$addresses"
    "reinstall" "/S" "$first" "$addresses"
    "into another folder" "/S /imagebase=https://other.test /D=$other" "$other" "image-base = https://other.test"
)
for ((i = 0; i < ${#steps[@]}; i += 4)); do
    step=${steps[i]}
    read -ra arguments <<<"${steps[i + 1]}"
    "${wine_run[@]}" "$installer" "${arguments[@]}"
    expect_installed "${steps[i + 2]}"
    lines=$(grep -v '^#' "$settings" 2>&1 | tr -d '\r' | paste -sd '|') || true
    [[ $lines == "${steps[i + 3]}" ]] || check "the settings file holds '$lines'"
    entries=$(registry "$apps" /s | grep -c '^ *DisplayName *REG_SZ *kqget') || true
    [[ $entries == 1 ]] || check "$entries Apps entries for kqget"
done

# press_through FILE: opens FILE as the shell does and presses its window's
# default button on every page; the pages' texts are in $work/pages.
work=$(mktemp -d -t kqget-installer-XXXXXX)
trap 'rm -rf "$work"' EXIT
press_through() {
    xvfb-run --auto-servernum --server-args='-screen 0 1280x1024x24' \
        "${wine_run[@]}" "$driver" "$1" >"$work/pages" 2>"$work/driver.err" ||
        check "the driver: $(tr -d '\r' <"$work/driver.err")"
}
expect_uninstalled() {
    local folder=$1
    for program in kqget-cli.exe kqget.exe Uninstall.exe LICENSE.txt; do
        [[ ! -e "$(unix "$folder")/$program" ]] || check "$program is still there"
    done
    ! compgen -G "$programs/kqget*" >/dev/null || check "the Start-menu folder is still there"
    ! "${wine_run[@]}" reg query "$apps\\kqget" >/dev/null 2>&1 || check "the Apps entry is still there"
    ! "${wine_run[@]}" reg query 'HKLM\Software\kqget developers' >/dev/null 2>&1 ||
        check "the empty vendor key is still there"
    [[ -f $settings ]] || check "the machine's settings file is gone"
}

step="uninstall from the Start menu"
press_through 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\kqget 1.01\Uninstall.lnk'
grep -q 'Remove kqget 1.01 from your computer' "$work/pages" || check "pages: $(cat "$work/pages")"
expect_uninstalled "$other"

step="install from its window"
press_through "Z:${installer//\//\\}"
for shown in 'MIT License' 'Copyright (c) 2026 The kqget developers' 'Permission is hereby granted'; do
    grep -qF "$shown" "$work/pages" || check "the licence page lacks '$shown': $(cat "$work/pages")"
done
expect_installed "$default"

step="uninstall as Uninstall.exe"
press_through "$default\\Uninstall.exe"
expect_uninstalled "$default"

rm -rf "$(unix "$first")" "$(unix "$other")" "$(unix "$default")" "$(dirname "$settings")"
exit $failed
