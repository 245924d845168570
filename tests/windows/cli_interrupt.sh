#!/usr/bin/env bash
# Ctrl-C typed at the console stops kqget-cli.exe under Wine while the
# service holds its fetches: the program returns from main on its own once
# WinHTTP has let go of the held requests, with status 130, the log closed
# with every line, the card files applied before it kept and the held ones
# untouched. The console
# is a pseudo-terminal from script(1), whose Ctrl-C Wine's console turns into
# CTRL_C_EVENT. (Wine cannot deliver GenerateConsoleCtrlEvent, so Ctrl-Break
# is not tried here.)
#   cli_interrupt.sh WINDOWS-CLI PORT-FILE WINE-RUN...
set -euo pipefail
windows_cli=$1
proxy="http://127.0.0.1:$(cat "$2")"
shift 2

work=$(mktemp -d -t kqget-interrupt-XXXXXX)
trap 'rm -rf "$work"' EXIT
# The service holds every fetch of Dzz9 (card_service.sh); A0001 comes first.
mkdir -p "$work/Data/A0001" "$work/Data/Dzz9"
mkfifo "$work/keys"
log="$work/KQ-GET-PNG-XML.txt"

command=$(printf '%q ' "$@" "$windows_cli" --user U --data Data --proxy "$proxy" --jobs 4)
(cd "$work" && KQGET_KEY=KEY script -q -e -c "$command" /dev/null <"$work/keys" >"$work/console") &
console=$!
exec 3>"$work/keys"
# Once A0001 is applied, Dzz9's fetches are under way and held.
for _ in $(seq 600); do
    grep -q 'A0001_full.png New size' "$log" 2>/dev/null && break
    sleep 0.1
done
printf '\003' >&3
# Windows lets go of a closed request at once; Wine when its pending receive
# times out (the 60 s stall limit). Twice that, and the program hangs.
for _ in $(seq 1200); do
    kill -0 "$console" 2>/dev/null || break
    sleep 0.1
done
ended=1
kill -0 "$console" 2>/dev/null && ended=0 && kill "$console"
status=0
wait "$console" || status=$?
exec 3>&-

failed=0
check() {
    echo "FAILED: $*" >&2
    failed=1
}
((ended)) || check "kqget-cli.exe did not end within 120 s of the interruption"
[[ $status == 130 ]] || check "exit status $status, not 130"
# Wine's console draws the text with cursor moves for some of its spaces.
sed $'s/\e\\[[0-9;?]*[A-Za-z]//g' "$work/console" | tr -d ' \r' |
    grep -q 'interrupted;therunstopped' || check "no word of the interruption"
[[ -s "$work/Data/A0001/A0001.xml" && -s "$work/Data/A0001/A0001_full.png" ]] ||
    check "A0001 was not repaired before the interruption"
[[ -z $(ls -A "$work/Data/Dzz9") ]] || check "Dzz9 got files: $(ls -A "$work/Data/Dzz9")"
# Buffered lines reach the file only when the log is closed.
grep -q $'^Data\\\\Dzz9\\\\Dzz9.xml size 0\r$' "$log" || check "the log was not closed"
if ((failed)); then
    echo "--- console" >&2
    cat -v "$work/console" >&2
    echo "--- log" >&2
    cat -v "$log" >&2 || true
fi
exit $failed
