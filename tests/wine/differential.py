#!/usr/bin/env python3
"""The simulated machine held against Wine, on generated machines.

    differential.py --count N [--seed S] [--mode win95|win98|winxp]
    differential.py --seeds FILE      # "MODE SEED" lines, # starts a comment

Each machine runs in a machine folder (br32unin-sim) and in a fresh Wine
prefix (BR32UNIN.EXE), the user answering alike; both end states are read
into one normal form and compared, known differences of Wine aside
(WINE_DIFFERENCES). See README.md. Exit status: 0 all agree, 1 some
disagree, 77 Wine cannot run here (1 when CI=true).
"""

import argparse
import codecs
import functools
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "tools")]
import make_machines as mm  # noqa: E402
import winefix  # noqa: E402



def ui_texts():
    """The strings #define'd in engine.h and texts.h as the program shows them."""
    texts = {}
    for header in ("src/engine/engine.h", "src/ui/texts.h"):
        source = Path(ROOT, header).read_text(encoding="latin-1").replace("\\\n", " ")
        for name, body in re.findall(r'^#define (\w+) +(.*".*)$', source, re.M):
            texts[name] = b"".join(codecs.escape_decode(lit)[0] if lit else texts[word]
                                   for lit, word in re.findall(r'"((?:[^"\\]|\\.)*)"|(\w+)', body))
    return texts


TEXTS = ui_texts()
WELCOME, PROGRESS, COMPLETION, CANCELLED = (TEXTS[n + "_CAPTION"].decode("cp1252") for n in (
    "WELCOME", "PROGRESS", "COMPLETION", "CANCEL"))
OK_YES = ([(WELCOME, "click 1"), (COMPLETION, "click 6")], ["--welcome", "ok", "--restart", "yes"])
CANCEL = ([(WELCOME, "click 2"), (CANCELLED, "click 1")], ["--welcome", "cancel"])
CANCEL_EVERY = 10  # every tenth seed the user cancels, and neither side may change anything
PROGRAM = (mm.GEN_SYSTEM + "\\BR32UNIN.EXE").lower()
KEPT = 4096  # bytes of a file kept in the normal form; larger files by size and a hash
SHOWN = 48  # bytes of a file shown in a report


def machine_key(path):
    return path.replace("/", "\\").lower()


# ------------------------------------------------------------ Wine's ways

def first_rename_only(sim, wine):
    """Paths named in the second and later [rename] sections of WININIT.INI:
    left out on both sides."""
    text = (sim["files"].get("c:\\windows\\wininit.bak") or b"")
    if not isinstance(text, bytes):
        return
    sections = re.split(rb"(?im)^\s*\[rename\]\s*$", text)[2:]
    for section in sections:
        section = re.split(rb"(?m)^\s*\[", section)[0]
        for line in section.decode("cp1252").splitlines():
            dest, _, src = line.strip().partition("=")
            for p in (src, dest if dest.upper() != "NUL" else ""):
                p = p if ":" in p else mm.GEN_WINDOWS + "\\" + p
                for side in (sim, wine):
                    side["files"].pop(p.lower(), None)


