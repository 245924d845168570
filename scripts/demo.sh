#!/usr/bin/env bash
# Shows kqget at work without an account: builds a small sample library in a
# temporary folder, starts the local stand-in card service, and repairs the
# library with kqget-cli through it. Expects a built tree (scripts/run.sh --demo).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin="$root/build/bin"

work=$(mktemp -d -t kqget-demo-XXXXXX)
service_pid=
cleanup() {
    if [[ -n "$service_pid" ]]; then kill "$service_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

library="$work/Data"
mkdir -p "$library"
# A card with nothing, one with an empty XML and a too-small picture, one in
# order, one whose picture is a byte short, and entries that are not cards.
mkdir -p "$library/A0001"
mkdir -p "$library/B0002" && : >"$library/B0002/B0002.xml" && head -c 500 /dev/zero >"$library/B0002/B0002_full.png"
mkdir -p "$library/C0003" && echo '<card/>' >"$library/C0003/C0003.xml" && head -c 12000 /dev/zero >"$library/C0003/C0003_full.png"
mkdir -p "$library/D0004" && echo '<card/>' >"$library/D0004/D0004.xml" && head -c 10999 /dev/zero >"$library/D0004/D0004_full.png"
mkdir -p "$library/E0005" "$library/A123456"
echo "not a card folder" >"$library/B1234"

"$bin/kqget-card-service" --port 0 >"$work/service.out" 2>"$work/service.err" &
service_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/service.out" ]] && break
    sleep 0.05
done
port=$(head -n1 "$work/service.out")
if [[ -z "$port" ]]; then
    echo "demo: the stand-in card service did not start:" >&2
    cat "$work/service.err" >&2
    exit 1
fi

echo "Sample library: $library"
echo "Stand-in card service: 127.0.0.1:$port (used as the HTTP proxy)"
echo
status=0
(cd "$work" && http_proxy="http://127.0.0.1:$port" no_proxy= KQGET_KEY=DEMOKEY \
    "$bin/kqget-cli" --user demo --data "$library" >"$work/summary.txt") || status=$?
# The demo's folder goes when it ends: the log is shown here, not pointed at.
sed 's/^Log: .*/Log: shown below (the demo removes its folder when it ends)/' "$work/summary.txt"
echo
echo "Run log:"
tr -d '\r' <"$work/KQ-GET-PNG-XML.txt" | sed 's/^/    /'
echo
echo "kqget-cli exit status: $status"
