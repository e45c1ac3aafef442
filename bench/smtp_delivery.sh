#!/bin/sh
# Delivers COUNT report mails (default 200) to the loopback SMTP sink with our client under
# Wine, then the same message as many times with Python's smtplib, and prints both and the
# ratio; a bare Winsock client under Wine doing the same dialogue shows what Wine itself
# costs. Run from the repository's top folder after `cmake --build --preset win`.
set -e
count=${1:-200}
dir=$(mktemp -d)
trap 'sh tests/fixtures/smtp_sink_ctl.sh stop "$dir" >/dev/null 2>&1; rm -rf "$dir"' EXIT
sh tests/fixtures/smtp_sink_ctl.sh start "$dir"
port=$(cat "$dir/port")
build/win/wine-run build/win/bench/smtp_delivery.exe "$port" 1 >/dev/null # warm Wine up
ours=$(build/win/wine-run build/win/bench/smtp_delivery.exe "$port" "$count" | tr -d '\r')
theirs=$(/usr/bin/python3 - "$port" "$count" "$dir/001.eml" <<'PY'
import smtplib, sys, time
port, count, message = int(sys.argv[1]), int(sys.argv[2]), open(sys.argv[3], "rb").read()
start = time.perf_counter()
for _ in range(count):
    with smtplib.SMTP("127.0.0.1", port, local_hostname="bench") as s:
        s.sendmail("watch@example.com", ["ops@example.com"], message)
print("%.3f" % ((time.perf_counter() - start) * 1000 / count))
PY
)
bare=$(build/win/wine-run build/win/bench/smtp_bare.exe "$port" "$count" "$dir/001.eml" | tr -d '\r')
echo "ours:    $ours ms per mail"
echo "bare:    $bare ms per mail (plain blocking Winsock under Wine, same dialogue)"
echo "smtplib: $theirs ms per mail"
echo "ratio:   $(/usr/bin/python3 -c "print('%.2f' % ($ours / $theirs))") (bare: $(/usr/bin/python3 -c "print('%.2f' % ($bare / $theirs))"))"
