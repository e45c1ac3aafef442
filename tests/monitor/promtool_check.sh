#!/bin/sh
# Runs the program given and hands what it writes to Prometheus's own checker of the text
# exposition format. Exit 77 (skipped) only where promtool is not installed.
#   promtool_check.sh <program>
if ! command -v promtool >/dev/null 2>&1; then
    echo "promtool is not installed (Debian package prometheus): skipped"
    exit 77
fi
text=$("$1") || { echo "$1 failed"; exit 1; }
printf '%s\n' "$text" | promtool check metrics
