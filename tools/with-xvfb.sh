#!/usr/bin/env bash
# Runs a command with a private X display (Xvfb picks a free display number itself), for
# programs that open windows. With VIGREL_WINEPREFIX set, that prefix's wineserver is ended
# before the display goes away, so that no Wine process keeps a dead display for the next run.
#   tools/with-xvfb.sh command args...
set -uo pipefail

numberfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
xvfb=$!

stop() {
    if [ -n "${VIGREL_WINEPREFIX:-}" ]; then
        WINEPREFIX="$VIGREL_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX="$VIGREL_WINEPREFIX" wineserver -w >/dev/null 2>&1 || true
    fi
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    rm -f "$numberfile"
}
trap stop EXIT

display=
for _ in $(seq 1 100); do
    display=$(tr -d '\n' <"$numberfile")
    [ -n "$display" ] && break
    sleep 0.1
done
if [ -z "$display" ]; then
    echo "with-xvfb: Xvfb did not start" >&2
    exit 1
fi

DISPLAY=":$display" "$@"
