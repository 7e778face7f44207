#!/usr/bin/env python3
"""The simulated machine's folders depend on one another one way only.

Every file of src/platform/sim includes files of its own folder, of a lower
tier, or the public headers beside the folders (sim.h), which include no
folder; never a file of a higher tier or of another folder of its own tier,
and no includes run in a circle. Each folder but host/ has a main header,
FOLDER/FOLDER.h, whose first two lines say what the folder holds.

usage: sim_layers.py          exit 0: one way, 1: a fault (each one named)
"""

import os
import re
import sys

# Lowest first. The folders of one tier do not include each other.
TIERS = [["core"], ["registry", "drives", "dialogs"], ["profile"], ["machine"], ["host"]]

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "src", "platform", "sim"))
TIER = {folder: n for n, tier in enumerate(TIERS) for folder in tier}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    return path.split("/")[0] if "/" in path else None


def main():
    faults, graph = [], {}
    for top, _, names in os.walk(ROOT):
        for name in names:
            if name.endswith((".h", ".cpp")):
                path = os.path.relpath(os.path.join(top, name), ROOT).replace(os.sep, "/")
                with open(os.path.join(ROOT, path), encoding="latin-1") as f:
                    text = f.read()
                graph[path] = []
                for target in INCLUDE.findall(text):
                    for base in (os.path.dirname(path), ""):
                        if os.path.isfile(os.path.join(ROOT, base, target)):
                            graph[path].append(os.path.normpath(os.path.join(base, target)))
                            break
    for path, targets in sorted(graph.items()):
        here = folder_of(path)
        if here is not None and here not in TIER:
            faults.append(f"{path}: its folder has no tier in TIERS")
        for target in targets:
            there = folder_of(target)
            if here is None:
                upward = there is not None  # the public headers include no folder
            else:
                upward = there not in (None, here) and TIER.get(there, 0) >= TIER.get(here, 0)
            if upward:
                faults.append(f"{path} includes {target}, which is not below it")
    # A circle of includes shows as an edge back to a file still being walked.
    state = {}

    def walk(path, trail):
        state[path] = "open"
        for target in graph.get(path, []):
            if state.get(target) == "open":
                faults.append("circle: " + " -> ".join(trail[trail.index(target):] + [target]))
            elif target not in state:
                walk(target, trail + [target])
        state[path] = "done"

    for path in sorted(graph):
        if path not in state:
            walk(path, [path])
    for folder in TIER:
        header = os.path.join(ROOT, folder, folder + ".h")
        lines = open(header).readlines()[:2] if os.path.isfile(header) else []
        if folder != "host" and not (len(lines) == 2 and all(l.startswith("// ") for l in lines)):
            faults.append(f"{folder}/{folder}.h is missing or does not open with two comment lines")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
