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

source "$(dirname "${BASH_SOURCE[0]}")/sample_library.sh"
library="$work/linux/Data"
make_sample_library "$library"
mkdir -p "$work/windows"
cp -a "$library" "$work/windows/Data"

arguments=(--user 'us er' --data Data --proxy "$proxy" --jobs 2 --quiet)
linux_status=0
(cd "$work/linux" && KQGET_KEY=KEY "$linux_cli" "${arguments[@]}") || linux_status=$?
windows_status=0
(cd "$work/windows" && KQGET_KEY=KEY "${wine_run[@]}" "$windows_cli" "${arguments[@]}") ||
    windows_status=$?

[[ $linux_status == 0 && $windows_status == 0 ]] ||
    check "exit statuses: Linux $linux_status, Windows $windows_status"
compare_runs "$work/linux" "$work/windows"

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
