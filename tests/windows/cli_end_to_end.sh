#!/usr/bin/env bash
# Repairs one sample library twice, with the Linux kqget-cli and with
# kqget-cli.exe under Wine, both through the stand-in service as their proxy,
# and compares: the same exit status, the same card files, and the same log
# once '\' reads '/', with CR LF line ends in both. Then the bases from the
# settings files in the prefix's known folders. Then reads what a run
# leaves on a console's screen (tmux's): a name outside ASCII as written, the
# summary's lines whole, no trace of the progress line.
#   cli_end_to_end.sh LINUX-CLI WINDOWS-CLI PORT-FILE WINE-RUN...
set -euo pipefail
linux_cli=$1
windows_cli=$2
proxy="http://127.0.0.1:$(cat "$3")"
shift 3
wine_run=("$@")

work=$(mktemp -d -t kqget-e2e-XXXXXX)
tmux=(tmux -u -L "kqget-e2e-$$" -f "$work/tmux.conf")
trap '"${tmux[@]}" kill-server 2>/dev/null; rm -rf "$work"' EXIT

source "$(dirname "${BASH_SOURCE[0]}")/sample_library.sh"
library="$work/linux/Data"
make_sample_library "$library"
mkdir -p "$work/windows"
cp -a "$library" "$work/windows/Data"

run_both "$work" --user 'us er' --data Data --proxy "$proxy" --jobs 2 --quiet

[[ $linux_status == 0 && $windows_status == 0 ]] ||
    check "exit statuses: Linux $linux_status, Windows $windows_status"
compare_runs "$work/linux" "$work/windows"

# The bases from the settings files, the user's over the machine's, as
# --version tells; a line that is no setting is named by its file and line.
user_settings="$(windows_folder APPDATA)/kqget/kqget.ini"
machine_settings="$(windows_folder ProgramData)/kqget/kqget.ini"
trap '"${tmux[@]}" kill-server 2>/dev/null; rm -rf "$work" "$user_settings" "$machine_settings"' EXIT
mkdir -p "$(dirname "$user_settings")" "$(dirname "$machine_settings")"
printf '\xef\xbb\xbf# mine\r\ninfo-base = http://settings.test/\r\n' >"$user_settings"
printf 'info-base = http://machine.test\r\nimage-base = http://img.settings.test\r\n' \
    >"$machine_settings"
version=$("${wine_run[@]}" "$windows_cli" --version | tr -d '\r')
[[ $version == *'info base:  http://settings.test (set by line 2 of C:\users\'*'\AppData\Roaming\kqget\kqget.ini)'* &&
    $version == *'image base: http://img.settings.test (set by line 2 of C:\ProgramData\kqget\kqget.ini)'* ]] ||
    check "--version with both settings files: '$version'"
mkdir -p "$work/settings/Data/A0001"
settings_status=0
(cd "$work/settings" && KQGET_KEY=KEY "${wine_run[@]}" "$windows_cli" --user U --data Data \
    --proxy "$proxy" --quiet) || settings_status=$?
settings_log=$(cat "$work/settings/KQ-GET-PNG-XML.txt" 2>/dev/null || true)
[[ $settings_status == 0 && $settings_log == *'Download File: http://settings.test/bof/bof.php?'* &&
    $settings_log == *'Download File: http://img.settings.test/free/sets/A0001/'* ]] ||
    check "a run with the settings files: status $settings_status, log '$settings_log'"
printf 'info-base = http://settings.test\r\nimage-base: http://x\r\n' >"$user_settings"
bad_status=0
bad_err=$(cd "$work/settings" && KQGET_KEY=KEY "${wine_run[@]}" "$windows_cli" --user U \
    --data Data --quiet 2>&1 >/dev/null) || bad_status=$?
[[ $bad_status == 64 && $bad_err == *'\kqget.ini'"' line 2: 'image-base: http://x' is no setting"* ]] ||
    check "a settings line that is no setting: status $bad_status, '$bad_err'"
rm -f "$user_settings" "$machine_settings"

