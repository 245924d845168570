#!/usr/bin/env bash
# Builds kqget and runs it.
#   scripts/run.sh                 the window
#   scripts/run.sh --cli ARGS...   the headless command (kqget-cli ARGS...)
#   scripts/run.sh --demo          a sample library repaired through a local stand-in service
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/deps.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build >&2

case "${1:-}" in
--demo)
    shift
    exec bash scripts/demo.sh "$@"
    ;;
--cli)
    shift
    exec build/bin/kqget-cli "$@"
    ;;
esac

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    cat >&2 <<'MSG'
run.sh: there is no display here, so the window cannot open.
  See kqget work without one:  scripts/run.sh --demo
  Repair a library headless:   scripts/run.sh --cli --key KEY --user NAME --data FOLDER
MSG
    exit 1
fi
exec build/bin/kqget "$@"
