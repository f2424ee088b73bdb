#!/usr/bin/env python3
"""Walks the calls recorded by call_walk_hook.cpp file by file.

usage: call_walk.py PROGRAM EDGES ROOT [SCOPE]

From the functions whose name contains ROOT, follows every recorded call and notes each change
of source file. Code written in a header (inline functions, templates) or outside SCOPE (a path
fragment, default "FFMPEG/") counts as part of the file that calls it. A file entered again on
one call path after that path left it is a re-entry; the exit status is 1 when there is one.
With -v, the file changes are listed in the order first reached."""
import collections
import os
import subprocess
import sys

args = [a for a in sys.argv[1:] if a != "-v"]
program, edges_path, root = args[:3]
scope = args[3] if len(args) > 3 else "FFMPEG/"
top = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", "..")) + "/"

calls = collections.defaultdict(set)
for line in open(edges_path):
    caller, callee = (int(x, 16) for x in line.split())
    calls[caller].add(callee)
functions = sorted({f for pair in calls.items() for f in (pair[0], *pair[1])} - {0})
lines = subprocess.run(["addr2line", "-f", "-C", "-e", program] + [hex(f) for f in functions],
                       capture_output=True, text=True, check=True).stdout.splitlines()
name = {f: lines[2 * i] for i, f in enumerate(functions)}
source = {f: os.path.realpath(lines[2 * i + 1].rsplit(":", 1)[0]).replace(top, "")
          for i, f in enumerate(functions)}


def file_of(function, caller_file):
    path = source[function]
    if path.endswith(".h") or scope not in path or path.startswith("/"):
        return caller_file or path
    return path


changes, reentries, seen = [], set(), set()


def walk(function, here, path):
    for callee in sorted(calls.get(function, ())):
        there = file_of(callee, here)
        if there != here:
            if there in path:
                reentries.add((" -> ".join(path[path.index(there):] + [there]), name[callee]))
                continue
            changes.append((here, there, name[callee]))
        if (callee, there, tuple(path)) in seen:
            continue
        seen.add((callee, there, tuple(path)))
        walk(callee, there, path + [there] if there != here else path)


sys.setrecursionlimit(100000)
roots = [f for f in functions if root in name[f]]
if not roots:
    sys.exit(f"no recorded function named like {root}")
for function in roots:
    here = file_of(function, None)
    walk(function, here, [here])

files = {f for change in changes for f in change[:2]}
print(f"{len(changes)} calls into another file, over {len(files)} files; "
      f"{len(reentries)} re-entries")
for path, callee in sorted(reentries):
    print(f"re-entered: {path}  (calling {callee})")
if "-v" in sys.argv:
    for here, there, callee in changes:
        print(f"  {here} -> {there}  {callee}")
sys.exit(1 if reentries else 0)
