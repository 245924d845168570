#!/usr/bin/env bash
# The content table's cases run by kqget-cli.exe under Wine and by the Linux
# kqget-cli over the same library, at one job and at four: files damaged on
# disk (a PNG cut inside its image data, a PNG with a byte flipped, an XML
# cut inside a tag, a PNG whose header claims 30000 x 30000 pixels, an XML
# whose entities expand to 3 GB) found with --verify and fetched again;
# replies that are no card file, a 204, an unknown coding and a cut body not stored
# (card_service.sh serves them). Both leave the same card files, exit status
# and log, reasons included, once '\' reads '/'.
#   cli_content.sh LINUX-CLI WINDOWS-CLI PORT-FILE WINE-RUN...
set -euo pipefail
linux_cli=$1
windows_cli=$2
proxy="http://127.0.0.1:$(cat "$3")"
shift 3
wine_run=("$@")

work=$(mktemp -d -t kqget-content-XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/sample_library.sh"

# Sound files first, as the service sends them; then damaged where real
# files break: inside an IDAT chunk, a byte of image data, inside a tag.
library="$work/fresh/Data"
mkdir -p "$library"/{A0001,A0002,A0003,A0004}
(cd "$work/fresh" && KQGET_KEY=KEY "$linux_cli" --user U --data Data --proxy "$proxy" --quiet) ||
    check "the fresh library was not fetched"
head -c 11500 "$library/A0001/A0001_full.png" >"$work/cut" && mv "$work/cut" "$library/A0001/A0001_full.png"
printf '\xff' | dd of="$library/A0002/A0002_full.png" bs=1 seek=60 conv=notrunc status=none
head -c 60 "$library/A0003/A0003.xml" >"$work/cut" && mv "$work/cut" "$library/A0003/A0003.xml"
# Hostile: a header claiming 30000 x 30000 over a little image data, past the
# size rules by a private chunk of zeros; a billion laughs.
{
    printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x75\x30\x00\x00\x75\x30\x08\x02\x00\x00\x00\xe9\x45\x6f\xed'
    printf '\x00\x00\x2a\xf8prVt' && head -c 11000 /dev/zero && printf '\x67\x84\x2f\x57'
    printf '\x00\x00\x00\x11IDAT\x78\xda\x63\x60\x18\x05\xa3\x60\x14\x0c\x77\x00\x00\x03\xe8\x00\x01\xce\x49\x4c\x58'
    printf '\x00\x00\x00\x00IEND\xae\x42\x60\x82'
} >"$library/A0004/A0004_full.png"
{
    printf '<?xml version="1.0"?>\n<!DOCTYPE lolz [\n<!ENTITY l0 "lol">\n'
    for i in 1 2 3 4 5 6 7 8 9; do
        printf '<!ENTITY l%d "%s">\n' "$i" "$(printf "&l$((i - 1));%.0s" {1..10})"
    done
    printf ']>\n<lolz>&l9;</lolz>\n'
} >"$library/A0004/A0004.xml"
mkdir -p "$library"/{C0htm,C0204,C0sq,C0cut}
echo '<card/>' >"$library/C0204/C0204.xml"
echo 'old png' >"$library/C0204/C0204_full.png"

normalised() { tr '\\' '/' <"$1"; }

for jobs in 1 4; do
    for system in linux windows; do
        rm -rf "$work/$system" && mkdir -p "$work/$system" && cp -a "$library" "$work/$system/Data"
    done
    run_both "$work" --user U --data Data --proxy "$proxy" --jobs "$jobs" --verify --quiet
    [[ $linux_status == 1 && $windows_status == 1 ]] ||
        check "--jobs $jobs: exit statuses Linux $linux_status, Windows $windows_status, not 1"
    diff -r "$work/linux/Data" "$work/windows/Data" || check "--jobs $jobs: the card files differ"
    diff <(normalised "$work/linux/KQ-GET-PNG-XML.txt") \
        <(normalised "$work/windows/KQ-GET-PNG-XML.txt") || check "--jobs $jobs: the logs differ"
    log="$work/windows/KQ-GET-PNG-XML.txt"
    for line in 'A0001\\A0001_full.png damaged: ' 'A0002\\A0002_full.png damaged: CRC error' \
        'A0003\\A0003.xml damaged: ' 'A0004\\A0004_full.png damaged: image too large (30000 x 30000)' \
        'A0004\\A0004.xml damaged: ' 'C0htm_full.png Not stored: not a PNG image' \
        'C0204_full.png Not stored: HTTP 204' 'C0sq_full.png Not stored: encoded as x-squash' \
        'C0cut_full.png Not stored: damaged PNG image'; do
        grep -q "$line" "$log" || check "--jobs $jobs: no '$line' in the Windows log"
    done
    cmp -s "$work/windows/Data/A0001/A0001_full.png" "$work/fresh/Data/A0002/A0002_full.png" &&
        check "--jobs $jobs: cards mixed up"
done
((failed == 0)) || { echo '--- Windows log' >&2; cat "$work/windows/KQ-GET-PNG-XML.txt" >&2; }
exit $failed
