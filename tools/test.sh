#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both presets and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh

status=0
for preset in native win; do
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    echo "== $preset: test"
    ctest --preset "$preset" -j2 || status=1
done
# The test prefixes' Wine servers stay up for the whole run; end them with it.
for prefix in build/win/wineprefix*/; do
    [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" wineserver -k >/dev/null 2>&1 || true
done
exit $status
