#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (default 60 s).
#   tests/fuzz/run.sh [seconds]
# A crash input lands in build/fuzz/<target>-crashes/; keep it in tests/fuzz/regressions/: every
# run here replays that folder, and so does every test run of the native preset
# (<target>_replay, tests/fuzz/CMakeLists.txt).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
out=build/fuzz
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
common=(base/tstream.cpp base/tstringlist.cpp base/paths.cpp base/utf.cpp net/nms_stream.cpp net/nmuue.cpp
        monitor/urlwire.cpp)
status=0
for target in fuzz_decode fuzz_bufferstream fuzz_urlwire; do
    clang++ "${flags[@]}" "tests/fuzz/$target.cpp" "${common[@]}" -o "$out/$target"
    mkdir -p "$out/$target-corpus" "$out/$target-crashes"
    echo "== $target: ${seconds}s"
    "$out/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
        -artifact_prefix="$out/$target-crashes/" "$out/$target-corpus" tests/fuzz/regressions 2>&1 | tail -3 || status=1
done
exit $status