# (name, why, how): each known difference of Wine from Windows 9x, and where
# it is dealt with. A "prefix" entry is set up so that it cannot show; a
# function is applied to both normal forms before they are compared.
WINE_DIFFERENCES = [
    ("system32", "Wine's Windows and system directories are C:\\windows and "
     "C:\\windows\\system32", "generated machines have these directories on both sides"),
    ("HKEY_CURRENT_CONFIG", "Wine makes HKEY_CURRENT_CONFIG\\System afresh, volatile, in each "
     "session, and keeps it under HKLM\\System\\CurrentControlSet\\Hardware Profiles\\Current "
     "rather than HKLM\\Config\\0001", "prefix: the machine's keys there are made as volatile "
     "keys, in the session of the run, under both names, as Windows 9x shows them"),
    ("HKEY_CURRENT_USER", "Wine's HKEY_CURRENT_USER is a user's own hive, not "
     "HKEY_USERS\\.DEFAULT", "prefix: keys of either are written under both"),
    ("WIN.INI in the registry", "Wine's profile functions keep [Devices], [PrinterPorts], "
     "[windows] and others in the registry through IniFileMapping, as NT does",
     "prefix: the IniFileMapping key of win.ini is removed, so WIN.INI is a file as on 9x"),
    ("first [rename] only", "Wine's wineboot works through the first [rename] section of "
     "WININIT.INI; Windows 9x through every one", first_rename_only),
    ("Wine's working folders", "Wine's own processes write in C:\\users, C:\\windows\\temp "
     "and C:\\windows\\logs", "not searched there for files that came or went (WINE_OWN); "
     "the machine's own files there are compared all the same"),
]
WINE_OWN = {"users", "windows\\temp", "windows\\logs"}


# ------------------------------------------------------------ the normal form

def value_bytes(kind, data):
    """(type, bytes) of a value as make_machines describes it."""
    if kind == "sz":
        return 1, data.encode("cp1252") + b"\0"
    if kind == "dword":
        return 4, data.to_bytes(4, "little")
    if kind == "hex":
        return 3, data
    return data


def parse_reg_value(line):
    """A REGEDIT4 value line of the simulated machine: (name, type, bytes)."""
    m = re.match(r'(@|"(?:[^"\\]|\\.)*")=(.*)$', line, re.S)
    unquote = lambda s: re.sub(r"\\(.)", r"\1", s[1:-1])  # noqa: E731
    name, data = ("" if m.group(1) == "@" else unquote(m.group(1))), m.group(2)
    if data.startswith('"'):
        return name, 1, unquote(data).encode("cp1252") + b"\0"
    if data.startswith("dword:"):
        return name, 4, int(data[6:], 16).to_bytes(4, "little")
    kind, _, hexes = data.partition(":")
    kind = 3 if kind == "hex" else int(kind[4:-1], 16)
    return name, kind, bytes(int(h, 16) for h in hexes.replace(" ", "").split(",") if h)


def watched(g):
    """The subtrees compared ("HKLM\\path"), some inside others."""
    return sorted({root + "\\" + path for root, path in g.watched_keys()})


def registry_form(keys, tops):
    """keys: {full path: [(name, type, bytes)]}; the keys at or below tops,
    each with its values sorted."""
    form = {}
    for path, values in keys.items():
        if any(path.lower() == t.lower() or path.lower().startswith(t.lower() + "\\")
               for t in tops):
            form["registry " + path.lower()] = sorted("%s = %d:%s" % (n, t, d.hex())
                                                      for n, t, d in values)
    return form


def ini_form(data):
    """WIN.INI as sections in file order, each with its stripped lines."""
    if data is None:
        return None
    form = [(None, [])]
    for line in re.split(r"\r?\n", data.decode("cp1252")):
        line = line.strip()
        if line.startswith("["):
            form.append((line[1:].split("]")[0].strip(), []))
        elif line:
            key, sep, value = line.partition("=")
            section = form[-1]
            section[1].append((key.strip(), value.strip()) if sep else (line, None))
    return form if form[0][1] else form[1:]


def file_state(path):
    if os.path.islink(path) or not os.path.isfile(path):
        return "link" if os.path.islink(path) else "folder" if os.path.isdir(path) else None
    data = Path(path).read_bytes()
    return data if len(data) <= KEPT else sized(data)


def sized(data):
    return "%d bytes %s" % (len(data), hashlib.sha256(data).hexdigest()[:12])


def tree_names(top, skip=()):
    """Every path below top as a machine path (lower case) -> host path."""
    names = {}
    for folder, dirs, files in os.walk(top):
        rel = os.path.relpath(folder, top)
        for name in dirs + files:
            path = "c:\\" + machine_key(os.path.normpath(os.path.join(rel, name)))
            names[path] = os.path.join(folder, name)
        dirs[:] = [d for d in dirs
                   if machine_key(os.path.normpath(os.path.join(rel, d))) not in skip]
    return names


