#!/usr/bin/env python3
"""The fleet kit against the program it serves: every metric its rules and dashboard query is
one the program writes, the inhibition names alerts the rules raise, and the event query names
exactly the entries it promises under the program's event source.

  fleet_check.py metrics <metrics program> <rules.yml> <alertmanager-inhibit.yml> <dashboard.json>
  fleet_check.py events <query.xml> <wef-subscription.xml> <vigrelevents.mc> <base/product.h>
"""
import json
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

import yaml

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def metric_names(text):
    """Names queried in an expression: the program's prefix, not a recording rule's level."""
    return set(re.findall(r"(?<![\w:])vigrel_[a-z_]+", text))


def written_names(program):
    out = subprocess.run([program], check=True, capture_output=True).stdout.decode()
    return {re.split(r"[{ ]", line, 1)[0] for line in out.splitlines()
            if line and not line.startswith("#")}


def dashboard_exprs(node):
    if isinstance(node, dict):
        for key, value in node.items():
            if key in ("expr", "query", "definition") and isinstance(value, str):
                yield value
            else:
                yield from dashboard_exprs(value)
    elif isinstance(node, list):
        for value in node:
            yield from dashboard_exprs(value)


def metrics(program, rules_file, inhibit_file, dashboard_file):
    written = written_names(program)
    check("vigrel_build_info" in written, "the program writes no vigrel_build_info")

    rules = yaml.safe_load(open(rules_file, encoding="utf-8"))
    alerts = set()
    for group in rules["groups"]:
        for rule in group["rules"]:
            alerts.add(rule.get("alert"))
            for name in metric_names(rule["expr"]) - written:
                failures.append(f"{rules_file}: {rule.get('alert') or rule.get('record')} "
                                f"queries {name}, which the program does not write")

    inhibit = yaml.safe_load(open(inhibit_file, encoding="utf-8"))
    for rule in inhibit["inhibit_rules"]:
        for matcher in rule["source_matchers"] + rule["target_matchers"]:
            m = re.fullmatch(r'alertname\s*(=~|=)\s*"?([^"]*)"?', matcher)
            check(m is not None, f"{inhibit_file}: matcher {matcher!r} names no alert")
            if m:
                for name in m.group(2).split("|"):
                    check(name in alerts, f"{inhibit_file}: no rule raises {name}")
        check(rule.get("equal") == ["instance"],
              f"{inhibit_file}: an inhibition must hold for the same machine only")

    dashboard = json.load(open(dashboard_file, encoding="utf-8"))
    queried = set()
    for expr in dashboard_exprs(dashboard):
        queried |= metric_names(expr)
    for name in queried - written:
        failures.append(f"{dashboard_file} queries {name}, which the program does not write")
    # What the dashboard is for: uptime, response times, down reasons, desks whose link is
    # down, versions.
    for name in ("vigrel_site_up", "vigrel_site_response_time_seconds", "vigrel_site_down_info",
                 "vigrel_benchmark_up", "vigrel_build_info"):
        check(name in queried, f"{dashboard_file} shows no {name}")


def event_query(root, where):
    """Provider names and event ids of every Select of a QueryList."""
    providers, ids = set(), set()
    selects = root.findall(".//Select")
    check(bool(selects), f"{where}: no Select")
    for select in selects:
        check(select.get("Path") == "Application", f"{where}: a Select outside Application")
        providers |= set(re.findall(r"Provider\[@Name='([^']*)'\]", select.text))
        ids |= {int(n) for n in re.findall(r"EventID\s*=\s*(\d+)", select.text)}
    return providers, ids


def events(query_file, subscription_file, mc_file, product_file):
    source = re.search(r'#define VIGREL_PRODUCT_NAME "([^"]+)"',
                       open(product_file, encoding="utf-8").read()).group(1)
    defined = {int(n) for n in re.findall(r"^MessageId=(\d+)", open(mc_file).read(), re.M)}
    wanted = {100, 101, 102, 200, 300}
    check(wanted <= defined, f"{mc_file} lacks events {sorted(wanted - defined)}")

    queries = [(query_file, ET.parse(query_file).getroot())]
    ns = {"s": "http://schemas.microsoft.com/2006/03/windows/events/subscription"}
    subscription = ET.parse(subscription_file).getroot()
    check(subscription.findtext("s:SubscriptionType", namespaces=ns) == "SourceInitiated",
          f"{subscription_file}: not source-initiated")
    check(subscription.findtext("s:Enabled", namespaces=ns) == "true",
          f"{subscription_file}: not enabled")
    queries.append((subscription_file,
                    ET.fromstring(subscription.findtext("s:Query", namespaces=ns).strip())))
    for where, root in queries:
        providers, ids = event_query(root, where)
        check(providers == {source}, f"{where}: providers {providers}, not {{'{source}'}}")
        check(ids == wanted, f"{where}: event ids {sorted(ids)}, not {sorted(wanted)}")


if __name__ == "__main__":
    {"metrics": metrics, "events": events}[sys.argv[1]](*sys.argv[2:])
    for failure in failures:
        print("FAILED:", failure)
    print("fleet kit:", "checks failed" if failures else "all checks passed")
    sys.exit(1 if failures else 0)
