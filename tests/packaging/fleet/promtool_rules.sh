#!/bin/sh
# The fleet's alerting rules through Prometheus's own checker and its rule unit tests.
# Exit 77 (skipped) only where promtool is not installed.
#   promtool_rules.sh <rules.yml> <rules_test.yml>
if ! command -v promtool >/dev/null 2>&1; then
    echo "promtool is not installed (Debian package prometheus): skipped"
    exit 77
fi
promtool check rules "$1" && promtool test rules "$2"