def files_form(g, top, before, locate, skip=()):
    """The generated files and folders and their folders, and whatever came
    or went beside them, each with its state; locate gives a machine path's
    host path."""
    after = tree_names(top, skip)
    paths = set()
    for path in [p for p, _, _ in g.layer.files] + g.folders + [mm.GEN_WINDOWS + "\\wininit.ini"]:
        while len(path) > 3:
            paths.add(path.lower())
            path = path.rsplit("\\", 1)[0]
    paths |= set(before) ^ set(after)
    paths.discard(mm.GEN_WINDOWS.lower() + "\\win.ini")
    return {p: file_state(after[p] if p in after else locate(p)) for p in paths}


# ------------------------------------------------------------- the two sides

def sim_form(g, folder, before):
    """The machine folder's normal form."""
    keys, current = {}, None
    text = re.sub(r"\\\r?\n\s*", "", Path(folder, "registry.reg").read_bytes().decode("cp1252"))
    for line in text.replace("\r\n", "\n").split("\n")[1:]:
        if line.startswith("["):
            current = keys.setdefault(line[1:-1], [])
        elif line and current is not None:
            current.append(parse_reg_value(line))
    # The views that Windows 9x shows of its two stored roots.
    views = {}
    for short, stored in mm.WIN9X_STORAGE.items():
        for path, values in keys.items():
            if path.lower().startswith(stored.lower() + "\\"):
                views[short + path[len(stored):]] = values
    form = registry_form(views, watched(g))
    form["win.ini"] = ini_form(file_bytes(mm.host_path(folder, mm.GEN_WINDOWS + "\\WIN.INI")))
    form["files"] = files_form(g, os.path.join(folder, "drives", "C"), before,
                               lambda p: mm.host_path(folder, p))
    return form


def run_sim(g, folder, program, answers, cancel):
    """The normal form after the run, and what a cancelled run changed."""
    mm.write_generated(folder, g)
    saved = [os.path.join(folder, "registry.reg"), mm.host_path(folder, mm.GEN_WINDOWS + "\\WIN.INI")]
    before = tree_names(os.path.join(folder, "drives", "C"))
    start, data = sim_form(g, folder, before), [file_bytes(p) for p in saved]
    code = subprocess.run([program, folder] + answers, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, timeout=60).returncode
    form = sim_form(g, folder, before)
    changed = compare(start, form, "before", "after") if cancel else []
    # What no call touched is saved as it was read, byte for byte.
    changed += ["%s: its bytes changed" % p for p, d in zip(saved, data)
                if cancel and file_bytes(p) != d]
    form["exit code"] = code
    return form, changed


def file_bytes(path):
    return Path(path).read_bytes() if os.path.isfile(path) else None


def windrive_key(path):
    """WINDRIVE.EXE's "R PATH" of "HKLM\\PATH" (R: the root's place in ROOT_NAMES)."""
    root, _, sub = path.partition("\\")
    return "%d %s" % (list(mm.ROOT_NAMES).index(root), sub)


def wine_script(g):
    """WINDRIVE.EXE regload lines for the machine's registry."""
    lines = ["K 4 Software\\Wine", "V %s 1 %s" % (b"Version".hex(), (g.mode.encode() + b"\0").hex()),
             "K 4 " + mm.SHELL_FOLDERS]
    lines.append("V %s 1 %s" % (b"Programs".hex(), (g.programs.encode("cp1252") + b"\0").hex())
                 if g.programs else "X " + b"Programs".hex())
    for root, path, values, _ in g.layer.keys:
        names = [root + "\\" + path]
        # Windows 9x shows these two pairs as one key each; so must the prefix.
        for a, b in (("HKCU\\", "HKU\\.DEFAULT\\"), ("HKCC\\", "HKLM\\Config\\0001\\")):
            for x, y in ((a, b), (b, a)):
                if names[0].lower().startswith(x.lower()):
                    names.append(y + names[0][len(x):])
        for name in names:
            lines.append("K " + windrive_key(name))
            for value_name, kind, data in values:
                kind, data = value_bytes(kind, data)
                lines.append("V %s %d %s" % ((value_name or "").encode("cp1252").hex() or "-",
                                             kind, data.hex()))
    return "\n".join(lines) + "\n"


