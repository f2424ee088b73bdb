#!/usr/bin/env python3
"""Checks that no file of an engine folder includes a file of a folder above it
(binding <- probe <- job <- run <- component); prints each offending include, exit 1 if any."""
import os
import re
import sys

order = ["binding", "probe", "job", "run", "component"]
top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "FFMPEG")
bad = 0
for layer in order:
    folder = os.path.join(top, layer)
    for name in sorted(os.listdir(folder)):
        if not name.endswith((".h", ".cpp")):
            continue
        for number, line in enumerate(open(os.path.join(folder, name)), 1):
            found = re.match(r'\s*#include\s+"FFMPEG/(\w+)/', line)
            if found and order.index(found.group(1)) > order.index(layer):
                print(f"FFMPEG/{layer}/{name}:{number}: includes {found.group(1)}/ from below")
                bad += 1
sys.exit(1 if bad else 0)
