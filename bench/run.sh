#!/usr/bin/env bash
# Measures kqget against its floor and its peers. Shared machines are noisy, so
# every figure is a ratio of two programs timed side by side in this run:
# interleaved rounds, alternating which goes first, best round of each kept.
#
# Usage: bench/run.sh [--rounds N] [--latency-rounds N] [--rows 1,2,3,4,5,6,7,8] [--keep]
#                     [--baseline-cli PATH]
#   --rounds N          timed rounds per row after one untimed warm-up (default 7)
#   --latency-rounds N  the same for rows 3 and 6, whose rounds take a minute each (default 5)
#   --rows LIST         only these rows (default all)
#   --keep              leave the temporary folder for a look afterwards
#   --baseline-cli PATH row 2b against this kqget-cli (an earlier build) rather
#                       than against --jobs 1
#
# Exit status 0 when every row ran, its check held and its target was met.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-bench"
bin="$build/bin"

rounds=7
latency_rounds=5
rows="1,2,3,4,5,6,7,8"
keep=0
baseline_cli=""
while (($#)); do
    case "$1" in
    --rounds) rounds=${2:?--rounds needs a number}; shift 2 ;;
    --latency-rounds) latency_rounds=${2:?--latency-rounds needs a number}; shift 2 ;;
    --rows) rows=${2:?--rows needs a list}; shift 2 ;;
    --keep) keep=1; shift ;;
    --baseline-cli) baseline_cli=${2:?--baseline-cli needs a path}; shift 2 ;;
    -h | --help) sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench: unknown argument '$1'" >&2; exit 64 ;;
    esac
done
for n in "$rounds" "$latency_rounds"; do
    if ! [[ $n =~ ^[0-9]+$ ]] || ((n < 5)); then
        echo "bench: rounds must be 5 or more" >&2
        exit 64
    fi
done
if ! [[ $rows =~ ^[1-8](,[1-8])*$ ]]; then
    echo "bench: --rows takes row numbers 1 to 8, comma-separated" >&2
    exit 64
fi
wants() { [[ ",$rows," == *",$1,"* ]]; }

# Sizes of the libraries, fixed so that tables from different days compare.
walk_cards=20000
fetch_cards=2000
latency_ms=50
latency_cards=500
memory_small=10000
memory_large=100000
tail_cards=400
tail_latency_ms=30
tail_late_ms=1500
held_cards=24
held_body_bytes=$((32 * 1024 * 1024))
held_ms=8000
https_cards=500
https_jobs=16
image_base="http://images.kq.example"

# Proxies from the caller's environment would route the fetch rows elsewhere.
unset HTTP_PROXY HTTPS_PROXY https_proxy ALL_PROXY all_proxy NO_PROXY no_proxy http_proxy

say() { printf 'bench: %s\n' "$*" >&2; }

# --- build -------------------------------------------------------------------

say "installing what is missing (nginx, curl, time)"
bash "$root/scripts/deps.sh" nginx curl time >&2
say "building Release into ${build#"$root"/}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKQGET_BUILD_TESTS=OFF \
    >/dev/null
targets=(kqget-cli kqget-card-service kqget-bench-library kqget-bench-walk-floor kqget-bench-https)
# The window's driver exists only in a build with the window; only row 4 needs it.
if wants 4 && ninja -C "$build" -t targets all 2>/dev/null | grep -q "^kqget-bench-window:"; then
    targets+=(kqget-bench-window)
fi
cmake --build "$build" --target "${targets[@]}" >&2

