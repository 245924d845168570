#!/usr/bin/env bash
# Builds what it runs, and runs it.
#   scripts/run.sh                 the window
#   scripts/run.sh --cli ARGS...   the headless command (kqget-cli ARGS...)
#   scripts/run.sh --demo          a sample library repaired through a local stand-in service
# Only the programs run are built, not the tests (scripts/test.sh builds
# everything), in build/ with the settings scripts/test.sh uses, so that the
# two share that folder without configuring it anew.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

mode=window
case "${1:-}" in
--demo | --cli) mode=${1#--} && shift ;;
esac
case $mode in
window) targets=(kqget) ;;
cli) targets=(kqget-cli) ;;
demo) targets=(kqget-cli kqget-card-service) ;;
esac

# Said before anything is built: the window needs a display.
if [[ $mode == window && -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    cat >&2 <<'MSG'
run.sh: there is no display here, so the window cannot open.
  See kqget work without one:  scripts/run.sh --demo
  Repair a library headless:   scripts/run.sh --cli --key KEY --user NAME --data FOLDER
MSG
    exit 1
fi

bash scripts/deps.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKQGET_BUILD_BENCH=OFF >/dev/null
cmake --build build --target "${targets[@]}" >&2

case $mode in
demo) exec bash scripts/demo.sh "$@" ;;
cli) exec build/bin/kqget-cli "$@" ;;
esac

exec build/bin/kqget "$@"
