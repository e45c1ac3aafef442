#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the benchmarks need.
# Idempotent: when everything is present it only checks, and apt-get update runs only when
# something is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ g++-mingw-w64-x86-64-posix googletest
    wine wine64 xvfb xauth x11-utils xdotool imagemagick
    python3 python3-aiosmtpd python3-yaml clang nsis zip openssl msitools wixl tinyproxy
    binutils-mingw-w64-x86-64 prometheus
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
