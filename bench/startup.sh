#!/usr/bin/env bash
# Start-up: installs the service into a private Wine prefix (on a private X display) with
# TimeSpan 0, so that no cycle runs at start, and lets bench/startup_driver.cpp time RUNS
# starts: from launching Vigrelrun.exe until the service manager reports the service running,
# and until Vigrelrun.exe ends; the service is stopped between runs.
#   bench/startup.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ "${1:-}" != "--inside" ]; then
    export VIGREL_WINEPREFIX="${VIGREL_WINEPREFIX:-$root/build/win/wineprefix-bench}"
    exec tools/with-xvfb.sh bash "$0" --inside "${1:-10}"
fi
runs=$2
wine_run="$root/build/win/wine-run"
prefix="$VIGREL_WINEPREFIX"
folder_win='C:\Vigrel startup'
folder="$prefix/drive_c/Vigrel startup"
cleanup() {
    "$wine_run" "$folder_win\\Vigrelrun.exe" stop >/dev/null 2>&1 || true
    "$wine_run" "$folder_win\\Vigrel.exe" /UNINSTALL /SILENT >/dev/null 2>&1 || true
}
trap cleanup EXIT

"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || true
mkdir -p "$folder"
cp build/win/app/Vigrel.exe build/win/starter/Vigrelrun.exe build/win/bench/startup_driver.exe \
    "$folder/"
rm -f "$folder"/log*.log
# Loopback only; with TimeSpan 0 nothing is fetched at start anyway.
printf '[General]\r\nBenchmark=127.0.0.1:9/ok\r\nStartOnStartup=0\r\nTimeSpan=0\r\nTimeOut=500\r\n[SMTP]\r\nActive=0\r\n[URLS]\r\nhttp://127.0.0.1:9/ok=\r\n' \
    >"$folder/Vigrel.INI"
if "$wine_run" reg query 'HKLM\System\CurrentControlSet\Services\Vigrel' >/dev/null 2>&1; then
    "$wine_run" 'C:\Vigrel bench\Vigrelrun.exe' stop >/dev/null 2>&1 || true
    "$wine_run" "$folder_win\\Vigrelrun.exe" stop >/dev/null 2>&1 || true
    "$wine_run" "$folder_win\\Vigrel.exe" /UNINSTALL /SILENT || true
fi
"$wine_run" "$folder_win\\Vigrel.exe" /INSTALL /SILENT
"$wine_run" "$folder_win\\startup_driver.exe" "$folder_win\\Vigrelrun.exe" "$runs" | tr -d '\r'
echo "cycles run at start: $(cat "$folder"/log*.log 2>/dev/null | grep -c -e 'OK --- ' -e 'Failed --- ' || true) (expected 0)"
