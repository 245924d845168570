#!/usr/bin/env bash
# Starts the stand-in card service for the tests under Wine, or stops it:
#   card_service.sh start|stop SERVICE-PROGRAM STATE-FOLDER
# It answers on 127.0.0.1 as the proxy for made-up hosts; the host chooses
# what goes wrong. Its port goes to STATE-FOLDER/port.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/service_port.sh"
action=$1
program=$2
state=$3
stop() {
    if [[ -s "$state/pid" ]]; then
        kill "$(cat "$state/pid")" 2>/dev/null || true
    fi
    rm -f "$state/pid" "$state/port"
}
case $action in
start)
    if [[ ! -x "$program" ]]; then
        echo "card_service.sh: no $program: build the Linux tree first (scripts/test.sh does)" >&2
        exit 1
    fi
    stop
    mkdir -p "$state"
    "$program" \
        --match stall.test --stall-after-headers-ms 600000 \
        --match silent.test --delay-ms 600000 \
        --match drip.test --drip-bytes 1 --drip-pause-ms 100 \
        --match trickle.test --drip-bytes 256 --drip-pause-ms 100 \
        --match gzip.test --gzip-body \
        --match crushed.test --content-encoding gzip \
        --match dropped.test --drop-mid-body \
        --match loop.test --redirect-loop \
        --match hops.test --redirect-hops 3 \
        --match big.test --oversized-body \
        --match missing.test --status 404 \
        --match slow.test --status 503 --retry-after 7 \
        --match dated.test --status 429 --retry-after "Sun, 06 Nov 1994 08:49:37 GMT" \
        --match unreadable.test --status 429 --retry-after soon \
        --match Dzz9 --delay-ms 600000 \
        --match D%C3%A9404 --status 404 \
        --match locked.test --proxy-credentials 'bob:s3cr@t' \
        --match /C0htm/ --body '<!DOCTYPE html><html><body>Sign in</body></html>' \
        --match C0204 --status 204 \
        --match /C0sq/ --content-encoding x-squash \
        --match /C0cut/ --cut-at 11500 \
        </dev/null >"$state/out" 2>"$state/err" &
    echo $! >"$state/pid"
    await_port "$state/out" "$state/port" "$state/err" "card_service.sh: the service"
    ;;
stop)
    stop
    ;;
esac
