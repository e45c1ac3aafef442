#!/usr/bin/env bash
# The Windows Installer package under Wine's msiexec, silent: install with the service started
# by the package's service tables, upgrade to a newer package while the service runs, then
# remove, keeping the user's settings and logs. The companion: registered to start at logon,
# started, ended on removal. The first settings given as properties: written into a new
# settings file, never into one that was there.
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

msiexec() {
    local mode=$1 package=$2
    shift 2
    run msiexec "$mode" "Z:$(realpath "$package" | tr / '\\')" /qn "$@"
}
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
    rm -f "$prefix/drive_c/vigrel sites.txt"
}
trap cleanup EXIT

echo "== leftovers of an earlier run"
cleanup

echo "== the settings file's rights"
# Wine's icacls changes nothing, so the package's own record is what is checked.
# grep reads to the end (no -q): one that quits early breaks the pipe, and pipefail fails it.
locks_settings() {
    msiinfo export "$package" CustomAction | grep -F 'LockSettings' |
        grep -F '"[INSTALLFOLDER]Vigrel.INI" /inheritance:r /grant:r *S-1-5-18:F *S-1-5-32-544:F' >/dev/null &&
        msiinfo export "$package" InstallExecuteSequence | grep -P '^LockSettings\tNOT REMOVE~="ALL"\t4001' >/dev/null
}
check "the package gives the settings file to SYSTEM and Administrators only" locks_settings

# The first settings, as a deployment tool gives them. Loopback only: the service starts with
# them. A folder's trailing backslash ends up before the closing quote of the program's
# argument (left unquoted here, as Wine would escape it on the way into msiexec).
sites_file="$prefix/drive_c/vigrel sites.txt"
printf '%s\r\n' 'http://127.0.0.1:9/a' '; not a site' '' '  http://127.0.0.1:9/b=slow=2000  ' \
    >"$sites_file"
first_settings=(BENCHMARK=127.0.0.1:9/ping 'TEXTFILEDIR=C:\metrics\' 'SITESFILE=C:\vigrel sites.txt'
    MAILSERVER=127.0.0.1 MAILPORT=2525 MAILFROM=vigrel@example.com MAILTO=ops@example.com)

echo "== silent install over the user's settings file"
# Placed first, it must survive (never overwritten, not even by the first settings given) and
# keeps the started service on loopback.
mkdir -p "$folder"
test_ini
cp "$folder/Vigrel.INI" "$folder/../user-settings.INI"
check "msiexec /i /qn with first settings ends with exit code 0" msiexec /i "$package" "${first_settings[@]}"
check "user's settings file byte for byte as it was" cmp "$folder/../user-settings.INI" "$folder/Vigrel.INI"
rm -f "$folder/../user-settings.INI"
for f in Vigrel.exe Vigrelrun.exe Vigreltray.exe README.md fleet/query.xml policy/en-US/vigrel.adml; do
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
for f in Vigrel.exe Vigrelrun.exe Vigreltray.exe README.md fleet/query.xml policy/en-US/vigrel.adml; do
    check "$f removed" absent "$f"
done
check "companion ended" wait_until 30 no_companion
check "companion no longer starts at logon" no_run_value
check "event source removed" no_event_source
check "settings file left" has_line '; settings of the installer test'
check "log file left" present "$old_log"
check "no longer listed" not_listed_as "$newer_product"

echo "== first installation with first settings"
rm -rf "$folder"
fails() { ! "$@"; }
check "a list of sites that cannot be read fails the installation" \
    fails msiexec /i "$package" 'SITESFILE=C:\no such list.txt'
check "and leaves no service" not_registered
check "nor a product" not_listed_as "$product"
rm -rf "$folder"
check "msiexec /i /qn with first settings ends with exit code 0" msiexec /i "$package" "${first_settings[@]}"
check "benchmark given" has_line 'Benchmark=127.0.0.1:9/ping'
check "metrics folder given" has_line 'TextfileDir=C:\metrics\'
check "mail server given" has_line 'Server=127.0.0.1'
check "mail port given" has_line 'Port=2525'
check "mail sender given" has_line 'From=vigrel@example.com'
check "mail recipient given" has_line 'To=ops@example.com'
check "mail switched on" has_line 'Active=1'
check "first site from the list" has_line 'http://127.0.0.1:9/a='
check "second site with its checks" has_line 'http://127.0.0.1:9/b=slow=2000'
check "the sample's comments kept" has_line '; Vigrel settings. This file lies beside Vigrel.exe and carries its name.'
check "only the sites of the list" test "$(tr -d '\r' <"$folder/Vigrel.INI" | sed -n '/^\[URLS\]/,$p' | grep -c '^http')" = 2
check "service running" wait_until 60 running
check "msiexec /x /qn ends with exit code 0" msiexec /x "$package"
check "service removed" wait_until 30 not_registered

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
