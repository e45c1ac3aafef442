#!/usr/bin/env bash
# Sets everything up, builds the Windows programs and runs the monitor on a built-in demo
# configuration served on loopback, so that it works without any network:
# installs the service into a private Wine prefix (in a folder with a blank in its path),
# starts it through Vigrelrun.exe, shows what it logged, what its icon in the notification area
# shows (with a picture of the screen in build/win/artifacts/demo-tray.png) and the alert mail,
# then stops and uninstalls it. On a display of your own the Wine desktop window shows the
# monitor running until you press Enter.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. tools/wine-desktop.sh

if [ "${1:-}" != "--inside" ]; then
    bash tools/setup.sh
    cmake --preset win >/dev/null
    # The programs and the two helpers the demo runs (its own trusted authority, the view of the
    # tray), not the tests and benchmarks.
    cmake --build --preset win --target Vigrel Vigrelrun Vigreltray trustroot trayview
    # The monitor's windows need a display: the user's own when there is one (the Wine desktop
    # with the tray then shows up on it), else a private Xvfb. The prefix's session lives and
    # ends with the demo.
    export VIGREL_WINEPREFIX="$root/build/win/wineprefix-demo"
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        status=0
        bash "$0" --inside on-screen || status=$?
        WINEPREFIX="$VIGREL_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
        exit $status
    fi
    exec tools/with-xvfb.sh bash "$0" --inside
fi

# The build tree of the win preset (a test of the demo names its own).
build="${VIGREL_BUILD:-$root/build/win}"
wine_run="$build/wine-run"
# On the user's own display the demo waits for Enter before it stops the monitor.
interactive=0
[ "${2:-}" = on-screen ] && interactive=1
prefix="$VIGREL_WINEPREFIX"
site="$build/demo-site"
folder_win='C:\Program Files\Vigrel'

step() { printf '\n== %s\n' "$*"; }
# What did not work as it should; the demo ends with exit code 1 when anything did not.
problems=()

# A tiny web site on loopback: "/" answers 200, "/gone" answers 404.
mkdir -p "$site"
echo '<html><body>Vigrel demo</body></html>' >"$site/index.html"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site" >/dev/null 2>&1 &
server=$!
# A real SMTP server on loopback receives the alert mail, over STARTTLS and with a login, as a
# mail provider would: its certificate comes from an authority made for this demo, trusted in
# the demo's prefix only.
mail="$build/demo-mail"
certs="$build/demo-certs"
sh tests/fixtures/make_test_certs.sh "$certs"
viewer=
snapshots=
quit="$build/demo-quit"
rm -f "$quit"
cleanup() {
    touch "$quit"
    [ -n "$viewer" ] && { timeout 20 tail --pid="$viewer" -f /dev/null || kill "$viewer"; }
    kill "$server" $snapshots 2>/dev/null || true
    sh tests/fixtures/smtp_sink_ctl.sh stop "$mail" || true
}
trap cleanup EXIT
sh tests/fixtures/smtp_sink_ctl.sh start "$mail" starttls "$certs"
smtp_port=$(cat "$mail/port")
for _ in $(seq 1 50); do
    python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/')" \
        2>/dev/null && break
    sleep 0.1
done

step "Prefix $prefix (created on first use)"
"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || true
vigrel_shared_desktop "$wine_run" "$prefix"
"$wine_run" "$build/tests/net/trustroot.exe" "Z:$certs/ca.pem" >/dev/null
# The demo's own window program keeps the desktop open (the service alone does not), reads the
# service's icon and has the screen photographed.
artifacts="$build/artifacts"
mkdir -p "$artifacts"
rm -f "$artifacts"/demo-*.png
vigrel_snapshot_server "$artifacts"
snapshots=$VIGREL_SNAPSHOT_PID
VIGREL_SNAPSHOT_DIR="$artifacts" "$wine_run" "$build/tools/trayview.exe" \
    "$folder_win\\Vigrel.exe" "Z:$quit" "$folder_win\\Vigreltray.exe" >"$build/demo-trayview.out" 2>&1 &
viewer=$!
folder="$prefix/drive_c/Program Files/Vigrel"
mkdir -p "$folder"
cp "$build/app/Vigrel.exe" "$build/starter/Vigrelrun.exe" "$build/tray/Vigreltray.exe" "$folder/"
rm -f "$folder"/log*.log
printf '[General]\r\nBenchmark=127.0.0.1:%s/\r\nStartOnStartup=1\r\nTimeSpan=1\r\nTimeOut=3000\r\n[Log]\r\nFilter=0\r\n[SMTP]\r\nTo=admin@localhost\r\nFrom=vigrel@localhost\r\nActive=1\r\nServer=localhost\r\nPort=%s\r\nSecurity=1\r\nUserID=vigrel-test\r\nPass=Pa55-w0rd:test\r\n[URLS]\r\nhttp://127.0.0.1:%s/=\r\nhttp://127.0.0.1:%s/gone=\r\n' \
    "$port" "$smtp_port" "$port" "$port" >"$folder/Vigrel.INI"
