#!/usr/bin/env bash
# Runs a Windows program under Wine with the prefix given first, without
# Wine's debug output. CMake's cross-compiling emulator for the tests:
#   scripts/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
export WINEPREFIX=$1
shift
export WINEDEBUG=-all
# No Mono or Gecko install prompt: kqget needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$@"
