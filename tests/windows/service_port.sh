# Sourced by the scripts that start a stand-in card service for the tests
# under Wine.
# await_port OUT PORT-FILE ERR WHAT
# Waits up to 5 s for the service started with its output in OUT to print its
# port, its first line, and writes that into PORT-FILE; otherwise says that
# WHAT did not start, shows ERR (its error output) and fails.
await_port() {
    local out=$1 port=$2 err=$3 what=$4
    for _ in $(seq 100); do
        if [[ -s "$out" ]]; then
            head -n1 "$out" >"$port"
            return 0
        fi
        sleep 0.05
    done
    echo "$what did not start:" >&2
    cat "$err" >&2
    return 1
}
