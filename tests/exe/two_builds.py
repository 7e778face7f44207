#!/usr/bin/env python3
"""One program, two builds: br32unin-sim's own build of our sources, and the
shipped BR32UNIN.EXE that br32unin-sim --exe runs in its CPU emulator, on each
sample machine and on the generated machines of tests/wine/differential_seeds.txt
(or --count N from --seed S), with the same answers. They must print the same
dialogs, captions, restart request, summary of changes and exit code, and leave
the machine folders byte for byte alike.

Then four faults, each planted in a copy of the file (an import renamed, the
"ret 0x10" of the dialog procedure the program hands to DialogBoxParamA made
"ret 0x0c", a pointer handed to SetWindowTextA moved outside the program, a
jump to itself at the entry point): each must end the run with its message,
and leave the machine folder as it was.

Exit status: 0 all agreed, 1 otherwise, 77 when br32unin-sim has no emulator
(1 then if CI=true).
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import make_machines as mm  # noqa: E402

ANSWERS = {"ok_yes": ["--welcome", "ok", "--restart", "yes"], "ok_no": ["--welcome", "ok", "--restart", "no"],
           "cancel": ["--welcome", "cancel"]}
CANNOT_RUN = 125


def run(sim, folder, answers, exe=None):
    """br32unin-sim on folder: (exit code, its output less the folder's name, errors)."""
    command = [sim, folder] + answers + (["--exe", exe] if exe else [])
    done = subprocess.run(command, capture_output=True, timeout=120)
    out = done.stdout.decode("latin-1").replace(folder, "MACHINE")
    return done.returncode, out, done.stderr.decode("latin-1")


def tree(folder):
    """Every file and folder below folder: relative path -> bytes or None."""
    found = {}
    for top, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(top, name)
            found[os.path.relpath(path, folder)] = None if os.path.isdir(path) else open(path, "rb").read()
    return found


def compare(sim, exe, name, make, answers):
    """The two builds on copies of one machine: a list of differences."""
    work = tempfile.mkdtemp(prefix="two-builds-")
    try:
        host, emulated = os.path.join(work, "host"), os.path.join(work, "exe")
        make(host)
        shutil.copytree(host, emulated, symlinks=True)
        a, b = run(sim, host, answers), run(sim, emulated, answers, exe)
        problems = []
        if a[0] != b[0]:
            problems.append("exit code: host %d, exe %d (%s)" % (a[0], b[0], b[2].strip()))
        if a[1] != b[1]:
            lines = [(x, y) for x, y in zip(a[1].splitlines(), b[1].splitlines()) if x != y]
            problems.append("output differs, first: %r" % (lines[:1] or "in length",))
        ta, tb = tree(host), tree(emulated)
        problems += ["%s: host %s, exe %s" % (p, shown(ta.get(p, "absent")), shown(tb.get(p, "absent")))
                     for p in sorted(set(ta) | set(tb)) if ta.get(p, "absent") != tb.get(p, "absent")]
        return problems
    finally:
        shutil.rmtree(work, ignore_errors=True)


def shown(data):
    return "%d bytes" % len(data) if isinstance(data, bytes) else repr(data)


# ------------------------------------------------------- planted faults

def sections(data):
    """(virtual address, raw size, raw offset) of each section, and the image base."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional = struct.unpack_from("<HH", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 0x14)[0]
    table = pe + 0x18 + optional
    found = [struct.unpack_from("<III", data, table + 40 * i + 12)[:1] + struct.unpack_from("<II", data, table + 40 * i + 16)
             for i in range(count)]
    return found, struct.unpack_from("<I", data, pe + 0x34)[0], struct.unpack_from("<I", data, pe + 0x28)[0]


def offset_of(data, va):
    found, base, _ = sections(data)
    for address, size, raw in found:
        if address <= va - base < address + size:
            return va - base - address + raw
    raise ValueError("0x%X is in no section" % va)


def plant_import(data, sim, exe):
    return data.replace(b"lstrlenA\0", b"lstrlenB\0", 1), "lstrlenB has no service"


def plant_unbalanced(data, sim, exe):
    """The procedure's address as the program passes it to DialogBoxParamA."""
    with tempfile.TemporaryDirectory() as work:
        mm.write_machine_folder(os.path.join(work, "m"), "win98")
        out = subprocess.run([sim, os.path.join(work, "m"), "--welcome", "cancel", "--calls", "--exe", exe],
                             capture_output=True, timeout=60).stdout.decode("latin-1")
    proc = int(re.search(r"\[exe\] DialogBoxParamA\(0x\w+, 0x\w+, 0x\w+, 0x(\w+),", out).group(1), 16)
    at = data.index(b"\xc2\x10\x00", offset_of(data, proc))
    return data[:at] + b"\xc2\x0c\x00" + data[at + 3:], "left the stack unbalanced"


def plant_pointer(data, sim, exe):
    """The WELCOME caption's address, where the code holds it, made 0x1000."""
    texts = open(os.path.join(ROOT, "src", "ui", "texts.h"), encoding="latin-1").read()
    caption = re.search(r'#define WELCOME_CAPTION "(.*)"', texts).group(1).encode("cp1252")
    found, base, _ = sections(data)
    raw = data.index(caption + b"\0")
    va = next(base + address + raw - off for address, size, off in found if off <= raw < off + size)
    text = next((off, size) for address, size, off in found if address == 0x1000)
    at = data.index(struct.pack("<I", va), text[0], text[0] + text[1])
    return data[:at] + struct.pack("<I", 0x1000) + data[at + 4:], "SetWindowTextA: argument 2, 0x00001000"


def plant_runaway(data, sim, exe):
    _, base, entry = sections(data)
    at = offset_of(data, base + entry)
    return data[:at] + b"\xeb\xfe" + data[at + 2:], "a runaway program"


def planted(sim, exe):
    """Each planted fault: a list of problems."""
    data, problems = open(exe, "rb").read(), []
    for plant in (plant_import, plant_unbalanced, plant_pointer, plant_runaway):
        with tempfile.TemporaryDirectory() as work:
            bad, message = plant(data, sim, exe)
            copy, folder = os.path.join(work, "BR32UNIN.EXE"), os.path.join(work, "m")
            open(copy, "wb").write(bad)
            mm.write_machine_folder(folder, "win98")
            before = tree(folder)
            code, _, errors = run(sim, folder, ANSWERS["ok_yes"], copy)
            ok = code == CANNOT_RUN and message in errors and tree(folder) == before
            print("%-5s planted: %-18s %s" % ("ok" if ok else "FAIL", plant.__name__[6:], errors.strip()))
            if not ok:
                problems.append("%s: exit %d, %r, folder %s" % (plant.__name__, code, errors.strip(),
                                                                 "same" if tree(folder) == before else "changed"))
    return problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sim", default=os.path.join(ROOT, "build", "host", "br32unin-sim"))
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "win32", "BR32UNIN.EXE"))
    parser.add_argument("--seeds", default=os.path.join(ROOT, "tests", "wine", "differential_seeds.txt"))
    parser.add_argument("--count", type=int, help="generated machines from --seed on, instead of --seeds")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args(argv)
    print("exe: %s on the simulated machine in the emulator, against %s" % (
        os.path.relpath(args.exe, ROOT), os.path.relpath(args.sim, ROOT)), flush=True)
    missing = [p for p in (args.sim, args.exe) if not os.path.isfile(p)]
    with tempfile.TemporaryDirectory() as work:
        mm.write_machine_folder(os.path.join(work, "m"), "win98")
        probe = "" if missing else run(args.sim, os.path.join(work, "m"), ANSWERS["cancel"], args.exe)[2]
    if missing or "libunicorn-dev" in probe:
        print("cannot run: %s" % (" ".join(missing) or probe.strip()))
        return 1 if os.environ.get("CI") == "true" else 77

    cases = [("%s-%s" % (sample, name), lambda d, s=sample: mm.write_machine_folder(d, s), answers)
             for sample in ("win98", "win95") for name, answers in ANSWERS.items()]
    if args.count:
        seeds = [(None, s) for s in range(args.seed, args.seed + args.count)]
    else:
        lines = [line.split("#")[0].split() for line in open(args.seeds).read().splitlines()]
        seeds = [(mode, int(seed)) for mode, seed in filter(None, lines)]
    for mode, seed in seeds:
        g = mm.generated_machine(seed, mode)
        name = "cancel" if seed % 10 == 0 else "ok_yes"
        cases.append(("seed-%d-%s-%s" % (seed, g.mode, name), lambda d, g=g: mm.write_generated(d, g),
                      ANSWERS[name]))
    agree, problems = 0, []
    for name, make, answers in cases:
        found = compare(args.sim, args.exe, name, make, answers)
        agree += not found
        if found or len(cases) <= 30:
            print("%-5s %s" % ("FAIL" if found else "ok", name))
        for line in found:
            print("        " + line)
    problems += planted(args.sim, args.exe)
    print("%d of %d machines agree; %d of 4 planted faults stopped as they must" % (
        agree, len(cases), 4 - len(problems)))
    return 0 if agree == len(cases) and not problems else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
