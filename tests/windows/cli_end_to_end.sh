#!/usr/bin/env bash
# Repairs one sample library twice, with the Linux kqget-cli and with
# kqget-cli.exe under Wine, both through the stand-in service as their proxy,
# and compares: the same exit status, the same card files, and the same log
# once '\' reads '/', with CR LF line ends in both.
#   cli_end_to_end.sh LINUX-CLI WINDOWS-CLI PORT-FILE WINE-RUN...
set -euo pipefail
linux_cli=$1
windows_cli=$2
proxy="http://127.0.0.1:$(cat "$3")"
shift 3
wine_run=("$@")

work=$(mktemp -d -t kqget-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT

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
exit $failed
