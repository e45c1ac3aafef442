#!/usr/bin/env python3
"""The group policy templates against the service: both files are well-formed, every string and
presentation the ADMX names is in the ADML, every presentation control refers to an element of
its policy, and the registry values the ADMX writes are exactly the ones the service reads (the
Policy column of settings/settingstable.cpp, and the URLS and Webhooks lists).

  policy_check.py <vigrel.admx> <en-US/vigrel.adml> <settings/settingstable.cpp>
"""
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
KEY = "SOFTWARE\\Policies\\Vigrel"
LISTS = {"URLS", "Webhooks"}
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


admx = ET.parse(sys.argv[1]).getroot()
adml = ET.parse(sys.argv[2]).getroot()
read = set(re.findall(r'\.Policy = "(\w+)"', open(sys.argv[3], encoding="utf-8").read()))
check(len(read) == 17, f"the table names {len(read)} policy values, not 17")

strings = {s.get("id") for s in adml.iterfind(".//p:stringTable/p:string", NS)}
presentations = {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
for node in admx.iter():
    for attr in ("displayName", "explainText", "presentation"):
        ref = re.fullmatch(r"\$\((string|presentation)\.(\w+)\)", node.get(attr) or "")
        if node.get(attr) is not None:
            check(ref is not None, f"{attr}={node.get(attr)} is no reference")
        if ref:
            table = strings if ref.group(1) == "string" else presentations
            check(ref.group(2) in table, f"{ref.group(0)} is not in the ADML")

categories = {c.get("name") for c in admx.iterfind(".//p:categories/p:category", NS)}
supported = {d.get("name") for d in admx.iterfind(".//p:supportedOn/p:definitions/p:definition", NS)}
written = set()
for policy in admx.iterfind(".//p:policies/p:policy", NS):
    name = policy.get("name")
    check(policy.get("key") == KEY, f"{name} writes under {policy.get('key')}")
    parent = policy.find("p:parentCategory", NS)
    check(parent is not None and parent.get("ref") in categories, f"{name} has no category")
    on = policy.find("p:supportedOn", NS)
    check(on is not None and on.get("ref") in supported, f"{name} has no supportedOn")
    if policy.get("valueName"):
        written.add(policy.get("valueName"))
    ids = set()
    for element in policy.iterfind("p:elements/*", NS):
        ids.add(element.get("id"))
        tag = element.tag.split("}")[1]
        if tag == "list":
            check(element.get("explicitValue") == "true", f"{name}'s list is not explicitValue")
            check(element.get("key", "").startswith(KEY + "\\"), f"{name}'s list key")
            written.add(element.get("key", "").rsplit("\\", 1)[-1])
        else:
            check(element.get("valueName") is not None, f"{name}'s {tag} has no valueName")
            written.add(element.get("valueName"))
    if policy.get("presentation"):
        shown = presentations.get(policy.get("presentation")[len("$(presentation."):-1])
        for control in shown if shown is not None else []:
            if control.get("refId") is not None:
                check(control.get("refId") in ids, f"{name}'s presentation names {control.get('refId')}")

check(written == read | LISTS, f"the ADMX writes {sorted(written ^ (read | LISTS))} "
      "that the service does not read, or leaves out values it reads")

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
