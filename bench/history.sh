#!/usr/bin/env bash
# The history's costs (bench/history_bench.cpp): a day's file for 1,000 sites, a cycle's append
# on and off, 30 days of 100 sites read back at start, and the History window opened on them.
# The window needs a display: a private one is started.
#   bench/history.sh [size|append|window|planted]
set -euo pipefail
cd "$(dirname "$0")/.."
exec tools/with-xvfb.sh build/win/wine-run build/win/bench/history_bench.exe "$@"
