#!/usr/bin/env bash
# Sets everything up, builds the Windows programs and runs the monitor on a built-in demo
# configuration served on loopback, so that it works without any network.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset win >/dev/null
cmake --build --preset win
echo "Built: $(ls build/win/app/*.exe build/win/starter/*.exe 2>/dev/null | tr '\n' ' ')"
