#!/bin/sh
# Delivers COUNT report mails (default 100) over STARTTLS with login to a loopback aiosmtpd
# server with our client under Wine, then as many with Python's smtplib doing the same
# (STARTTLS, login, send), and prints both and the ratio. Makes its own throwaway authority
# and trusts it in the build's Wine prefix, as the TLS tests do. Run from the repository's top
# folder after `cmake --build --preset win`.
set -e
count=${1:-100}
dir=$(mktemp -d)
trap 'sh tests/fixtures/peer_ctl.sh stop "$dir/peer" >/dev/null 2>&1; rm -rf "$dir"' EXIT
sh tests/fixtures/make_test_certs.sh "$dir/certs"
build/win/wine-run build/win/tests/net/trustroot.exe "Z:$dir/certs/ca.pem" >/dev/null
sh tests/fixtures/peer_ctl.sh start "$dir/peer" ports tests/fixtures/smtp_tls_peer.py "$dir/certs"
port=$(awk '$1 == "starttls" { print $2 }' "$dir/peer/ports")
run() { build/win/wine-run build/win/bench/smtp_delivery.exe "$port" "$1" localhost 1 desk s3cret; }
run 1 >/dev/null # warm Wine up
ours=$(run "$count" | tr -d '\r')
theirs=$(/usr/bin/python3 - "$port" "$count" "$dir/peer/starttls-001.eml" "$dir/certs/ca.pem" <<'PY'
import smtplib, ssl, sys, time
port, count, message = int(sys.argv[1]), int(sys.argv[2]), open(sys.argv[3], "rb").read()
context = ssl.create_default_context(cafile=sys.argv[4])
context.maximum_version = ssl.TLSVersion.TLSv1_2  # what our client speaks
start = time.perf_counter()
for _ in range(count):
    with smtplib.SMTP("localhost", port, local_hostname="bench") as s:
        s.starttls(context=context)
        s.login("desk", "s3cret")
        s.sendmail("watch@example.com", ["ops@example.com"], message)
print("%.3f" % ((time.perf_counter() - start) * 1000 / count))
PY
)
echo "ours:    $ours ms per mail"
echo "smtplib: $theirs ms per mail"
echo "ratio:   $(/usr/bin/python3 -c "print('%.2f' % ($ours / $theirs))")"
