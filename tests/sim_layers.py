#!/usr/bin/env python3
"""The simulated machine's folders depend on one another one way only.

A file of src/platform/sim includes files of its own folder, of a lower
tier, or the headers beside the folders (sim.h), which include no folder;
no includes run in a circle; each folder but host/ opens its FOLDER.h with
two comment lines that say what it holds. Exit 0, or 1 with each fault named.
"""

import os
import re
import sys

# Lowest first. The folders of one tier do not include each other.
TIERS = [["core"], ["registry", "drives", "dialogs"], ["profile"], ["machine"], ["host"]]
TIER = {folder: n for n, tier in enumerate(TIERS) for folder in tier}
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "platform", "sim")


def includes():
    """{file: [the files of the tree it includes]}, paths relative to ROOT."""
    graph = {}
    for top, _, names in os.walk(ROOT):
        for name in filter(lambda n: n.endswith((".h", ".cpp")), names):
            path = os.path.relpath(os.path.join(top, name), ROOT)
            text = open(os.path.join(ROOT, path), encoding="latin-1").read()
            graph[path] = [os.path.normpath(os.path.join(base, target))
                           for target in re.findall(r'^\s*#\s*include\s+"([^"]+)"', text, re.M)
                           for base in (os.path.dirname(path), "")
                           if os.path.isfile(os.path.join(ROOT, base, target))]
    return graph


def tier(path):
    """The file's folder's tier; -1 for the headers beside the folders."""
    return TIER.get(path.split(os.sep)[0], 99) if os.sep in path else -1


def main():
    graph, faults = includes(), []
    for path, targets in sorted(graph.items()):
        if os.sep in path and path.split(os.sep)[0] not in TIER:
            faults.append(path + ": its folder has no tier in TIERS")
        for target in targets:
            same = os.path.dirname(target) == os.path.dirname(path)
            if tier(target) >= 0 and not same and (tier(path) < 0 or tier(target) >= tier(path)):
                faults.append("%s includes %s, which is not below it" % (path, target))
    # Taking away, again and again, every file that includes none of the
    # rest or that none of the rest includes leaves the circles.
    left = graph
    while True:
        kept = {p: [t for t in ts if t in left] for p, ts in left.items()}
        kept = {p: ts for p, ts in kept.items() if ts and any(p in t for t in kept.values())}
        if kept == left:
            break
        left = kept
    faults += ["in a circle of includes: " + p for p in sorted(left)]
    for folder in TIER:
        header = os.path.join(ROOT, folder, folder + ".h")
        lines = open(header).readlines()[:2] if os.path.isfile(header) else []
        if folder != "host" and not (len(lines) == 2 and all(l.startswith("// ") for l in lines)):
            faults.append("%s/%s.h is missing or does not open with two comment lines" % (folder, folder))
    print("\n".join(faults) or "one way, %d files" % len(graph))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
