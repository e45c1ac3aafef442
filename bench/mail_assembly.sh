#!/usr/bin/env bash
# Mail assembly with one attachment against coreutils base64 on the same file, same run.
#   bench/mail_assembly.sh [MiB]      (default 64)
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-64}
out=bench/out
mkdir -p "$out"
g++ -std=c++20 -O2 -DNDEBUG -I. bench/mail_assembly.cpp net/mailassembly.cpp net/nmuue.cpp \
    net/nms_stream.cpp net/nmextstr.cpp base/tstream.cpp base/tstringlist.cpp \
    -o "$out/mail_assembly"
file="$out/attachment-${mib}m.bin"
[[ -f $file ]] || head -c $((mib * 1048576)) /dev/urandom >"$file"
cat "$file" >/dev/null # warm the page cache for both contenders

best_base64=
for _ in 1 2 3; do
    start=$(date +%s%N)
    base64 "$file" >"$out/attachment.b64"
    t=$(($(date +%s%N) - start))
    [[ -z $best_base64 || $t -lt $best_base64 ]] && best_base64=$t
done
read -r _ ours _ body _ rss < <("$out/mail_assembly" "$file" 3)
encoded=$(stat -c %s "$out/attachment.b64")
awk -v ours="$ours" -v b64="$best_base64" -v rss="$rss" -v body="$body" -v enc="$encoded" 'BEGIN {
    printf "assembly %.3f s, base64 %.3f s, ratio %.2f (goal <= 1.5)\n", ours, b64 / 1e9, ours / (b64 / 1e9)
    printf "peak memory %.1f MiB, body %.1f MiB, memory / encoded size %.2f (goal <= 3)\n",
        rss / 1024, body / 1048576, rss * 1024 / enc
}'
rm -f "$out/attachment.b64"
