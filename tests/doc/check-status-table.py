#!/usr/bin/env python3
"""Checks that the manual page's DIAGNOSTICS list every status of the event
log's catalog but success: its decimal and hexadecimal number and its text.

    check-status-table.py PAGE ROOT
"""
import re
import sys

page_path, root = sys.argv[1], sys.argv[2]
page = open(page_path, encoding="utf-8").read().replace("\\-", "-")
values = {}
for header in ("platform/directory/Directory.h", "services/OvCommException.h"):
    text = open(f"{root}/{header}", encoding="utf-8").read()
    values.update((n, int(v, 16)) for n, v in re.findall(r"\b(k\w+)\s*=\s*(0x[0-9A-Fa-f]+)u", text))
catalog = open(f"{root}/platform/userservices/EventLog.cpp", encoding="utf-8").read()
rows = re.findall(r'\{(k\w+),\s*"([^"]*)"\}', catalog)
missing = [f"{name} ({text})" for name, text in rows
           if f'.BR {values[name]} " (0x{values[name]:08x})"\n\\(lq{text}\\(rq.' not in page]
if not rows or missing:
    print(f"{page_path}: DIAGNOSTICS lacks", ", ".join(missing) or "nothing: no catalog rows found")
    sys.exit(1)