# A proxy that asks for credentials (locked.test, card_service.sh), reached
# through the bases given on the command line: without credentials one line
# names it; with them, percent-encoded in its URL, the run goes through; the
# password is never shown.
mkdir -p "$work/locked/Data/A0001"
bases=(--info-base http://locked.test --image-base http://locked.test:80)
locked_status=0
locked_err=$(cd "$work/locked" && KQGET_KEY=KEY "${wine_run[@]}" "$windows_cli" --user U \
    --data Data "${bases[@]}" --proxy "$proxy" --quiet 2>&1 >/dev/null) || locked_status=$?
[[ $locked_status == 2 && $locked_err == *"the proxy $proxy asks for credentials (HTTP 407)"* ]] ||
    check "a proxy that asks for credentials: status $locked_status, '$locked_err'"
[[ $(wc -l <<<"$locked_err") == 1 ]] || check "the 407 is told in more than one line"
locked_status=0
locked_out=$(cd "$work/locked" && KQGET_KEY=KEY "${wine_run[@]}" "$windows_cli" --user U \
    --data Data "${bases[@]}" --proxy "${proxy/http:\/\//http://bob:s3cr%40t@}" 2>&1) ||
    locked_status=$?
[[ $locked_status == 0 ]] || check "proxy credentials: status $locked_status, '$locked_out'"
[[ $locked_out != *s3cr* ]] || check "the proxy's password is shown: $locked_out"

# One run at a time: a run held by the service (Dzz9, card_service.sh) holds
# its working folder and its data folder, so a second run in either is
# refused with error 12 and writes nothing; killed, it lets go of both.
mkdir -p "$work/held/Data/Dzz9" "$work/held/other/Data"
(cd "$work/held" && KQGET_KEY=KEY exec "${wine_run[@]}" "$windows_cli" --user U --data Data \
    --proxy "$proxy" --quiet) &
held=$!
for _ in $(seq 600); do # the log is made once both folders are held
    [[ -e "$work/held/KQ-GET-PNG-XML.txt" ]] && break
    sleep 0.1
done
for second in "held:other\\Data" "held/other:..\\Data"; do
    second_status=0
    second_err=$(cd "$work/${second%%:*}" && KQGET_KEY=KEY "${wine_run[@]}" "$windows_cli" \
        --user U --data "${second#*:}" --proxy "$proxy" --quiet 2>&1 >/dev/null) ||
        second_status=$?
    [[ $second_status == 2 && $second_err == *"error 12: cannot run on"* ]] ||
        check "a second run ($second): status $second_status, '$second_err'"
done
[[ ! -e "$work/held/other/KQ-GET-PNG-XML.txt" ]] || check "a refused run made its log"
kill -KILL "$held"
wait "$held" || true
rmdir "$work/held/Data/Dzz9"
mkdir -p "$work/held/Data/A0001"
# The process is gone once wait returns, but wineserver lets go of its
# handles when it has seen the end, a moment later: until then the next run
# is refused as Windows would refuse it while the killed one still ended.
for _ in $(seq 100); do
    next_status=0
    next_err=$(cd "$work/held" && KQGET_KEY=KEY "${wine_run[@]}" "$windows_cli" --user U \
        --data Data --proxy "$proxy" --quiet 2>&1 >/dev/null) || next_status=$?
    [[ $next_status == 2 && $next_err == *"error 12: cannot run on"* ]] || break
    sleep 0.1
done
[[ $next_status == 0 ]] || check "the run after a killed one: status $next_status, '$next_err'"

# The service answers 404 for Dé404 (card_service.sh), so its URLs reach the
# summary with the name and the hidden key's "…".
mkdir -p "$work/console/Data/"{A0001,Dé404}
echo 'set -g remain-on-exit on' >"$work/tmux.conf"
command=$(printf '%q ' "${wine_run[@]}" "$windows_cli" --user U --data Data --proxy "$proxy")
LC_ALL=C.UTF-8 "${tmux[@]}" new-session -d -x 200 -y 40 -c "$work/console" \
    "KQGET_KEY=KEY $command; ${tmux[*]} wait-for -S done"
"${tmux[@]}" wait-for done
# From the first line the console showed: Wine's console may scroll by one.
screen=$(LC_ALL=C.UTF-8 "${tmux[@]}" capture-pane -p -S -)
grep -qx 'Cards checked: 2 *' <<<"$screen" || check "the summary's first line is not whole"
grep -q 'cardids=Dé404&' <<<"$screen" || check "the name outside ASCII is not shown as written"
grep -q 'mlunkey=…&' <<<"$screen" || check "the hidden key is not shown as …"
! grep -q '\[K' <<<"$screen" || check "an escape sequence shows on the console"
((failed == 0)) || printf -- '--- console\n%s\n' "$screen" >&2
exit $failed
