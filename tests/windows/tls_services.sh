#!/usr/bin/env bash
# Starts a stand-in card service over TLS for each test certificate, trusted
# through a throw-away authority in the Wine prefix's root store, or stops
# them:
#   tls_services.sh start|stop SERVICE-PROGRAM STATE-FOLDER [CERTIFICATE-SCRIPT
#                   TRUST-PROGRAM WINE-RUN...]
# STATE-FOLDER/NAME.port holds the port of the service showing NAME.pem
# (tests/support/posix/make_test_certificates.sh lists them); NAME.out lists
# the request targets it received after that port. A target under /to-http/
# is redirected to an http:// address.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/service_port.sh"
action=$1
program=$2
state=$3
names=(server expired wrong-name stranger)
stop() {
    for name in "${names[@]}"; do
        if [[ -s "$state/$name.pid" ]]; then
            kill "$(cat "$state/$name.pid")" 2>/dev/null || true
        fi
        rm -f "$state/$name.pid" "$state/$name.port"
    done
}
case $action in
start)
    script=$4
    trust=$5
    shift 5
    stop
    rm -rf "$state"
    mkdir -p "$state/certificates"
    certificates=$state/certificates
    bash "$script" "$certificates"
    openssl x509 -in "$certificates/ca.pem" -outform der -out "$certificates/ca.der"
    "$@" "$trust" "Z:$certificates/ca.der"
    for name in "${names[@]}"; do
        "$program" --print-targets --certificate "$certificates/$name.pem" \
            --private-key "$certificates/$name.key" \
            --match /to-http/ --redirect-to "http://127.0.0.1:1" \
            </dev/null >"$state/$name.out" 2>"$state/$name.err" &
        echo $! >"$state/$name.pid"
    done
    for name in "${names[@]}"; do
        await_port "$state/$name.out" "$state/$name.port" "$state/$name.err" \
            "tls_services.sh: the service for $name"
    done
    ;;
stop)
    stop
    ;;
esac