echo "Demo settings ($folder_win\\Vigrel.INI):"
sed 's/\r$//; s/^Pass=.*/Pass=(not shown)/; s/^/    /' "$folder/Vigrel.INI"

# A run that was cut short may have left the service registered (and the new session has
# started it): remove it first, since installing twice is an error.
if "$wine_run" reg query 'HKLM\System\CurrentControlSet\Services\Vigrel' >/dev/null 2>&1; then
    "$wine_run" "$folder_win\\Vigrelrun.exe" stop
    "$wine_run" "$folder_win\\Vigrel.exe" /UNINSTALL /SILENT
fi

step "Install: Vigrel.exe /INSTALL /SILENT"
"$wine_run" "$folder_win\\Vigrel.exe" /INSTALL /SILENT
"$wine_run" reg query 'HKLM\System\CurrentControlSet\Services\Vigrel' 2>/dev/null | sed 's/\r$//'

step "Start: Vigrelrun.exe"
"$wine_run" "$folder_win\\Vigrelrun.exe"
"$wine_run" sc query Vigrel 2>/dev/null | sed 's/\r$//' | grep -E 'STATE|WAIT_HINT'

step "Log lines of the first check cycle"
log=""
for _ in $(seq 1 200); do
    log=$(ls "$folder"/log*.log 2>/dev/null | head -1 || true)
    [ -n "$log" ] && grep -q 'Failed ---' "$log" && break
    sleep 0.1
done
[ -n "$log" ] && sed 's/\r$//; s/^/    /' "$log"
[ -n "$log" ] && grep -q 'Failed ---' "$log" || problems+=("no check cycle in the log")

step "Notification area"
for _ in $(seq 1 1200); do
    grep -q 'screenshot: service and companion\|companion.s icon did not' "$build/demo-trayview.out" && break
    kill -0 "$viewer" 2>/dev/null || break
    sleep 0.1
done
tr -d '\r' <"$build/demo-trayview.out"
grep -q '^    icon: sites down' "$build/demo-trayview.out" || problems+=("no icon with the sites down")
grep -q "companion's icon (beside the service's): sites down" "$build/demo-trayview.out" ||
    problems+=("no companion icon with the sites down")
for shot in demo-tray demo-menu demo-companion; do
    if [ -f "$artifacts/$shot.png" ]; then
        echo "    picture of the screen: $artifacts/$shot.png"
    else
        problems+=("no picture $shot.png")
    fi
done

step "Alert mail received by the loopback SMTP server"
for _ in $(seq 1 300); do
    [ -f "$mail/001.eml" ] && break
    sleep 0.1
done
if [ -f "$mail/001.eml" ]; then
    # The server takes mail only after STARTTLS and a login: its login record shows both.
    echo "    delivered over STARTTLS after login: $(tr -d '\r' <"$mail/auth.log" | tr '\n' ' ')"
    grep -q ' ok' "$mail/auth.log" 2>/dev/null || problems+=("no login over STARTTLS")
    sed 's/\r$//; s/^/    /' "$mail/001.env" "$mail/001.eml"
else
    echo "    (no mail arrived)"
    problems+=("no alert mail")
fi

if [ "$interactive" = 1 ] && [ -t 0 ]; then
    printf '\nThe monitor runs on the "Wine desktop" window; press Enter to stop it. '
    read -r _ || true
fi

step "Stop: Vigrelrun.exe stop"
"$wine_run" "$folder_win\\Vigrelrun.exe" stop
"$wine_run" sc query Vigrel 2>/dev/null | sed 's/\r$//' | grep -E 'STATE'

step "Uninstall: Vigrel.exe /UNINSTALL /SILENT"
"$wine_run" "$folder_win\\Vigrel.exe" /UNINSTALL /SILENT
if "$wine_run" reg query 'HKLM\System\CurrentControlSet\Services\Vigrel' >/dev/null 2>&1; then
    echo "still registered"
    exit 1
fi
echo "Service removed."

if ((${#problems[@]})); then
    printf '\nThe demo did not work as it should:\n'
    printf '    %s\n' "${problems[@]}"
    exit 1
fi