def wine_form(g, run, args, before):
    """The prefix's normal form, read in its session."""
    drive_c, tops = run.wine.drive_c, watched(g)
    listing = os.path.join(run.logs, "watched.txt")
    Path(listing).write_text("".join(windrive_key(t) + "\n" for t in tops))
    dump = run.wine.wine(args.windrive, "regdump", windows_path(listing)).stdout.decode("latin-1")
    keys = {}
    for kind, *rest in (line.split(" ") for line in dump.splitlines()):
        if kind == "K":
            key = bytes.fromhex(rest[0]).decode("cp1252")
            values = keys[list(mm.ROOT_NAMES)[int(key[0])] + "\\" + key[2:]] = []
        elif kind == "V":
            values.append((bytes.fromhex(rest[0]).decode("cp1252"), int(rest[1]),
                           bytes.fromhex(rest[2])))
    form = registry_form(keys, tops)
    form["win.ini"] = ini_form(file_bytes(winefix.unix_path(drive_c, mm.GEN_WINDOWS + "\\win.ini")))
    form["files"] = files_form(g, drive_c, before, lambda p: winefix.unix_path(drive_c, p),
                               WINE_OWN)
    return form


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run_wine(g, run, args, steps, cancel):
    """As run_sim, in the run's prefix, driven through steps."""
    drive_c, changed = run.wine.drive_c, []
    place = lambda top, path: winefix.unix_path(top, path, make_dirs=True)  # noqa: E731
    run.wine.start_session()
    script = os.path.join(run.logs, "machine.txt")
    Path(script).write_text(wine_script(g))
    run.wine.wine(args.windrive, "regload", windows_path(script))
    # After the session's start, which works through WININIT.INI itself.
    mm.write_tree(drive_c, g, place)
    Path(place(drive_c, mm.GEN_WINDOWS + "\\win.ini")).write_bytes(g.win_ini)
    before = tree_names(drive_c, WINE_OWN)
    start = wine_form(g, run, args, before) if cancel else None
    run.drive(steps)
    # Wine's restart steps run at once, in a process of their own.
    if not run.wine.wait_for_exit("wineboot.exe", winefix.RESTART_TIMEOUT_S):
        raise RuntimeError("the restart steps did not end")
    form = wine_form(g, run, args, before)
    if cancel:
        changed = compare(start, form, "before", "after")
    form["exit code"] = run.code
    return form, changed


def with_program(g, program):
    """g with the program itself where its installer put it."""
    g.layer.files = [(p, program if p.lower() == PROGRAM else d, s) for p, d, s in g.layer.files]
    return g


def run_both(g, args, base, display, name, case, shots=None):
    """The machine g on both sides, the user's answers in case (Wine's
    steps, the simulated program's options): the lines in which they
    disagree, and the Wine run."""
    steps, answers = case
    cancel = "--restart" not in answers
    folder = os.path.join(args.work, name)
    shutil.rmtree(folder, ignore_errors=True)
    sim, changed = run_sim(g, os.path.join(folder, "sim"), args.sim, answers, cancel)
    lines = ["cancelled, sim changed " + line for line in changed]
    run = winefix.Run(args, base, folder, display, shots)
    try:
        wine, changed = run_wine(g, run, args, steps, cancel)
        for _, _, how in WINE_DIFFERENCES:
            if callable(how):
                how(sim, wine)
        lines += compare(sim, wine) + ["cancelled, wine changed " + line for line in changed]
    except Exception as e:  # noqa: BLE001 (one run fails, the rest go on)
        lines.append("wine: %s: %s" % (type(e).__name__, e))
    finally:
        run.finish()
    return lines, run


