#!/usr/bin/env bash
# Runs a command with a private X display (Xvfb on a free display number), for programs that
# open windows. With VIGREL_WINEPREFIX set, that prefix's wineserver is ended before the display
# goes away, so that no Wine process keeps a dead display for the next run.
#   tools/with-xvfb.sh command args...
set -uo pipefail

display=
for n in $(seq 91 160); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=$n
        break
    fi
done
if [ -z "$display" ]; then
    echo "with-xvfb: no free display number" >&2
    exit 1
fi

Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done

stop() {
    if [ -n "${VIGREL_WINEPREFIX:-}" ]; then
        WINEPREFIX="$VIGREL_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX="$VIGREL_WINEPREFIX" wineserver -w >/dev/null 2>&1 || true
    fi
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
}
trap stop EXIT

DISPLAY=":$display" "$@"
