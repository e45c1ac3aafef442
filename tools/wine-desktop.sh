# Shell functions for scripts that run Vigrel's programs on a Wine desktop with a task bar.
# Source this file; it changes nothing by itself.

# vigrel_shared_desktop WINE_RUN PREFIX
# Puts every program of the prefix on one Wine desktop named "shell" with a task bar, so that
# the notification area exists. The service inherits its desktop from the service manager, so
# a per-program setting would not reach it: the setting holds for the whole prefix, and a
# session begun on another desktop is restarted. Then brings the desktop up and waits (60 s at
# most) for its window.
vigrel_shared_desktop() {
    local wine_run=$1 prefix=$2 desktop
    desktop=$(timeout 120 "$wine_run" reg query 'HKCU\Software\Wine\Explorer' /v Desktop \
        2>/dev/null | tr -d '\r' | awk '$1 == "Desktop" { print $3 }' || true)
    if [ "$desktop" != shell ]; then
        timeout 60 "$wine_run" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f \
            >/dev/null 2>&1 || true
        timeout 60 "$wine_run" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell \
            /d 1024x768 /f >/dev/null 2>&1 || true
        WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX="$prefix" wineserver -w >/dev/null 2>&1 || true
    fi
    "$wine_run" explorer /desktop=shell,1024x768 >/dev/null 2>&1 &
    for _ in $(seq 600); do
        xdotool search --name 'Wine desktop' >/dev/null 2>&1 && break
        sleep 0.1
    done
}

# vigrel_snapshot_server DIR
# Answers screenshot requests in the background until killed: a program that creates
# DIR/<name>.req gets DIR/<name>.png, and the request file is removed when the picture is
# complete. Leaves the server's process id in VIGREL_SNAPSHOT_PID.
vigrel_snapshot_server() {
    local dir=$1
    (
        while :; do
            for req in "$dir"/*.req; do
                [ -e "$req" ] || continue
                name=${req%.req}
                import -window root "$name.png.tmp.png" >/dev/null 2>&1 &&
                    mv -f "$name.png.tmp.png" "$name.png"
                rm -f "$req"
            done
            sleep 0.1
        done
    ) &
    VIGREL_SNAPSHOT_PID=$!
}
