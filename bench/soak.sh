#!/usr/bin/env bash
# Soak: installs the service into a private Wine prefix (on a private X display), starts it
# with Vigrelrun.exe and drives CYCLES check cycles (default 2000) one after another with
# "Check Now", over one URL that answers 200, one that answers 404 and one that never
# answers, with the alert mail on. Prints the samples of the driver (Windows view: handles,
# threads, private bytes, working set) and of /proc for the Wine process (threads, resident
# memory, open descriptors), then the counts of log lines and of mails received.
#   bench/soak.sh [CYCLES] [TIMEOUT_MS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. tools/wine-desktop.sh
if [ "${1:-}" != "--inside" ]; then
    export VIGREL_WINEPREFIX="${VIGREL_WINEPREFIX:-$root/build/win/wineprefix-bench}"
    exec tools/with-xvfb.sh bash "$0" --inside "${1:-2000}" "${2:-200}"
fi
cycles=$2
timeout=$3
wine_run="$root/build/win/wine-run"
prefix="$VIGREL_WINEPREFIX"
work=$(mktemp -d)
echo "work folder: $work (driver.txt, proc.txt, mail/)"
folder_win='C:\Vigrel bench'
python3 bench/loopback_sites.py "$work/web.port" &
web=$!
sh tests/fixtures/smtp_sink_ctl.sh start "$work/mail"
sampler=
cleanup() {
    [ -n "$sampler" ] && kill "$sampler" 2>/dev/null
    "$wine_run" "$folder_win\\Vigrelrun.exe" stop >/dev/null 2>&1 || true
    "$wine_run" "$folder_win\\Vigrel.exe" /UNINSTALL /SILENT >/dev/null 2>&1 || true
    kill "$web" 2>/dev/null || true
    sh tests/fixtures/smtp_sink_ctl.sh stop "$work/mail" >/dev/null 2>&1 || true
}
trap cleanup EXIT
for _ in $(seq 100); do [ -f "$work/web.port" ] && break; sleep 0.1; done
port=$(cat "$work/web.port")
smtp=$(cat "$work/mail/port")

"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || true
# Every program of the prefix, the service and the driver included, on one named Wine desktop:
# on the default desktop, a program started from the shell does not see the windows of the
# service, which the service manager starts (the driver's FindWindowA found nothing).
vigrel_shared_desktop "$wine_run" "$prefix"
folder="$prefix/drive_c/Vigrel bench"
mkdir -p "$folder"
cp build/win/app/Vigrel.exe build/win/starter/Vigrelrun.exe "$folder/"
rm -f "$folder"/log*.log
# TimeSpan 0: no scheduled cycle, no first cycle; only the driver's "Check Now" runs cycles.
printf '[General]\r\nBenchmark=127.0.0.1:%s/ok\r\nStartOnStartup=0\r\nTimeSpan=0\r\nTimeOut=%s\r\n[Log]\r\nFilter=0\r\n[SMTP]\r\nTo=ops@localhost\r\nFrom=vigrel@localhost\r\nActive=1\r\nServer=127.0.0.1\r\nPort=%s\r\nUserID=bench\r\n[URLS]\r\nhttp://127.0.0.1:%s/ok2=\r\nhttp://127.0.0.1:%s/notfound=\r\nhttp://127.0.0.1:%s/silent=\r\n' \
    "$port" "$timeout" "$smtp" "$port" "$port" "$port" >"$folder/Vigrel.INI"
if "$wine_run" reg query 'HKLM\System\CurrentControlSet\Services\Vigrel' >/dev/null 2>&1; then
    "$wine_run" "$folder_win\\Vigrelrun.exe" stop || true
    "$wine_run" "$folder_win\\Vigrel.exe" /UNINSTALL /SILENT || true
fi
"$wine_run" "$folder_win\\Vigrel.exe" /INSTALL /SILENT
cp build/win/bench/soak_driver.exe "$folder/"
# The driver starts the service itself (Vigrelrun.exe as its own child, as the service test
# does): with Vigrelrun.exe started from the shell, the driver did not find the form.
echo "driver: cycle seconds handles threads private_bytes working_set"
"$wine_run" "$folder_win\\soak_driver.exe" "$folder_win" "$cycles" 3 "$folder_win\\Vigrelrun.exe" |
    tr -d '\r' >"$work/driver.txt" &
driver=$!

# The Wine process of the service: its command line names Vigrel.exe, its prefix is ours.
pid=
for _ in $(seq 600); do
    for p in /proc/[0-9]*; do
        [ -r "$p/cmdline" ] || continue
        tr '\0' ' ' <"$p/cmdline" 2>/dev/null | grep -q 'Vigrel.exe' || continue
        tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" || continue
        pid=${p#/proc/}
    done
    [ -n "$pid" ] && break
    sleep 0.1
done
if [ -z "$pid" ]; then
    echo "the service's process did not appear" >&2
    kill "$driver" 2>/dev/null || true
    exit 1
fi
echo "service: Unix pid $pid"
(
    start=$(date +%s.%N)
    while [ -d "/proc/$pid" ]; do
        t=$(python3 -c "import time; print('%.0f' % (time.time() - $start))")
        th=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
        rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
        fds=$(ls "/proc/$pid/fd" | wc -l)
        echo "$t $th $rss $fds"
        sleep 10
    done
) >"$work/proc.txt" &
sampler=$!

wait "$driver" || echo "driver failed"
cat "$work/driver.txt"
# The last mail may still be on its way.
for _ in $(seq 300); do
    [ "$(ls "$work/mail"/*.eml 2>/dev/null | wc -l)" -ge "$cycles" ] && break
    sleep 0.1
done
kill "$sampler" 2>/dev/null || true
sampler=
echo "proc: seconds threads rss_kib fds"
cat "$work/proc.txt"
echo "log lines: OK $(grep -c 'OK --- ' "$folder"/log*.log | awk -F: '{s+=$NF} END {print s}')," \
    "Failed $(grep -c 'Failed --- ' "$folder"/log*.log | awk -F: '{s+=$NF} END {print s}')" \
    "(expected $cycles and $((2 * cycles)))"
echo "cycles skipped (benchmark not reached): $(cat "$folder"/log*.log | grep -c 'Benchmark site not reached' || true)"
echo "mails received: $(ls "$work/mail"/*.eml 2>/dev/null | wc -l) (expected $cycles)"
