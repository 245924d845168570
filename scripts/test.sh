#!/usr/bin/env bash
# Builds kqget and runs every test: the Linux suite in build/, then the
# Windows suite, cross-built in build-windows/ and run under Wine.
#   scripts/test.sh [--linux | --sanitize | --all] [ctest args...]
# --linux runs the Linux suite only; ctest arguments go to every suite.
# --sanitize builds the Linux suite with the address and undefined-behaviour
# sanitizers in build-sanitize/ and runs it: the first report fails the test.
# --all runs the three suites, the Windows and sanitizer ones beside the Linux
# one (what CI runs): the suites spend most of their time waiting on sockets,
# timers and Wine, so on two cores they overlap well. The suites beside print
# their output when they end.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

mode=default
case "${1:-}" in
--linux | --sanitize | --all) mode=${1#--} && shift ;;
esac

export QT_QPA_PLATFORM=offscreen

linux_build() {
    bash scripts/package.sh --install-tools
    # The benchmark helpers are for bench/run.py, which builds its own release.
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQGET_BUILD_BENCH=OFF >/dev/null
    cmake --build build
}

linux_suite() {
    # Most tests wait on sockets and child processes, so more run at once
    # than there are cores.
    ctest --test-dir build --output-on-failure --timeout 300 -j4 "$@"
}

# Halting, not recovering: a report ends the process with SIGABRT, which no
# test takes for one of the program's own exit statuses. kqget's own code is
# what is sanitized; the tests are compiled as in build/, whose objects the
# compiler cache then serves (CMakeLists.txt, KQGET_SANITIZE), so build/ is
# built first. The package check is left out: it tests packaging, not code.
sanitizer_suite() {
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQGET_BUILD_BENCH=OFF \
        -DKQGET_SANITIZE=address,undefined >/dev/null
    cmake --build build-sanitize
    ASAN_OPTIONS=abort_on_error=1:halt_on_error=1:detect_leaks=1 \
        UBSAN_OPTIONS=abort_on_error=1:halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir build-sanitize --output-on-failure --timeout 600 -j4 -LE package "$@"
}

# The Windows tests use build/'s stand-in card service and kqget-cli. They run
# one at a time: two at a time, three of them failed once each in a few dozen
# runs under load (a TLS reply WinHTTP took for no HTTP, a secure channel
# failure, kqget-cli.exe ending with status 1 before its log), which one at a
# time they have not; their RESOURCE_LOCKs say what they would share.
windows_suite() {
    bash scripts/build-windows.sh >/dev/null
    ctest --test-dir build-windows --output-on-failure --timeout 300 "$@"
}

bash scripts/deps.sh
case $mode in
linux)
    linux_build
    linux_suite "$@"
    exit
    ;;
sanitize)
    sanitizer_suite "$@"
    exit
    ;;
esac

linux_build
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
beside=(windows)
if [[ $mode == all ]]; then beside+=(sanitizer); fi
declare -A pids
for suite in "${beside[@]}"; do
    "${suite}_suite" "$@" >"$logs/$suite" 2>&1 &
    pids[$suite]=$!
done
failed=()
linux_suite "$@" || failed+=(Linux)
for suite in "${beside[@]}"; do
    status=0
    wait "${pids[$suite]}" || status=$?
    echo "==== the ${suite} suite ===="
    if ((status)); then
        cat "$logs/$suite"
        failed+=("$suite")
    else
        # Its summary; the whole output is printed only when it fails.
        grep -E 'tests passed|Total Test time' "$logs/$suite" || true
    fi
done
if ((${#failed[@]})); then
    echo "test.sh: tests failed in the suite(s): ${failed[*]}" >&2
    exit 1
fi
