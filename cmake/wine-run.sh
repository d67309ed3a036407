#!/bin/sh
# Runs a Windows program of a cross build under Wine: the tests and their discovery. The prefix
# lives in the build folder (WINEPREFIX overrides it) and needs no display; Wine's own messages
# are silenced and the program's exit status is returned.
set -e
program="$1"
shift
if [ -z "${WINEPREFIX:-}" ]; then
    dir="$(cd "$(dirname "$program")" && pwd)"
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do
        dir="$(dirname "$dir")"
    done
    [ "$dir" = / ] && dir="$(cd "$(dirname "$program")" && pwd)"
    export WINEPREFIX="$dir/wine-prefix"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY
mkdir -p "$WINEPREFIX"
# Making the prefix waits for the server to go idle, so it is made (once, under a lock) before a
# server is started that outlives each program by two minutes: test after test then finds it
# running instead of racing one that is shutting down. `wineserver -k` with this WINEPREFIX
# ends it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    flock "$WINEPREFIX/.init-lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] ||
        { /usr/lib/wine/wine64 wineboot --init && /usr/lib/wine/wineserver -w; }' >/dev/null 2>&1 || true
fi
# Wine's own background processes (services, devices, the desktop) start with the first program
# of a server and inherit its standard output: started here, apart from the program, they do not
# hold the output of a test open after the test ends.
if /usr/lib/wine/wineserver -p120 </dev/null >/dev/null 2>&1; then
    /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
fi
exec /usr/lib/wine/wine64 "$program" "$@"
