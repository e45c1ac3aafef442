#!/usr/bin/env bash
# The end-to-end scenario's session: run inside tools/with-xvfb.sh with VIGREL_WINEPREFIX set to
# the scenario's own prefix.
#
#   tools/e2e.sh BUILD_DIR SCENARIO.exe [args...]
#
# Puts every program of the prefix on one Wine desktop with a task bar (the service process
# inherits its desktop from the prefix's service manager, so a per-program setting would not
# reach it), starts a real SMTP server on loopback, answers the scenario's screenshot requests,
# runs the scenario and finally reads the received mail with Python's email package.
set -uo pipefail

build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-desktop.sh"
winerun=$build/wine-run
artifacts=$build/artifacts
sink=$build/e2e-mail
mkdir -p "$artifacts"

# The authority of the webhook receiver's certificate, trusted by this prefix before its desktop
# comes up (the desktop must be the first window of the session).
certs=$build/e2e-certs
hooks=$build/e2e-webhooks
sh "$here/../tests/fixtures/make_test_certs.sh" "$certs" >/dev/null || exit 1
"$winerun" "$build/tests/net/trustroot.exe" "Z:$certs/ca.pem" >"$build/e2e-trustroot.log" 2>&1 \
    </dev/null || { cat "$build/e2e-trustroot.log"; exit 1; }

vigrel_shared_desktop "$winerun" "$VIGREL_WINEPREFIX"

sh "$here/../tests/fixtures/smtp_sink_ctl.sh" start "$sink" || exit 1
# A webhook receiver over TLS.
sh "$here/../tests/fixtures/peer_ctl.sh" start "$hooks" ports "$here/../tests/fixtures/tls_peer.py" \
    "$certs" || exit 1
spid=
cleanup() {
    [ -n "$spid" ] && kill "$spid" 2>/dev/null
    sh "$here/../tests/fixtures/peer_ctl.sh" stop "$hooks"
    sh "$here/../tests/fixtures/smtp_sink_ctl.sh" stop "$sink"
}
trap cleanup EXIT

export VIGREL_SNAPSHOT_DIR=$artifacts
vigrel_snapshot_server "$artifacts"
spid=$VIGREL_SNAPSHOT_PID

VIGREL_SINK_DIR=$sink VIGREL_TLS_PEER_DIR=$hooks "$winerun" "$@"
status=$?
/usr/bin/python3 "$here/../tests/e2e/e2e_mail_check.py" "$sink" || status=1
exit $status
