#!/usr/bin/env bash
# The window under Wine repairs the sample library as the Linux kqget-cli
# does, with nothing naming a proxy or the service to kqget.exe: the user's
# Internet settings, stored as Windows' settings page stores them, route its
# fetches to the stand-in service, and the user's settings file names the
# service's bases. On a virtual display the driver types the three
# values, ticks the box, presses the update button, waits for "DONE !" and
# closes the window; then the card files and the logs are compared. Then
# the window is closed during a run whose fetches the service holds:
# kqget.exe ends on its own, with status 0, the log closed with every line,
# the card files applied before it kept and the held ones untouched.
#   window_end_to_end.sh LINUX-CLI KQGET.EXE WINDOW-DRIVER.EXE PORT-FILE WINE-RUN...
set -euo pipefail
linux_cli=$1
window=$2
driver=$3
port=$(cat "$4")
shift 4
wine_run=("$@")

work=$(mktemp -d -t kqget-window-e2e-XXXXXX)
settings='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
reg() {
    "${wine_run[@]}" reg "$@" >/dev/null
}
forget_user_proxy() {
    local value
    for value in ProxyEnable ProxyServer ProxyOverride; do
        reg delete "$settings" /v "$value" /f 2>/dev/null || true
    done
    reg delete "$settings\\Connections" /v DefaultConnectionSettings /f 2>/dev/null || true
}
trap 'forget_user_proxy; rm -rf "$work" "${user_settings:-}"' EXIT

# set_user_proxy SERVER BYPASS: "Use a proxy server" on, automatic detection
# and script off. The binary record is what WinHTTP reads: a version, a
# counter, the flags (1 direct, 2 proxy, 4 script, 8 detection), then the
# proxy, the bypass list and the script's URL, each after its length.
set_user_proxy() {
    local server=$1 bypass=$2
    le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
    hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
    local record
    record="$(le32 0x46)$(le32 1)$(le32 3)$(le32 ${#server})$(hex "$server")"
    record+="$(le32 ${#bypass})$(hex "$bypass")$(le32 0)$(printf '%064d' 0)"
    reg add "$settings" /v ProxyEnable /t REG_DWORD /d 1 /f
    reg add "$settings" /v ProxyServer /t REG_SZ /d "$server" /f
    reg add "$settings" /v ProxyOverride /t REG_SZ /d "$bypass" /f
    reg add "$settings\\Connections" /v DefaultConnectionSettings /t REG_BINARY /d "$record" /f
}

source "$(dirname "${BASH_SOURCE[0]}")/sample_library.sh"
make_sample_library "$work/linux/Data"
mkdir -p "$work/windows"
cp -a "$work/linux/Data" "$work/windows/Data"

# Where the service is: the user's settings file says it, to both programs.
user_settings="$(windows_folder APPDATA)/kqget/kqget.ini"
mkdir -p "$(dirname "$user_settings")" "$work/config/kqget"
printf 'info-base = http://settings.test/\r\nimage-base = http://img.settings.test\r\n' |
    tee "$user_settings" >"$work/config/kqget/kqget.conf"

linux_status=0
(cd "$work/linux" && KQGET_KEY=KEY XDG_CONFIG_HOME="$work/config" "$linux_cli" --user 'us er' \
    --data Data --proxy "http://127.0.0.1:$port" --quiet) || linux_status=$?

# The card service's hosts are not on the bypass list; unqualified names are.
set_user_proxy "127.0.0.1:$port" '*.intranet.example;<local>'
window_status=0
(cd "$work/windows" && xvfb-run --auto-servernum --server-args='-screen 0 1280x1024x24' \
    "${wine_run[@]}" "$driver" "Z:${window//\//\\}" KEY 'us er' Data) || window_status=$?

if [[ $linux_status == 0 && $window_status == 0 ]]; then
    compare_runs "$work/linux" "$work/windows"
    grep -q '^Download File: http://img.settings.test/free/' "$work/windows/KQ-GET-PNG-XML.txt" ||
        check "the window did not fetch from the settings file's bases"
else
    check "exit statuses: kqget-cli $linux_status, kqget.exe $window_status"
fi

# The service holds every fetch of Dzz9 (card_service.sh); A0001 comes first.
mkdir -p "$work/closing/Data/A0001" "$work/closing/Data/Dzz9"
closed_status=0
(cd "$work/closing" && xvfb-run --auto-servernum --server-args='-screen 0 1280x1024x24' \
    "${wine_run[@]}" "$driver" "Z:${window//\//\\}" KEY U Data 'A0001_full.png New size') ||
    closed_status=$?
[[ $closed_status == 0 ]] || check "kqget.exe closed during a run: status $closed_status"
[[ -s "$work/closing/Data/A0001/A0001.xml" && -s "$work/closing/Data/A0001/A0001_full.png" ]] ||
    check "A0001 was not repaired before the close"
[[ -z $(ls -A "$work/closing/Data/Dzz9") ]] ||
    check "Dzz9 got files: $(ls -A "$work/closing/Data/Dzz9")"
grep -q $'^Data\\\\Dzz9\\\\Dzz9.xml size 0\r$' "$work/closing/KQ-GET-PNG-XML.txt" ||
    check "the log of the closed run was not closed"
exit $failed
