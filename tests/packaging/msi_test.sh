#!/usr/bin/env bash
# The Windows Installer package under Wine's msiexec, silent: install with the service started
# by the package's service tables, upgrade to a newer package while the service runs, then
# remove, keeping the user's settings and logs. The companion: registered to start at logon,
# started, ended on removal.
#   msi_test.sh <wine-run> <package> <product code> <newer package> <its product code>
# Runs in the prefix named by VIGREL_WINEPREFIX, under a display (the service opens windows).
set -uo pipefail

wine_run=$1
package=$2
product=$3
newer=$4
newer_product=$5
prefix=${VIGREL_WINEPREFIX:?VIGREL_WINEPREFIX names the prefix}

folder_win='C:\Program Files\Vigrel'
folder="$prefix/drive_c/Program Files/Vigrel"
products='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
uninstall_key="$products\\{$product}"

source "$(dirname "$0")/checks.sh"

msiexec() { run msiexec "$1" "Z:$(realpath "$2" | tr / '\\')" /qn; }
version_listed() {
    run reg query "$products\\{$1}" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q "$2\$"
}
not_listed_as() { ! run reg query "$products\\{$1}" >/dev/null 2>&1; }
image_path() { echo "     $(service_value ImagePath)"; }
# Host process ids of this prefix's programs, to tell a restarted program from the old one.
pids_of() {
    local pid
    for pid in $(pgrep -f "$1"); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && echo "$pid"
    done
}
replaced() { [ -n "$(pids_of "$1")" ] && ! grep -qxF -f <(pids_of "$1") <<<"$2"; }

cleanup() {
    run msiexec /x "{$product}" /qn >/dev/null 2>&1
    run msiexec /x "{$newer_product}" /qn >/dev/null 2>&1
    remove_service_and_companions
    run reg delete "$products\\{$product}" /f >/dev/null 2>&1
    run reg delete "$products\\{$newer_product}" /f >/dev/null 2>&1
    rm -rf "$folder"
}
trap cleanup EXIT

echo "== leftovers of an earlier run"
cleanup

echo "== the settings file's rights"
# Wine's icacls changes nothing, so the package's own record is what is checked.
locks_settings() {
    msiinfo export "$package" CustomAction | grep -F 'LockSettings' |
        grep -qF '"[INSTALLFOLDER]Vigrel.INI" /inheritance:r /grant:r *S-1-5-18:F *S-1-5-32-544:F' &&
        msiinfo export "$package" InstallExecuteSequence | grep -qP '^LockSettings\tNOT REMOVE~="ALL"\t4001'
}
check "the package gives the settings file to SYSTEM and Administrators only" locks_settings

echo "== silent install over the user's settings file"
# Placed first, it must survive (never overwritten) and keeps the started service on loopback.
mkdir -p "$folder"
test_ini
check "msiexec /i /qn ends with exit code 0" msiexec /i "$package"
for f in Vigrel.exe Vigrelrun.exe Vigreltray.exe README.md; do
    check "$f installed" present "$f"
done
check "user's settings kept" has_line '; settings of the installer test'
check "service registered" registered
image_path
check "automatic start" auto_start
check "service started by the package" wait_until 60 running
check "companion starts at every logon" starts_at_logon
check "event source with the program's message table" event_source
check "companion started for the installing user" wait_until 30 companion_running
check "listed with its version" version_listed "$product" "$(basename "$package" | cut -d- -f2)"

echo "== silent upgrade to the newer package while the service runs"
old_log="log$(date -d yesterday +%Y%m%d).log"
echo "12:00 a -> Application Started" >"$folder/$old_log"
old_service=$(pids_of 'Vigrel\.exe')
old_companion=$(pids_of 'Vigreltray\.exe')
check "msiexec /i /qn ends with exit code 0" msiexec /i "$newer"
check "service registered" registered
check "service running" wait_until 60 running
check "service restarted from the new files" replaced 'Vigrel\.exe' "$old_service"
check "companion ended and started again" wait_until 30 replaced 'Vigreltray\.exe' "$old_companion"
check "older version no longer listed" not_listed_as "$product"
check "newer version listed" version_listed "$newer_product" "$(basename "$newer" | cut -d- -f2)"
check "user's settings kept" has_line '; settings of the installer test'
check "log file kept" present "$old_log"
check "one companion" wait_until 30 one_companion

echo "== silent removal"
check "msiexec /x /qn ends with exit code 0" msiexec /x "$newer"
check "service removed" wait_until 30 not_registered
for f in Vigrel.exe Vigrelrun.exe Vigreltray.exe README.md; do
    check "$f removed" absent "$f"
done
check "companion ended" wait_until 30 no_companion
check "companion no longer starts at logon" no_run_value
check "event source removed" no_event_source
check "settings file left" has_line '; settings of the installer test'
check "log file left" present "$old_log"
check "no longer listed" not_listed_as "$newer_product"

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
