#!/usr/bin/env bash
# Runs one command on a private X display with a Wine desktop shell, so that window tests have
# a task bar with a notification area, and tears everything down afterwards.
#
#   tools/with-desktop.sh [--artifacts DIR] [--exe NAME.exe] -- command [args...]
#
# --exe names the Windows program that must open inside the desktop shell (Wine places a
# program on a desktop by its file name). Screenshots: the wrapper saves one of the whole
# screen when the command ends, and while it runs it answers requests: a program that creates
# DIR/<name>.req gets DIR/<name>.png, and the request file is removed when the picture is
# complete. Exit status: that of the command, 124 when it outlived its bound.
set -uo pipefail

artifacts=
exe=
bound=${VIGREL_DESKTOP_TIMEOUT:-300}
while (($#)); do
    case "$1" in
    --artifacts) artifacts=$2; shift 2 ;;
    --exe) exe=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
    esac
done
if ((!$#)); then
    echo "usage: $0 [--artifacts DIR] [--exe NAME.exe] -- command [args...]" >&2
    exit 2
fi

here=$(cd "$(dirname "$0")" && pwd)
# The display is a private Xvfb that lives as long as this script.
if [ -z "${VIGREL_DESKTOP_XVFB:-}" ]; then
    VIGREL_DESKTOP_XVFB=1 exec "$here/with-xvfb.sh" "$0" ${artifacts:+--artifacts "$artifacts"} \
        ${exe:+--exe "$exe"} -- "$@"
fi
. "$here/wine-desktop.sh"
build=${VIGREL_BUILD_DIR:-$here/../build/win}
winerun=$build/wine-run
artifacts=${artifacts:-$build/artifacts}
mkdir -p "$artifacts"
artifacts=$(cd "$artifacts" && pwd)
epid= spid=

cleanup() {
    [ -n "$spid" ] && kill "$spid" 2>/dev/null
    if [ -n "$epid" ]; then
        kill "$epid" 2>/dev/null
    fi
    if [ -n "$exe" ]; then
        timeout 20 "$winerun" reg delete "HKCU\\Software\\Wine\\AppDefaults\\$exe\\Explorer" \
            /f >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -n "$exe" ]; then
    timeout 60 "$winerun" reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe\\Explorer" \
        /v Desktop /d shell /f >/dev/null 2>&1
fi
timeout 60 "$winerun" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f \
    >/dev/null 2>&1
"$winerun" explorer /desktop=shell,1024x768 >/dev/null 2>&1 &
epid=$!
# The desktop is up once its X window exists.
for _ in $(seq 300); do
    xdotool search --name 'Wine desktop' >/dev/null 2>&1 && break
    sleep 0.1
done

# Screenshot service for the program under test.
export VIGREL_SNAPSHOT_DIR=$artifacts
vigrel_snapshot_server "$artifacts"
spid=$VIGREL_SNAPSHOT_PID

timeout --kill-after=10 "$bound" "$@"
status=$?
tag=$(basename "${exe:-$1}" .exe)
import -window root "$artifacts/$tag-final.png" >/dev/null 2>&1 || true
exit $status
