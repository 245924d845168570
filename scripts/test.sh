#!/usr/bin/env bash
# Builds kqget and runs every test: the Linux suite in build/, then the
# Windows suite, cross-built in build-windows/ and run under Wine.
#   scripts/test.sh [--linux | --sanitize] [ctest args...]
# --linux runs the Linux suite only; ctest arguments go to both suites.
# --sanitize builds the Linux suite with the address and undefined-behaviour
# sanitizers in build-sanitize/ and runs it: the first report fails the test.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

linux_only=0
sanitize=0
case "${1:-}" in
--linux) linux_only=1 && shift ;;
--sanitize) sanitize=1 && shift ;;
esac

bash scripts/deps.sh
export QT_QPA_PLATFORM=offscreen

if ((sanitize)); then
    # Halting, not recovering: a report ends the process with SIGABRT, which no
    # test takes for one of the program's own exit statuses. kqget's own code
    # is what is sanitized; the tests are compiled as in build/, whose objects
    # the compiler cache then serves (CMakeLists.txt, KQGET_SANITIZE). The
    # package check is left out: it tests packaging, not code.
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQGET_BUILD_BENCH=OFF \
        -DKQGET_SANITIZE=address,undefined >/dev/null
    cmake --build build-sanitize
    export ASAN_OPTIONS=abort_on_error=1:halt_on_error=1:detect_leaks=1
    export UBSAN_OPTIONS=abort_on_error=1:halt_on_error=1:print_stacktrace=1
    exec ctest --test-dir build-sanitize --output-on-failure --timeout 600 -j2 -LE package "$@"
fi

bash scripts/package.sh --install-tools
# The benchmark helpers are for bench/run.py, which builds its own release.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQGET_BUILD_BENCH=OFF >/dev/null
cmake --build build
linux_status=0
ctest --test-dir build --output-on-failure --timeout 300 -j2 "$@" || linux_status=$?
if ((linux_only)); then
    exit "$linux_status"
fi

# The Windows tests use build/'s stand-in card service and kqget-cli; they run
# whatever the Linux suite's outcome, and the script fails if either did.
bash scripts/build-windows.sh >/dev/null
windows_status=0
ctest --test-dir build-windows --output-on-failure --timeout 300 "$@" || windows_status=$?
failed=()
if ((linux_status)); then failed+=(Linux); fi
if ((windows_status)); then failed+=(Windows); fi
if ((${#failed[@]})); then
    echo "test.sh: tests failed in the suite(s): ${failed[*]}" >&2
    exit 1
fi
