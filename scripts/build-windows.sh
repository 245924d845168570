#!/usr/bin/env bash
# Cross-builds kqget for 64-bit Windows into build-windows/ with mingw-w64 and
# makes the installer and the zip; their paths are the last lines printed.
#   scripts/build-windows.sh [-DKQGET_INFO_BASE=https://... ...]
# Installs from Debian what it needs first: mingw-w64 and its static zlib, Wine (the tests' and
# the installer check's emulator), NSIS, Xvfb for the window's test and tmux
# for the console's, and dpkg-dev, whose dpkg-source unpacks Debian's source of
# expat, which the configure step has apt fetch (cmake/expat.cmake).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/deps.sh g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 nsis xvfb xauth tmux \
    dpkg-dev debian-archive-keyring >&2

build=build-windows
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "$@" >&2
cmake --build "$build" -j2 >&2
cmake --build "$build" --target package >&2
ls "$root/$build"/packages/kqget-*-win64.exe "$root/$build"/packages/kqget-*-win64.zip
