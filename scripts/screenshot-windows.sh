#!/usr/bin/env bash
# Cross-builds kqget.exe and draws docs/window-windows.png from the real
# program under Wine, on a virtual X display, as the window is first shown.
#   scripts/screenshot-windows.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build=${1:-build-windows}

bash scripts/deps.sh g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev debian-archive-keyring \
    wine64 xvfb xauth >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" --target kqget >&2

# A prefix of its own, so that a test run's Wine server is left alone.
prefix="$root/$build/screenshot-prefix"
mkdir -p "$prefix" docs
xvfb-run --auto-servernum bash -c '
    source scripts/wine-env.sh
    wine_environment "$1"
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
    # Focus rectangles hidden until the keyboard is used, as Windows has it
    # by default (Wine shows them always): the window as a user first sees it.
    /usr/lib/wine/wine64 reg add "HKCU\\Control Panel\\Desktop" /v UserPreferencesMask \
        /t REG_BINARY /d 1000028012000000 /f >/dev/null 2>&1
    /usr/lib/wine/wine64 "$2" --screenshot "$3"
    status=$?
    /usr/lib/wine/wineserver -k
    exit $status' screenshot "$prefix" "$build/bin/kqget.exe" docs/window-windows.png
echo "screenshot: docs/window-windows.png" >&2
