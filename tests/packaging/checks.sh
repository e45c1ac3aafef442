# Checks shared by the installer tests under Wine; sourced after these are set:
#   wine_run (the runner), prefix (its WINEPREFIX), folder and folder_win (the installation
#   folder as a Unix and as a Windows path), uninstall_key (the installed-programs entry).
service_key='HKLM\System\CurrentControlSet\Services\Vigrel'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
eventlog_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\Vigrel'

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        failures=$((failures + 1))
    fi
}

# Every Wine call is bounded, so that a program that hangs fails the test instead of holding it.
run() { timeout 120 "$wine_run" "$@" </dev/null; }

# Polls until the command succeeds, at most the given number of seconds.
wait_until() {
    local bound=$1
    shift
    local end=$((SECONDS + bound))
    until "$@"; do
        ((SECONDS >= end)) && return 1
        sleep 0.2
    done
}

registered() { run reg query "$service_key" >/dev/null 2>&1; }
not_registered() { ! registered; }
state() { run sc query Vigrel 2>/dev/null | tr -d '\r' | awk '/STATE/ { print $4 }'; }
running() { [ "$(state)" = RUNNING ]; }
stopped() { [ "$(state)" = STOPPED ]; }
stopped_or_gone() { [ "$(state)" != RUNNING ] && [ "$(state)" != STOP_PENDING ]; }
service_value() { run reg query "$service_key" /v "$1" 2>/dev/null | tr -d '\r' | grep -F "$1"; }
image_path_quoted() {
    local value
    value=$(service_value ImagePath)
    echo "     $value"
    grep -qF "\"$folder_win\\Vigrel.exe\"" <<<"$value"
}
auto_start() { service_value Start | grep -q '0x2$'; }
listed() { run reg query "$uninstall_key" >/dev/null 2>&1; }
not_listed() { ! listed; }
absent() { [ ! -e "$folder/$1" ]; }
present() { [ -e "$folder/$1" ]; }
gone() { [ ! -e "$folder" ]; }
run_value() { run reg query "$run_key" /v Vigreltray 2>/dev/null | tr -d '\r' | grep -F Vigreltray; }
event_source() {
    local value
    value=$(run reg query "$eventlog_key" /v EventMessageFile 2>/dev/null | tr -d '\r' |
        grep -F EventMessageFile)
    echo "     $value"
    grep -qF "$folder_win\Vigrel.exe" <<<"$value"
}
no_event_source() { ! run reg query "$eventlog_key" >/dev/null 2>&1; }
starts_at_logon() {
    local value
    value=$(run_value)
    echo "     $value"
    grep -qF "\"$folder_win\\Vigreltray.exe\"" <<<"$value"
}
no_run_value() { [ -z "$(run_value)" ]; }
# Wine's tasklist lists nothing: count the companions of this prefix among the host's processes.
companion_count() {
    local pid n=0
    for pid in $(pgrep -f 'Vigreltray\.exe'); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" &&
            n=$((n + 1))
    done
    echo "$n"
}
companion_running() { [ "$(companion_count)" -ge 1 ]; }
one_companion() { [ "$(companion_count)" -eq 1 ]; }
no_companion() { [ "$(companion_count)" -eq 0 ]; }
# grep reads the whole file (no -q): quitting at the first match would break tr's pipe, which
# fails the line under pipefail now and then.
has_line() { tr -d '\r' <"$folder/Vigrel.INI" | grep -xF "$1" >/dev/null; }

# Ends the companions and stops and removes the service, whatever installed them: Wine would
# start a registered auto-start service whenever the prefix comes up again.
remove_service_and_companions() {
    run taskkill /IM Vigreltray.exe /F >/dev/null 2>&1
    if registered; then
        run sc stop Vigrel >/dev/null 2>&1
        wait_until 60 stopped_or_gone
        run sc delete Vigrel >/dev/null 2>&1
        wait_until 30 not_registered || echo "cleanup: the service is still registered"
    fi
}

# Loopback only and no scheduled cycle: the service must not reach out when it starts.
test_ini() {
    printf '%s\r\n' '; settings of the installer test' '[General]' 'Benchmark=127.0.0.1:9/' \
        'StartOnStartup=1' 'TimeSpan=0' 'TimeOut=500' '[Log]' 'Filter=0' >"$folder/Vigrel.INI"
}
