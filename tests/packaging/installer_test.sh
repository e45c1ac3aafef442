#!/usr/bin/env bash
# The setup program under Wine, silent, into a folder whose path holds a blank: install,
# reinstall over a stopped and over a running service, uninstall keeping the user's settings
# and logs, then install again and uninstall with /PURGE. The companion: registered to start at
# logon, started, replaced on reinstall, ended and unregistered by the uninstaller.
#   installer_test.sh <wine-run> <setup.exe> <shipped sample Vigrel.INI>
# Runs in the prefix named by VIGREL_WINEPREFIX, under a display (the service opens windows).
# Whatever happens, the service is removed at the end: Wine would start a registered
# auto-start service whenever the prefix comes up again.
set -uo pipefail

wine_run=$1
setup=$2
sample_ini=$3
prefix=${VIGREL_WINEPREFIX:?VIGREL_WINEPREFIX names the prefix}

folder_win='C:\Program Files\Vigrel Test'
folder="$prefix/drive_c/Program Files/Vigrel Test"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vigrel'

source "$(dirname "$0")/checks.sh"

# NSIS takes /D= only last and unquoted, and Wine would quote an argument holding blanks, so
# the command line goes through a batch file, which runs it as written and waits for it.
setup_win="Z:$(realpath "$setup" | tr / '\\')"
install() {
    local bat="$prefix/drive_c/vigrel-install.bat"
    printf '@"%s" /S %s /D=%s\r\n@exit %%ERRORLEVEL%%\r\n' "$setup_win" "$*" "$folder_win" >"$bat"
    run cmd /c 'C:\vigrel-install.bat' >/dev/null 2>&1
}

# The uninstaller runs from a copy of itself and returns at once; its own file goes last.
uninstall() {
    run "$folder_win\\uninstall.exe" /S "$@" >/dev/null 2>&1
    wait_until 120 absent uninstall.exe
}

cleanup() {
    remove_service_and_companions
    run reg delete "$uninstall_key" /f >/dev/null 2>&1
    rm -rf "$folder" "$prefix/drive_c/vigrel-install.bat"
}
trap cleanup EXIT

echo "== the settings file's rights"
# Wine's icacls changes nothing, so the setup's script is what is checked.
check "the setup gives the settings file to SYSTEM and Administrators only" grep -qF \
    'icacls.exe" "$INSTDIR\Vigrel.INI" /inheritance:r /grant:r *S-1-5-18:F *S-1-5-32-544:F' \
    "$(dirname "$0")/../../packaging/vigrel.nsi"

echo "== leftovers of an earlier run"
cleanup

echo "== fresh silent install"
check "setup ends with exit code 0" install
for f in Vigrel.exe Vigrelrun.exe Vigreltray.exe Vigrel.INI README.md fleet/prometheus-rules.yml policy/vigrel.admx policy/en-US/vigrel.adml uninstall.exe; do
    check "$f installed" present "$f"
done
check "companion starts at every logon" starts_at_logon
check "companion started for the installing user" wait_until 30 companion_running
check "the sample settings file is the shipped one" cmp -s "$folder/Vigrel.INI" "$sample_ini"
check "service registered" registered
check "image path quoted" image_path_quoted
check "automatic start" auto_start
check "event source with the program's message table" event_source
check "not started without /START" stopped
check "listed among installed programs" listed

echo "== reinstall with /START over the stopped service, settings of the user in place"
test_ini
# Yesterday's log: within the days kept, so only the uninstaller could take it.
old_log="log$(date -d yesterday +%Y%m%d).log"
echo "12:00 a -> Application Started" >"$folder/$old_log"
check "setup ends with exit code 0" install /START
check "service running" wait_until 60 running
check "user's settings kept" has_line '; settings of the installer test'

echo "== reinstall with /START over the running service"
check "setup ends with exit code 0" install /START
check "service registered" registered
check "service running" wait_until 60 running
check "user's settings kept" has_line '; settings of the installer test'
check "the running companion replaced, not doubled" wait_until 30 one_companion

echo "== silent uninstall"
check "uninstaller finishes" uninstall
check "service removed" wait_until 30 not_registered
check "event source removed" no_event_source
for f in Vigrel.exe Vigrelrun.exe Vigreltray.exe README.md fleet policy uninstall.exe; do
    check "$f removed" absent "$f"
done
check "companion ended" wait_until 30 no_companion
check "companion no longer starts at logon" no_run_value
check "settings file left" has_line '; settings of the installer test'
check "log file left" present "$old_log"
check "no longer listed" not_listed

echo "== install again, uninstall with /PURGE"
check "setup ends with exit code 0" install
check "service registered" registered
check "user's settings kept" has_line '; settings of the installer test'
check "uninstaller finishes" uninstall /PURGE
check "service removed" wait_until 30 not_registered
check "folder removed with settings and logs" wait_until 30 gone

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
