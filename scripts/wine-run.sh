#!/usr/bin/env bash
# Runs a Windows program under Wine with the prefix given first, in the
# environment of scripts/wine-env.sh. CMake's cross-compiling emulator for
# the tests:
#   scripts/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
wine_environment "$1"
shift
exec /usr/lib/wine/wine64 "$@"