# --- temporary folder and servers ---------------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/kqget-bench.XXXXXX")
# nginx's workers drop to an unprivileged user and must read the served files.
chmod 755 "$work"
server_pids=()
cleanup() {
    local pid
    for pid in "${server_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if ((keep)); then
        say "kept $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits until something answers HTTP on 127.0.0.1:$1 (at most 10 s).
await_port() {
    local tries
    for ((tries = 0; tries < 100; tries++)); do
        if curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$1/"; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# --- measuring -----------------------------------------------------------------

# Runs "$@" inside folder $1 with its output kept there; sets $took to the wall
# time in microseconds and returns the command's status.
took=0
timed() {
    local dir=$1
    shift
    cd "$dir"
    local status=0 start end
    start=$EPOCHREALTIME
    "$@" >"$dir/stdout.txt" 2>"$dir/stderr.txt" || status=$?
    end=$EPOCHREALTIME
    cd "$work"
    took=$((${end/./} - ${start/./}))
    return "$status"
}

# pair ROW [ROUNDS]: interleaves ${ROW}_prepare SIDE, ${ROW}_run SIDE (which calls
# timed) and ${ROW}_check SIDE for SIDE "kq" and "base"; round 0 warms up and
# is not counted. Sets best_kq and best_base (microseconds), or $failure.
best_kq=0
best_base=0
failure=""
pair() {
    local row=$1 count=${2:-$rounds} round side
    best_kq=0
    best_base=0
    failure=""
    for ((round = 0; round <= count; round++)); do
        local order=(kq base)
        if ((round % 2)); then order=(base kq); fi
        for side in "${order[@]}"; do
            "${row}_prepare" "$side"
            if ! "${row}_run" "$side"; then
                failure="$side run failed: $(tail -n 2 "$work/$side/stderr.txt" | tr '\n' ' ')"
                return 1
            fi
            if ! failure=$("${row}_check" "$side"); then
                return 1
            fi
            failure=""
            if ((round == 0)); then continue; fi
            if [[ $side == kq ]]; then
                ((best_kq == 0 || took < best_kq)) && best_kq=$took
            else
                ((best_base == 0 || took < best_base)) && best_base=$took
            fi
        done
    done
}

seconds() { awk -v us="$1" 'BEGIN { printf "%.3f s", us / 1e6 }'; }
mib() { awk -v kib="$1" 'BEGIN { printf "%.1f MiB", kib / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# at_most VALUE LIMIT: whether VALUE <= LIMIT, in decimals.
at_most() { awk -v v="$1" -v l="$2" 'BEGIN { exit !(v <= l) }'; }

table=()
all_good=1
# add_row LABEL MEASURED AGAINST RATIO TARGET RESULT
add_row() {
    table+=("$(printf '%-44s %12s %12s %7s  %-18s %s' "$@")")
    if [[ $6 != ok && $6 != reported ]]; then all_good=0; fi
}
# time_row LABEL TARGET_RATIO_OR_EMPTY: one row from best_kq / best_base or $failure.
time_row() {
    local label=$1 target=$2
    if [[ -n $failure ]]; then
        add_row "$label" - - - "${target:+<= ${target}x}" "FAILED: $failure"
        return
    fi
    local r result=reported
    r=$(ratio "$best_kq" "$best_base")
    if [[ -n $target ]]; then
        if at_most "$r" "$target"; then result=ok; else result=MISSED; fi
    fi
    add_row "$label" "$(seconds "$best_kq")" "$(seconds "$best_base")" "${r}x" \
        "${target:+<= ${target}x}" "$result"
}

mkdir -p "$work/kq" "$work/base"
cli=("$bin/kqget-cli" --key BENCHKEY --user bench --quiet)

# --- row 1: the walk against its floor ---------------------------------------------

floor_order=listing
row1_prepare() { :; }
row1_run() {
    if [[ $1 == kq ]]; then
        timed "$work/kq" "${cli[@]}" --data "$work/walk/"
    else
        timed "$work/base" "$bin/kqget-bench-walk-floor" --order "$floor_order" "$work/walk/"
    fi
}
same_logs() { cmp -s "$work/kq/KQ-GET-PNG-XML.txt" "$work/base/KQ-GET-PNG-XML.txt"; }
row1_check() {
    if [[ $1 == kq && -f $work/base/KQ-GET-PNG-XML.txt ]] && ! same_logs; then
        echo "the two run logs differ"
        return 1
    fi
}

# The floor visits a letter's cards in whichever of its two orders kqget-cli
# uses; with neither do the logs match, and the row fails.
pick_floor_order() {
    timed "$work/kq" "${cli[@]}" --data "$work/walk/" || return 1
    for floor_order in listing sorted; do
        timed "$work/base" "$bin/kqget-bench-walk-floor" --order "$floor_order" "$work/walk/" ||
            return 1
        if same_logs; then return 0; fi
    done
    return 1
}

if wants 1 || wants 4; then
    say "making a library of $walk_cards cards that needs nothing"
    "$bin/kqget-bench-library" walk "$walk_cards" "$work/walk"
fi
if wants 1; then
    say "row 1: walk, kqget-cli against the floor"
    if pick_floor_order; then
        say "the floor visits cards in $floor_order order, as kqget-cli does"
        pair row1 || true
        if [[ -z $failure ]] && ! same_logs; then failure="the two run logs differ"; fi
    else
        failure="the run log matches the floor's in neither order"
    fi
    time_row "1 walk $walk_cards cards: cli vs floor" 1.2
fi

# --- rows 2 and 3: fetching against curl ---------------------------------------------------

fetch_prepare() { rm -f "$work"/fetch/*/*_full.png; }
fetch_run() {
    if [[ $1 == kq ]]; then
        timed "$work/kq" "${cli[@]}" --data "$work/fetch/"
    else
        # One process, one kept-alive connection, the same URLs into the same paths.
        timed "$work/base" curl -s -S -K "$work/curl.config"
    fi
}
# fetch_check SIDE REFERENCE [DATA]: every illustration arrived, byte for byte.
fetch_check() {
    if ! "$bin/kqget-bench-library" verify "${3:-$work/fetch}" "$2" >"$work/verify.txt" 2>&1; then
        echo "$1: $(tail -n 1 "$work/verify.txt")"
        return 1
    fi
}

if wants 2; then
    say "making a library of $fetch_cards cards whose illustrations are missing"
    "$bin/kqget-bench-library" fetch "$fetch_cards" "$work/fetch" "$work/serve" \
        "$work/curl.config" "$image_base"
fi

if wants 2; then
    say "row 2: fetch from nginx, kqget-cli against curl"
    mkdir -p "$work/nginx/logs" "$work/nginx/tmp"
    nginx_port=$("$bin/kqget-bench-library" free-port)
    cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    sendfile on;
    tcp_nopush on;
    # Either side may keep one connection for the whole run.
    keepalive_requests 100000;
    keepalive_timeout 60s;
    types { image/png png; }
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$nginx_port;
        server_name _;
        root $work/serve;
    }
}
CONF
    nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" &
    server_pids+=($!)
    if ! await_port "$nginx_port"; then
        say "nginx did not start:"
        cat "$work/nginx/logs/error.log" >&2 || true
        exit 1
    fi
    export http_proxy="http://127.0.0.1:$nginx_port"
    row2_prepare() { fetch_prepare; }
    row2_run() { fetch_run "$1"; }
    row2_check() { fetch_check "$1" "$work/serve"; }
    pair row2 || true
    time_row "2 fetch $fetch_cards from nginx: cli vs curl -K" 1.15
    # With no latency to hide, the default of 4 jobs must cost nothing against
    # one, or against the build named by --baseline-cli.
    row2b_prepare() { fetch_prepare; }
    row2b_run() {
        if [[ $1 == kq ]]; then
            timed "$work/kq" "${cli[@]}" --data "$work/fetch/"
        elif [[ -n $baseline_cli ]]; then
            timed "$work/base" "$baseline_cli" "${cli[@]:1}" --data "$work/fetch/"
        else
            timed "$work/base" "${cli[@]}" --jobs 1 --data "$work/fetch/"
        fi
    }
    row2b_check() { fetch_check "$1" "$work/serve"; }
    pair row2b || true
    against="--jobs 1"
    if [[ -n $baseline_cli ]]; then against="baseline"; fi
    time_row "2b fetch $fetch_cards from nginx: default vs $against" 1.05
    unset http_proxy
fi

# The stand-in card service with the given switches, as the proxy of what
# follows; sets $service_port.
start_card_service() {
    local out="$work/service-$RANDOM"
    : >"$out.out" # so that it can be read before the service has opened it
    "$bin/kqget-card-service" "$@" >"$out.out" 2>"$out.err" &
    server_pids+=($!)
    service_port=""
    for ((tries = 0; tries < 100; tries++)); do
        service_port=$(head -n 1 "$out.out")
        if [[ -n $service_port ]]; then break; fi
        sleep 0.1
    done
    if [[ -z $service_port ]] || ! await_port "$service_port"; then
        say "the card service did not start:"
        cat "$out.err" >&2
        exit 1
    fi
    export http_proxy="http://127.0.0.1:$service_port"
}

# Rows 3 and 6: several fetches at once against a slow service. The programs
# of latency_sides take turns in each round, the order reversed every other
# round: kqget-cli --jobs N (kqN) and curl one at a time (curl1, -K) or N at
# once (curlN, -Z), over the same URLs through the same proxy.
latency_sides=(kq1 curl1 kq4 curl4 kq8 curl8)
latency_data="$work/latency"
latency_config="$work/latency.config"
latency_reference=kq1
declare -A latency_best
latency_run() {
    local jobs=${1//[a-z]/}
    case $1 in
    kq*) timed "$work/kq" "${cli[@]}" --jobs "$jobs" --data "$latency_data/" ;;
    curl1) timed "$work/base" curl -s -S -K "$latency_config" ;;
    curl*) timed "$work/base" curl -s -S -Z --parallel-max "$jobs" -K "$latency_config" ;;
    esac
}
# Every file arrived; every number of jobs leaves the log of the reference.
latency_check() {
    fetch_check "$1" --card-service "$latency_data" || return 1
    if [[ $1 == kq* ]]; then
        local logs="$work/kq/log-${latency_data##*/}"
        cp "$work/kq/KQ-GET-PNG-XML.txt" "$logs-$1.txt"
        if [[ -f $logs-$latency_reference.txt ]] &&
            ! cmp -s "$logs-$latency_reference.txt" "$logs-$1.txt"; then
            echo "$1: the log differs from the one of $latency_reference"
            return 1
        fi
    fi
}
latency_rounds_run() {
    local round side order
    failure=""
    latency_best=()
    for ((round = 0; round <= latency_rounds; round++)); do
        order=("${latency_sides[@]}")
        if ((round % 2)); then
            order=()
            for ((i = ${#latency_sides[@]} - 1; i >= 0; i--)); do order+=("${latency_sides[i]}"); done
        fi
        for side in "${order[@]}"; do
            rm -f "$latency_data"/*/*_full.png
            if ! latency_run "$side"; then
                local dir=base
                if [[ $side == kq* ]]; then dir=kq; fi
                failure="$side run failed: $(tail -n 2 "$work/$dir/stderr.txt" | tr '\n' ' ')"
                return 1
            fi
            if ! failure=$(latency_check "$side"); then
                return 1
            fi
            failure=""
            if ((round == 0)); then continue; fi
            if [[ -z ${latency_best[$side]:-} ]] || ((took < latency_best[$side])); then
                latency_best[$side]=$took
            fi
        done
    done
}
# latency_row LABEL MEASURED AGAINST TARGET
latency_row() {
    best_kq=${latency_best[$2]:-0}
    best_base=${latency_best[$3]:-0}
    time_row "$1" "$4"
}

if wants 3; then
    say "row 3: $latency_cards fetches with $latency_ms ms per response, --jobs 1, 4, 8 against curl (minutes)"
    "$bin/kqget-bench-library" fetch "$latency_cards" "$work/latency" "$work/latency-serve" \
        "$work/latency.config" "$image_base"
    start_card_service --latency-ms "$latency_ms"
    latency_rounds_run || true
    latency_row "3a +$latency_ms ms: --jobs 1 vs curl -K" kq1 curl1 1.1
    latency_row "3b +$latency_ms ms: --jobs 4 vs curl -Z max 4" kq4 curl4 1.1
    latency_row "3c +$latency_ms ms: --jobs 8 vs curl -Z max 8" kq8 curl8 1.1
    # The default against one at a time: 3.5 times as fast is 1 / 3.5.
    latency_row "3d +$latency_ms ms: --jobs 4 vs --jobs 1" kq4 kq1 0.286
    unset http_proxy
fi

# The card id of the bench libraries' card number $1 (as sample::cardId).
card_id() {
    local i=$1 chars=0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ rest=$(($1 / 4)) tail="" k
    for k in 1 2 3 4; do
        tail="${chars:rest%36:1}$tail"
        rest=$((rest / 36))
    done
    local letters=ABCD
    echo "${letters:i%4:1}$tail"
}

# Row 6: a slow tail. Every reply waits $tail_latency_ms ms and one in ten
# $tail_late_ms ms more, as a cache miss would; a late reply must hold back
# only its own card, as it does curl's other transfers.
if wants 6; then
    say "row 6: $tail_cards fetches, $tail_latency_ms ms each and one in ten $tail_late_ms ms late, --jobs 4, 8, 16 against curl -Z (minutes)"
    "$bin/kqget-bench-library" fetch "$tail_cards" "$work/tail" "$work/tail-serve" \
        "$work/tail.config" "$image_base"
    late=()
    for ((i = 0; i < tail_cards; i += 10)); do
        late+=(--match "/$(card_id "$i")/illustrations" --delay-ms "$tail_late_ms")
    done
    start_card_service --latency-ms "$tail_latency_ms" "${late[@]}"
    latency_sides=(kq4 curl4 kq8 curl8 kq16 curl16)
    latency_data="$work/tail"
    latency_config="$work/tail.config"
    latency_reference=kq4
    latency_rounds_run || true
    latency_row "6a slow tail: --jobs 4 vs curl -Z max 4" kq4 curl4 1.15
    latency_row "6b slow tail: --jobs 8 vs curl -Z max 8" kq8 curl8 1.15
    latency_row "6c slow tail: --jobs 16 vs curl -Z max 16" kq16 curl16 1.15
    unset http_proxy
fi

# --- row 4: the window against the headless command -----------------------------------

row4_prepare() { :; }
row4_run() {
    if [[ $1 == kq ]]; then
        timed "$work/kq" "$bin/kqget-bench-window" BENCHKEY bench "$work/walk/"
    else
        timed "$work/base" "${cli[@]}" --data "$work/walk/"
    fi
}
row4_check() { row1_check "$1"; }

if wants 4; then
    label="4 walk $walk_cards cards: window vs cli"
    if [[ -x $bin/kqget-bench-window ]]; then
        say "row 4: walk, the window offscreen against kqget-cli"
        export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/xdg"
        mkdir -m 700 -p "$XDG_RUNTIME_DIR"
        rm -f "$work/kq/KQ-GET-PNG-XML.txt" "$work/base/KQ-GET-PNG-XML.txt"
        pair row4 || true
        if [[ -z $failure ]] && ! same_logs; then failure="the two run logs differ"; fi
        time_row "$label" 1.5
    else
        add_row "$label" - - - "<= 1.5x" "NOT RUN: this build has no window"
    fi
fi

# --- row 5: peak memory -------------------------------------------------------------

# peak_kib DATA [OPTION...]: the resident peak of one run over DATA by kqget-cli.
peak_kib() {
    local data=$1
    shift
    (cd "$work/kq" && /usr/bin/time -f '%M' -o "$work/kq/peak.txt" \
        "${cli[@]}" "$@" --data "$data/" >/dev/null 2>&1) || return 1
    tail -n 1 "$work/kq/peak.txt"
}

if wants 5; then
    say "row 5: peak memory on $memory_small and $memory_large cards"
    "$bin/kqget-bench-library" walk "$memory_small" "$work/mem-small"
    "$bin/kqget-bench-library" walk "$memory_large" "$work/mem-large"
    label="5 peak RSS: $memory_large vs $memory_small cards"
    small=0
    large=0
    memory_failed=0
    # Interleaved like the times; the lowest peak of each is the one without
    # the noise of page placement.
    for ((round = 0; round < rounds; round++)); do
        if ! kib=$(peak_kib "$work/mem-small"); then memory_failed=1; break; fi
        ((small == 0 || kib < small)) && small=$kib
        if ! kib=$(peak_kib "$work/mem-large"); then memory_failed=1; break; fi
        ((large == 0 || kib < large)) && large=$kib
    done
    if ((memory_failed)); then
        add_row "$label" - - - "< 16 MiB, <= 1.10x" "FAILED: kqget-cli failed"
    else
        r=$(ratio "$large" "$small")
        result=ok
        if ((large >= 16 * 1024)) || ! at_most "$r" 1.10; then result=MISSED; fi
        add_row "$label" "$(mib "$large")" "$(mib "$small")" "${r}x" "< 16 MiB, <= 1.10x" "$result"
    fi
    rm -rf "$work/mem-small" "$work/mem-large"
fi

# --- row 7: memory while the first fetch is held up ---------------------------------

# Row 7: 16 jobs, the first reply held $held_ms ms and every body 32 MiB: the
# others arrive and wait for their turn, on disk beside their card files.
if wants 7; then
    say "row 7: peak memory, --jobs 16, $held_cards bodies of $((held_body_bytes >> 20)) MiB, the first held $((held_ms / 1000)) s"
    "$bin/kqget-bench-library" fetch "$held_cards" "$work/held" "$work/held-serve" \
        "$work/held.config" "$image_base"
    start_card_service --body-bytes "$held_body_bytes" \
        --match "/$(card_id 0)/illustrations" --delay-ms "$held_ms" --body-bytes "$held_body_bytes"
    label="7 peak RSS: --jobs 16, first of 32 MiB held"
    peak=0
    held_failed=""
    for ((round = 0; round < 3; round++)); do
        rm -f "$work"/held/*/*_full.png
        if ! kib=$(peak_kib "$work/held" --jobs 16); then held_failed="kqget-cli failed"; break; fi
        arrived=$(find "$work/held" -name '*_full.png' -size "${held_body_bytes}c" | wc -l)
        if ((arrived != held_cards)); then held_failed="$arrived of $held_cards bodies arrived"; break; fi
        ((peak == 0 || kib < peak)) && peak=$kib
    done
    if [[ -n $held_failed ]]; then
        add_row "$label" - - - "< 100 MiB" "FAILED: $held_failed"
    else
        result=ok
        if ((peak >= 100 * 1024)); then result=MISSED; fi
        add_row "$label" "$(mib "$peak")" - - "< 100 MiB" "$result"
    fi
    rm -rf "$work/held" "$work/held-serve"
    unset http_proxy
fi

# --- row 8: HTTPS with HTTP/2 --------------------------------------------------------

# Row 8: nginx speaking TLS 1.3 and HTTP/2 with a throw-away certificate, in
# front of the stand-in service $latency_ms ms away. kqget (through a driver
# that trusts the throw-away CA, as kqget-cli trusts the system's) against
# curl --http2, both with $https_jobs at once; kqget's fetches must share one
# TLS connection.
if wants 8; then
    say "row 8: $https_cards fetches over HTTPS and HTTP/2, $latency_ms ms each, --jobs $https_jobs against curl -Z --http2"
    tls="$work/tls"
    mkdir -p "$tls/logs" "$tls/tmp"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
        -subj "/CN=kqget bench CA" -keyout "$tls/ca.key" -out "$tls/ca.pem" 2>/dev/null
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
        -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -subj "/CN=127.0.0.1" \
        -addext "subjectAltName=IP:127.0.0.1" -addext "basicConstraints=critical,CA:FALSE" \
        -keyout "$tls/server.key" -out "$tls/server.pem" 2>/dev/null
    start_card_service --latency-ms "$latency_ms"
    unset http_proxy
    tls_port=$("$bin/kqget-bench-library" free-port)
    cat >"$tls/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $tls/nginx.pid;
error_log $tls/logs/error.log warn;
events { worker_connections 256; }
http {
    log_format connection '\$connection \$server_protocol';
    access_log $tls/logs/access.log connection;
    client_body_temp_path $tls/tmp/body;
    proxy_temp_path $tls/tmp/proxy;
    fastcgi_temp_path $tls/tmp/fastcgi;
    uwsgi_temp_path $tls/tmp/uwsgi;
    scgi_temp_path $tls/tmp/scgi;
    keepalive_requests 100000;
    keepalive_timeout 60s;
    upstream service {
        server 127.0.0.1:$service_port;
        keepalive 64;
    }
    server {
        listen 127.0.0.1:$tls_port ssl http2;
        ssl_certificate $tls/server.pem;
        ssl_certificate_key $tls/server.key;
        ssl_protocols TLSv1.3;
        http2_max_concurrent_streams 128;
        location / {
            proxy_pass http://service;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
        }
    }
}
CONF
    nginx -p "$tls" -c "$tls/nginx.conf" -e "$tls/logs/error.log" &
    server_pids+=($!)
    for ((tries = 0; tries < 100; tries++)); do
        if curl -s -o /dev/null --max-time 1 --cacert "$tls/ca.pem" "https://127.0.0.1:$tls_port/"; then
            break
        fi
        sleep 0.1
    done
    https_base="https://127.0.0.1:$tls_port"
    "$bin/kqget-bench-library" fetch "$https_cards" "$work/https" "$work/https-serve" \
        "$work/https.config" "$https_base"
    row8_prepare() {
        rm -f "$work"/https/*/*_full.png
        : >"$tls/logs/access.log"
    }
    row8_run() {
        if [[ $1 == kq ]]; then
            timed "$work/kq" "$bin/kqget-bench-https" "$tls/ca.pem" "$https_base" "$https_jobs" \
                "$work/https/"
        else
            timed "$work/base" curl -s -S -Z --parallel-max "$https_jobs" --http2 \
                --cacert "$tls/ca.pem" -K "$work/https.config"
        fi
    }
    row8_check() {
        fetch_check "$1" --card-service "$work/https" || return 1
        # Run in a subshell by pair: what the table reports goes through a file.
        local connections
        connections=$(awk '{ print $1 }' "$tls/logs/access.log" | sort -u | wc -l)
        echo "$connections" >"$tls/connections-$1.txt"
        if ! grep -q 'HTTP/2.0' "$tls/logs/access.log"; then
            echo "$1: no request came over HTTP/2"
            return 1
        fi
        if [[ $1 == kq ]] && ((connections != 1)); then
            echo "kq: $connections TLS connections, not one"
            return 1
        fi
    }
    pair row8 || true
    # No slower than curl; 5 % for the noise of rounds near the floor of 1.6 s.
    time_row "8 HTTPS h2 --jobs $https_jobs vs curl --http2" 1.05
    say "row 8: TLS connections in the last round: kqget $(cat "$tls/connections-kq.txt" 2>/dev/null || echo '?'), curl $(cat "$tls/connections-base.txt" 2>/dev/null || echo '?')"
fi

# --- the table --------------------------------------------------------------------------

cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
echo
echo "kqget benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')"
os=$(. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-}")
echo "machine: $(nproc) cores, ${cpu:-unknown CPU}, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), ${os:-unknown system}, $(uname -sr)"
echo "libraries on $(findmnt -T "$work" -no FSTYPE 2>/dev/null || echo '?'); nginx $(nginx -v 2>&1 | sed 's|.*/||'), curl $(curl --version | awk 'NR == 1 { print $2 }')"
echo "times: best of $rounds interleaved rounds after a warm-up ($latency_rounds for rows 3 and 6); ratio = measured / against"
if wants 3; then
    echo "row 3: $latency_cards illustrations from the stand-in card service, $latency_ms ms before every response"
fi
if wants 6; then
    echo "row 6: $tail_cards illustrations, $tail_latency_ms ms before every response, one in ten $tail_late_ms ms more"
fi
echo
printf '%-44s %12s %12s %7s  %-18s %s\n' "row" "measured" "against" "ratio" "target" "result"
printf '%s\n' "${table[@]}"
echo
((all_good))
