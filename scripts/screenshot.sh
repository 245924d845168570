#!/usr/bin/env bash
# Builds kqget and draws docs/window.png from the real program, offscreen, as the
# window is first shown. Usage: scripts/screenshot.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build=${1:-build}

bash scripts/deps.sh >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target kqget >&2

mkdir -p docs
QT_QPA_PLATFORM=offscreen "$build/bin/kqget" --screenshot docs/window.png
echo "screenshot: docs/window.png" >&2