# ------------------------------------------------------------- comparing

def shown(state):
    if isinstance(state, bytes):
        return repr(state)[1:] if len(state) <= SHOWN else sized(state)
    return "absent" if state is None else str(state)


def compare(sim, wine, a_name="sim", b_name="wine"):
    """A line for each item in which two normal forms differ."""
    lines = []
    for key in sorted(set(sim) | set(wine), key=str):
        a, b = sim.get(key), wine.get(key)
        if key == "files":
            for path in sorted(set(a) | set(b)):
                if a.get(path) != b.get(path):
                    lines.append("file %s: %s %s, %s %s" % (path, a_name, shown(a.get(path)),
                                                             b_name, shown(b.get(path))))
        elif key == "win.ini" and a and b and a != b:
            sa, sb = [s[0] for s in a], [s[0] for s in b]
            if sa != sb:
                lines.append("win.ini sections: %s %s, %s %s" % (a_name, sa, b_name, sb))
            for x, y in zip(a, b):
                if x != y and x[0] == y[0]:
                    lines.append("win.ini [%s]: %s %s, %s %s" % (x[0], a_name, x[1], b_name, y[1]))
        elif a != b:
            lines.append("%s: %s %s, %s %s" % (key, a_name, "absent" if a is None else a,
                                                b_name, "absent" if b is None else b))
    return lines


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=1)
    parser.add_argument("--seed", type=int, default=1, help="the first seed (default 1)")
    parser.add_argument("--mode", choices=sorted(mm.GEN_BUILDS))
    parser.add_argument("--seeds", metavar="FILE", help="run the MODE SEED lines of FILE")
    args = parse_args(parser, argv)
    if args.seeds:
        runs = [(int(s), m) for m, s in (line.split("#")[0].split() for line in
                                         Path(args.seeds).read_text().splitlines()
                                         if line.split("#")[0].strip())]
    else:
        runs = [(s, args.mode) for s in range(args.seed, args.seed + args.count)]
    return winefix.run_all("differential", args, [
        functools.partial(one_machine, args, seed, mode) for seed, mode in runs],
        "%d of %d machines agree")


def one_machine(args, seed, mode, base, display, program):
    started, g = time.monotonic(), with_program(mm.generated_machine(seed, mode), program)
    cancel = seed % CANCEL_EVERY == 0
    name = "seed-%d-%s" % (seed, g.mode)
    lines, _ = run_both(g, args, base, display, name, CANCEL if cancel else OK_YES)
    print("%-5s seed %d %s%s %5.1f s" % ("ok" if not lines else "DIFF", seed, g.mode,
                                         " cancel" if cancel else "", time.monotonic() - started))
    for line in lines:
        print("      " + line, flush=True)
    if not lines and not args.keep:
        shutil.rmtree(os.path.join(args.work, name), ignore_errors=True)
    return not lines


def parse_args(parser, argv):
    """With the options both scripts take; WINDRIVE.EXE lies beside the program."""
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "win32", "BR32UNIN.EXE"))
    parser.add_argument("--sim", default=os.path.join(ROOT, "build", "host", "br32unin-sim"))
    parser.add_argument("--work", default=os.environ.get(
        "WINE_SUITE_WORK", os.path.join(ROOT, "build", "wine")), help="prefixes and logs go here")
    parser.add_argument("--keep", action="store_true", help="keep every machine and prefix")
    args = parser.parse_args(argv)
    args.exe, args.work = os.path.abspath(args.exe), os.path.abspath(args.work)
    args.windrive = os.path.join(os.path.dirname(args.exe), "WINDRIVE.EXE")
    return args


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
