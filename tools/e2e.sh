#!/usr/bin/env bash
# The end-to-end scenario's session: run inside tools/with-xvfb.sh with VIGREL_WINEPREFIX set to
# the scenario's own prefix.
#
#   tools/e2e.sh BUILD_DIR SCENARIO.exe [args...]
#
# Puts every program of the prefix on one Wine desktop with a task bar (the service process
# inherits its desktop from the prefix's service manager, so a per-program setting would not
# reach it), starts a real SMTP server on loopback, answers the scenario's screenshot requests,
# runs the scenario and finally reads the received mail with Python's email package.
set -uo pipefail

build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
winerun=$build/wine-run
artifacts=$build/artifacts
sink=$build/e2e-mail
mkdir -p "$artifacts"

desktop=$(timeout 120 "$winerun" reg query 'HKCU\Software\Wine\Explorer' /v Desktop 2>/dev/null |
    tr -d '\r' | awk '$1 == "Desktop" { print $3 }')
if [ "$desktop" != shell ]; then
    timeout 60 "$winerun" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
    timeout 60 "$winerun" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f \
        >/dev/null 2>&1
    # The session that is up now started on the default desktop: begin a new one.
    WINEPREFIX=$VIGREL_WINEPREFIX wineserver -k >/dev/null 2>&1
    WINEPREFIX=$VIGREL_WINEPREFIX wineserver -w >/dev/null 2>&1
fi

# Bring the desktop shell up now rather than on the scenario's first window, and wait for it.
"$winerun" explorer /desktop=shell,1024x768 >/dev/null 2>&1 &
for _ in $(seq 600); do
    xdotool search --name 'Wine desktop' >/dev/null 2>&1 && break
    sleep 0.1
done

sh "$here/../tests/fixtures/smtp_sink_ctl.sh" start "$sink" || exit 1
spid=
cleanup() {
    [ -n "$spid" ] && kill "$spid" 2>/dev/null
    sh "$here/../tests/fixtures/smtp_sink_ctl.sh" stop "$sink"
}
trap cleanup EXIT

export VIGREL_SNAPSHOT_DIR=$artifacts
(
    while :; do
        for req in "$artifacts"/*.req; do
            [ -e "$req" ] || continue
            name=${req%.req}
            import -window root "$name.png.tmp.png" >/dev/null 2>&1 &&
                mv -f "$name.png.tmp.png" "$name.png"
            rm -f "$req"
        done
        sleep 0.1
    done
) &
spid=$!

VIGREL_SINK_DIR=$sink "$winerun" "$@"
status=$?
/usr/bin/python3 "$here/../tests/e2e/e2e_mail_check.py" "$sink" || status=1
exit $status
