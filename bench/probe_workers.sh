#!/usr/bin/env bash
# Left-over workers: runs probe_workers.exe under Wine and samples the Wine process's thread
# count, resident memory and open descriptors from /proc once a second until it ends.
#   bench/probe_workers.sh [probes=500] [TimeOut ms=20] [worker step limit ms=5000] [idle s=15]
#                          [batches=1] [silent|endless]
# Prints the samples with the program's phase lines between them, then a summary.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=build/win/bench/probe_workers.exe
name=probe_workers.e # the process's name as /proc shows it (15 characters)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
t0=$(date +%s.%N)
now() { awk -v t0="$t0" -v t="$(date +%s.%N)" 'BEGIN { printf "%.1f", t - t0 }'; }

build/win/wine-run "$exe" "$@" 2>&1 | while IFS= read -r line; do
    echo "$(now) # $line"
done >"$out/phases" &

pid=
for _ in $(seq 100); do
    pid=$(pgrep -n -x "$name" || true)
    [[ -n $pid ]] && break
    sleep 0.2
done
[[ -n $pid ]] || { echo "no $name process found" >&2; exit 1; }

while [[ -r /proc/$pid/status ]]; do
    threads=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || break
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) || break
    fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l) || break
    [[ -n $threads && -n $rss ]] && echo "$(now) $threads $rss $fds" >>"$out/samples"
    sleep 1
done
wait

echo "pid $pid; time (s), threads, VmRSS (kB), open descriptors"
sort -n -s -k1,1 "$out/samples" "$out/phases"
awk '
    $2 == "#" && /probing:/ { start[++b] = $1 }
    $2 == "#" && / end;/ { finish = $1 }
    $2 != "#" { t[++n] = $1; th[n] = $2; rss[n] = $3; fd[n] = $4 }
    END {
        e = n # the last sample before the program said it ends: later ones see it exiting
        for (i = n; i > 1 && finish && t[i] > finish; i--)
            e = i - 1
        for (i = 1; i <= n; i++) {
            if (th[i] > pt) pt = th[i]
            if (rss[i] > pr) pr = rss[i]
            if (fd[i] > pf) pf = fd[i]
        }
        for (k = 1; k <= b; k++) {
            s = 1
            for (i = 1; i <= n; i++)
                if (t[i] < start[k] - 0.5) s = i # a sample taken as the batch began is not before it
            if (k == 1) s1 = s
            printf "before batch %d:  %4d threads, %7d kB, %4d descriptors\n", k, th[s], rss[s], fd[s]
        }
        printf "peak:            %4d threads, %7d kB, %4d descriptors\n", pt, pr, pf
        printf "end:             %4d threads, %7d kB, %4d descriptors\n", th[e], rss[e], fd[e]
        printf "end - before batch 1: %+d threads, %+d kB, %+d descriptors\n", th[e] - th[s1], rss[e] - rss[s1], fd[e] - fd[s1]
    }' "$out/samples" <(grep ' # ' "$out/phases")
