#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix (KAVO_WINEPREFIX),
# creating the prefix on first use. Exit code: the program's.
#   wine-run.sh --setup          only make sure the prefix exists
#   wine-run.sh PROGRAM [ARG...]
set -euo pipefail
prefix=${KAVO_WINEPREFIX:?KAVO_WINEPREFIX must name the prefix folder}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
# Windows need a display: without one, a private Xvfb serves every program of the run.
if [ -z "${DISPLAY:-}" ]; then
    display=${KAVO_XVFB_DISPLAY:-97}
    export DISPLAY=":$display"
    (
        flock 9
        if ! { [ -S "/tmp/.X11-unix/X$display" ] && [ -f "/tmp/.X$display-lock" ] &&
               kill -0 "$(tr -d ' ' < "/tmp/.X$display-lock")" 2>/dev/null; }; then
            rm -f "/tmp/.X$display-lock" "/tmp/.X11-unix/X$display"
            setsid Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 9>&- &
            for _ in $(seq 1 100); do
                [ -S "/tmp/.X11-unix/X$display" ] && break
                sleep 0.05
            done
        fi
    ) 9>"/tmp/kavo-xvfb-$display.lock"
fi
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
    fi
) 9>"$prefix.lock"
# A wineserver that outlives each program saves seconds per run; it ends 120 s after the
# last program of the prefix. A fresh server is warmed up at once with a program whose
# output goes nowhere: the helper processes that the first program of a server starts
# (services, the desktop, device hosts) inherit its descriptors and live as long as the
# server, and a caller that reads the program's output until end of file would otherwise
# wait for the server to end.
(
    flock 9
    rc=0
    wineserver -p120 </dev/null >/dev/null 2>&1 9>&- || rc=$?
    if [ "$rc" = 0 ]; then
        wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$prefix.server.lock"
if [ "${1:-}" = "--setup" ]; then
    [ -f "$prefix/system.reg" ]
    exit $?
fi
exec wine "$@"
