# Sourced by the end-to-end tests under Wine: the sample library both
# programs repair, and the comparison of a Linux run with a Windows one.

failed=0
check() {
    echo "FAILED: $*" >&2
    failed=1
}

# make_sample_library FOLDER
# One card under each letter, so that the order of a letter's names cannot
# differ; one with a name outside ASCII, and entries that are no cards.
make_sample_library() {
    local library=$1
    mkdir -p "$library"/{A0001,Bé12,C0003,D0004,A.bcd,A123456,E0005}
    : >"$library/Bé12/Bé12.xml"
    head -c 500 /dev/zero >"$library/Bé12/Bé12_full.png"
    echo '<card/>' >"$library/C0003/C0003.xml"
    head -c 12000 /dev/zero >"$library/C0003/C0003_full.png"
    echo '<card/>' >"$library/D0004/D0004.xml"
    head -c 10999 /dev/zero >"$library/D0004/D0004_full.png"
    echo "not a card folder" >"$library/B1234"
}

# run_both WORK ARGUMENTS...
# Runs the Linux kqget-cli ($linux_cli) in WORK/linux and kqget-cli.exe
# ($windows_cli, under "${wine_run[@]}") in WORK/windows with the same
# arguments and the key KEY; their exit statuses are left in $linux_status and
# $windows_status.
run_both() {
    local work=$1
    shift
    linux_status=0
    (cd "$work/linux" && KQGET_KEY=KEY "$linux_cli" "$@") || linux_status=$?
    windows_status=0
    (cd "$work/windows" && KQGET_KEY=KEY "${wine_run[@]}" "$windows_cli" "$@") || windows_status=$?
}

# compare_runs LINUX-FOLDER WINDOWS-FOLDER
# Each folder holds the repaired Data and the run's log: the same card files,
# and the same log once '\' reads '/', with CR LF line ends in both.
compare_runs() {
    local linux_log="$1/KQ-GET-PNG-XML.txt" windows_log="$2/KQ-GET-PNG-XML.txt"
    diff -r "$1/Data" "$2/Data" || check "the card files differ"
    diff <(cat "$linux_log") <(tr '\\' '/' <"$windows_log") || check "the logs differ"
    grep -q 'Bé12\\Bé12_full.png size 500' "$windows_log" || check "no Windows path in the log"
    local log
    for log in "$linux_log" "$windows_log"; do
        [[ $(grep -c $'\r$' "$log") == $(wc -l <"$log") && $(wc -l <"$log") -gt 10 ]] ||
            check "$log: not every line ends in CR LF"
    done
}

# windows_folder VARIABLE
# Where the folder that %VARIABLE% names under Wine ("${wine_run[@]}") is on
# Linux, e.g. APPDATA, ProgramData.
windows_folder() {
    local folder
    folder=$("${wine_run[@]}" cmd /c "echo %$1%" | tr -d '\r')
    "${wine_run[@]}" winepath -u "$folder" | tr -d '\r' | sed 's|/$||'
}
