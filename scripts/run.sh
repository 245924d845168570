#!/usr/bin/env bash
# Builds kqget and runs it. Usage: scripts/run.sh [program args...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/deps.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build >&2

exec build/bin/kqget-cli "$@"
