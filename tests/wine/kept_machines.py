#!/usr/bin/env python3
"""Whether every seed keeps its machine: each generated machine of the seeds
file, and of seeds 1 to --count in each mode, written as a machine folder by
tools/make_machines.py as it is and as it was at --against (a git revision),
and held side by side. A later draw may only add: registry keys, WIN.INI
lines and sections, files. Everything the earlier generator wrote must be
there as it was: machine.ini, every key with its values, every file with its
bytes and marks, every folder, WIN.INI's lines in their order.
Prints a line for each machine that changed otherwise, and the figures.
Exit status: 0 every machine kept, 1 some did not."""

import argparse
import difflib
import importlib.util
import os
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import make_machines as mm  # noqa: E402

MODES = ["win98", "win95", "winxp"]


def generator_at(revision, work):
    """tools/make_machines.py as it was at revision, as a module."""
    text = subprocess.run(["git", "-C", ROOT, "show", revision + ":tools/make_machines.py"],
                          capture_output=True, check=True).stdout
    path = os.path.join(work, "make_machines_then.py")
    with open(path, "wb") as f:
        f.write(text)
    found = importlib.util.spec_from_file_location("make_machines_then", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def registry(folder):
    """registry.reg as {key in lower case: [value lines]}."""
    keys, values = {}, None
    with open(os.path.join(folder, "registry.reg"), "rb") as f:
        for line in f.read().decode("cp1252").split("\r\n")[1:]:
            if line.startswith("["):
                values = keys.setdefault(line[1:-1].lower(), [])
            elif line:
                values.append(line)
    return keys


def tree(folder):
    """{relative path: bytes, with the file's mode and DOS marks; or "folder"}."""
    items = {}
    for top, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(top, name)
            rel = os.path.relpath(path, folder)
            if os.path.isdir(path):
                items[rel] = "folder"
            else:
                with open(path, "rb") as f:
                    marks = os.getxattr(path, "user.DOSATTRIB") if "user.DOSATTRIB" in os.listxattr(path) else b""
                    items[rel] = (f.read(), os.stat(path).st_mode & 0o777, marks)
    return items


def win_ini_kept(then, now):
    """Problems, and the number of lines added, of WIN.INI's bytes then and
    now: only whole lines added, its line ends as they were."""
    problems = []
    if (b"\r\n" in then) != (b"\r\n" in now) or (b"\r\n" in now and re.search(rb"(?<!\r)\n", now)):
        problems.append("WIN.INI's line ends changed")
    a, b = [line.rstrip(b"\r") for line in then.split(b"\n")], [line.rstrip(b"\r") for line in now.split(b"\n")]
    added = 0
    for op, i1, i2, j1, j2 in difflib.SequenceMatcher(None, a, b, autojunk=False).get_opcodes():
        if op == "insert":
            added += j2 - j1
        elif op != "equal":
            problems.append("WIN.INI: %s %r -> %r" % (op, a[i1:i2], b[j1:j2]))
    return problems, added


def held(then_folder, now_folder):
    """Problems of the folder now against then, and what was added:
    (keys, WIN.INI lines, files)."""
    problems = []
    for name in ("machine.ini",):
        if open(os.path.join(then_folder, name), "rb").read() != open(os.path.join(now_folder, name), "rb").read():
            problems.append(name + " changed")
    keys_then, keys_now = registry(then_folder), registry(now_folder)
    problems += ["key %s: %s" % (k, "gone" if k not in keys_now else "values changed")
                 for k, v in keys_then.items() if keys_now.get(k) != v]
    win_ini = mm.host_path("", mm.GEN_WINDOWS + "\\WIN.INI")
    files_then, files_now = tree(os.path.join(then_folder, "drives")), tree(os.path.join(now_folder, "drives"))
    ini_problems, lines = win_ini_kept(files_then.pop(os.path.relpath(win_ini, "drives"))[0],
                                       files_now.pop(os.path.relpath(win_ini, "drives"))[0])
    problems += ini_problems
    problems += ["%s: %s" % (p, "gone" if p not in files_now else "changed")
                 for p, item in files_then.items() if files_now.get(p) != item]
    return problems, (len(set(keys_now) - set(keys_then)), lines,
                      len([p for p, item in files_now.items() if p not in files_then and item != "folder"]))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--against", required=True, help="the git revision of the earlier generator")
    parser.add_argument("--seeds", default=os.path.join(ROOT, "tests", "wine", "differential_seeds.txt"))
    parser.add_argument("--count", type=int, default=200, help="seeds 1 to COUNT in each mode")
    args = parser.parse_args(argv)
    cases = [line.split("#")[0].split() for line in open(args.seeds).read().splitlines()]
    cases = [(mode, int(seed)) for mode, seed in filter(None, cases)]
    cases += [(mode, seed) for mode in MODES for seed in range(1, args.count + 1)]
    kept, grown = 0, [0, 0, 0, 0]  # machines that gained keys, lines, files, anything
    with tempfile.TemporaryDirectory(prefix="kept-machines-") as work:
        then_mm = generator_at(args.against, work)
        for mode, seed in cases:
            then, now = os.path.join(work, "then"), os.path.join(work, "now")
            then_mm.write_generated(then, then_mm.generated_machine(seed, mode))
            mm.write_generated(now, mm.generated_machine(seed, mode))
            problems, added = held(then, now)
            kept += not problems
            for i, n in enumerate(added + (sum(added),)):
                grown[i] += bool(n)
            for line in problems:
                print("%s %d: %s" % (mode, seed, line))
    print("%d of %d machines kept; grown: %d with keys, %d with WIN.INI lines, %d with files, %d in all"
          % (kept, len(cases), *grown))
    return 0 if kept == len(cases) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
