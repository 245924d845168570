#!/usr/bin/env bash
# Starts one persistent Wine server with a fresh prefix, or stops it:
#   wine_server.sh start|stop PREFIX
# Each program under Wine then starts in a few hundredths of a second instead
# of seconds.
set -euo pipefail
action=$1
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
case $action in
start)
    wine_environment "$2"
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$HOME"
    wine_environment "$2" # makes the home folder again
    mkdir -p "$WINEPREFIX"
    # Wine's own processes must not hold ctest's output open.
    /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 wineboot --init </dev/null >"$WINEPREFIX.log" 2>&1
    # The tests' displays have no window manager: Wine is told so, or it waits
    # two seconds for one each time a window is hidden or closed.
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        </dev/null >>"$WINEPREFIX.log" 2>&1
    ;;
stop)
    wine_environment "$2"
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    ;;
esac
