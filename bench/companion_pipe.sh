#!/usr/bin/env bash
# The control pipe: installs the service into a private Wine prefix (on a private X display)
# with TimeSpan 0 and three loopback URLs that answer 200, then lets
# bench/companion_pipe_driver.cpp run CYCLES "Check Now" cycles in each of three phases (no
# other client, IDLE idle subscribers, none again), timing the status push from the end of each
# cycle to PipeMonitorLink's OnStatus, and the service's memory. Builds nothing: uses build/win.
# IDLE idle subscribers (default 14: with the link and the timing subscriber, the 16 clients the
# service serves at most).
#   bench/companion_pipe.sh [CYCLES] [IDLE]
# With "hostile" instead, the same installation faces a flooding client and one that never
# reads, then abandoned checklists of 100 silent addresses (ROUNDS timed exchanges, default 20):
#   bench/companion_pipe.sh hostile [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ "${1:-}" != "--inside" ]; then
    export VIGREL_WINEPREFIX="${VIGREL_WINEPREFIX:-$root/build/win/wineprefix-bench}"
    if [ "${1:-}" = hostile ]; then
        exec tools/with-xvfb.sh bash "$0" --inside hostile "${2:-20}"
    fi
    exec tools/with-xvfb.sh bash "$0" --inside "${1:-100}" "${2:-14}"
fi
cycles=$2
idle=$3
wine_run="$root/build/win/wine-run"
prefix="$VIGREL_WINEPREFIX"
folder_win='C:\Vigrel pipe'
folder="$prefix/drive_c/Vigrel pipe"
work=$(mktemp -d)
python3 bench/loopback_sites.py "$work/web.port" &
web=$!
cleanup() {
    "$wine_run" "$folder_win\\Vigrelrun.exe" stop >/dev/null 2>&1 || true
    "$wine_run" "$folder_win\\Vigrel.exe" /UNINSTALL /SILENT >/dev/null 2>&1 || true
    kill "$web" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do [ -f "$work/web.port" ] && break; sleep 0.1; done
port=$(cat "$work/web.port")

"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || true
mkdir -p "$folder"
cp build/win/app/Vigrel.exe build/win/starter/Vigrelrun.exe \
    build/win/bench/companion_pipe_driver.exe "$folder/"
rm -f "$folder"/log*.log
printf '[General]\r\nBenchmark=127.0.0.1:%s/ok\r\nStartOnStartup=0\r\nTimeSpan=0\r\nTimeOut=2000\r\n[Log]\r\nFilter=0\r\n[SMTP]\r\nActive=0\r\n[URLS]\r\nhttp://127.0.0.1:%s/ok2=\r\nhttp://127.0.0.1:%s/ok3=\r\nhttp://127.0.0.1:%s/ok4=\r\n' \
    "$port" "$port" "$port" "$port" >"$folder/Vigrel.INI"
if "$wine_run" reg query 'HKLM\System\CurrentControlSet\Services\Vigrel' >/dev/null 2>&1; then
    for other in 'C:\Vigrel bench' 'C:\Vigrel startup' "$folder_win"; do
        "$wine_run" "$other\\Vigrelrun.exe" stop >/dev/null 2>&1 || true
    done
    "$wine_run" "$folder_win\\Vigrel.exe" /UNINSTALL /SILENT || true
fi
"$wine_run" "$folder_win\\Vigrel.exe" /INSTALL /SILENT
if [ "$cycles" = hostile ]; then
    "$wine_run" "$folder_win\\companion_pipe_driver.exe" hostile "http://127.0.0.1:$port/silent" \
        "$idle" "$folder_win\\Vigrelrun.exe" | tr -d '\r'
    exit 0
fi
"$wine_run" "$folder_win\\companion_pipe_driver.exe" "$folder_win" "$cycles" 3 "$idle" \
    "$folder_win\\Vigrelrun.exe" | tr -d '\r'
