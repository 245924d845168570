#!/usr/bin/env bash
# Repairs one sample library twice, with the Linux kqget-cli and with
# kqget-cli.exe under Wine, both through the stand-in service as their proxy,
# and compares: the same exit status, the same card files, and the same log
# once '\' reads '/', with CR LF line ends in both. Then reads what a run
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

# One card under each letter, so that the order of a letter's names cannot
# differ; one with a name outside ASCII, and entries that are no cards.
library="$work/linux/Data"
mkdir -p "$library"/{A0001,Bé12,C0003,D0004,A.bcd,A123456,E0005}
: >"$library/Bé12/Bé12.xml"
head -c 500 /dev/zero >"$library/Bé12/Bé12_full.png"
echo '<card/>' >"$library/C0003/C0003.xml"
head -c 12000 /dev/zero >"$library/C0003/C0003_full.png"
echo '<card/>' >"$library/D0004/D0004.xml"
head -c 10999 /dev/zero >"$library/D0004/D0004_full.png"
echo "not a card folder" >"$library/B1234"
mkdir -p "$work/windows"
cp -a "$library" "$work/windows/Data"

arguments=(--user 'us er' --data Data --proxy "$proxy" --jobs 2 --quiet)
linux_status=0
(cd "$work/linux" && KQGET_KEY=KEY "$linux_cli" "${arguments[@]}") || linux_status=$?
windows_status=0
(cd "$work/windows" && KQGET_KEY=KEY "${wine_run[@]}" "$windows_cli" "${arguments[@]}") ||
    windows_status=$?

failed=0
check() {
    echo "FAILED: $*" >&2
    failed=1
}
[[ $linux_status == 0 && $windows_status == 0 ]] ||
    check "exit statuses: Linux $linux_status, Windows $windows_status"
diff -r "$work/linux/Data" "$work/windows/Data" || check "the card files differ"
linux_log="$work/linux/KQ-GET-PNG-XML.txt"
windows_log="$work/windows/KQ-GET-PNG-XML.txt"
diff <(cat "$linux_log") <(tr '\\' '/' <"$windows_log") || check "the logs differ"
grep -q 'Bé12\\Bé12_full.png size 500' "$windows_log" || check "no Windows path in the log"
for log in "$linux_log" "$windows_log"; do
    [[ $(grep -c $'\r$' "$log") == $(wc -l <"$log") && $(wc -l <"$log") -gt 10 ]] ||
        check "$log: not every line ends in CR LF"
done

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
