#!/usr/bin/env python3
"""BR32UNIN.EXE under Wine held against the simulated machine (README.md):
the sample machine through the scenarios in each mode, or generated machines
(--count, --seeds). Each run goes through br32unin-sim in a machine folder and
through BR32UNIN.EXE in a fresh Wine prefix, the user answering alike; both end
states are read into one normal form and compared, known differences of Wine
aside (WINE_DIFFERENCES), and what only Wine shows is checked (check_run).
One Wine per run (choose_arch): the shipped build/win32/BR32UNIN.EXE under
32-bit Wine where this machine runs a 32-bit program to its end, else the same
sources built for x86_64 (build/win64) under the 64-bit loader.
Exit status: 0 all passed, 1 some failed, 77 Wine cannot run here (1 if CI=true).
"""

import argparse
import codecs
import collections
import concurrent.futures
import contextlib
import fcntl
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import make_machines as mm  # noqa: E402


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
# Caption: screenshot name, {control id: (class, text)}; 65535 is a message box's text.
DIALOGS = {
    WELCOME: ("welcome", {1: ("Button", b"OK"), 2: ("Button", b"Cancel"),
                          1000: ("Static", TEXTS["WELCOME_TEXT"])}),
    PROGRESS: ("progress", {1007: ("Static", TEXTS["PROGRESS_TEXT"]),
                            1008: ("msctls_progress32", None)}),
    COMPLETION: ("completion", {6: ("Button", b"&Yes"), 7: ("Button", b"&No"),
                                65535: ("Static", TEXTS["COMPLETION_TEXT"])}),
    CANCELLED: ("cancelled", {1: ("Button", b"OK"), 65535: ("Static", TEXTS["CANCEL_TEXT"])}),
}
# Name: steps (the dialog that must come up, the user's answer: see
# Run.answer), br32unin-sim's options for the same answers, the sample
# machine's variant (SAMPLE_VARIANTS; win98 mode only) or None.
OK = [(WELCOME, "click 1"), (PROGRESS, "watch")]
SCENARIOS = {
    "ok_no": ([(WELCOME, "key Return"), (PROGRESS, "watch"), (COMPLETION, "click 7")],
              "--welcome ok --restart no", None),
    "ok_yes": (OK + [(COMPLETION, "click 6")], "--welcome ok --restart yes", None),
    "ok_yes_pending": (OK + [(COMPLETION, "click 6")], "--welcome ok --restart yes", "pending"),
    "ok_yes_sections": (OK + [(COMPLETION, "click 6")], "--welcome ok --restart yes", "sections"),
    "ok_yes_busy": (OK + [(COMPLETION, "click 6")], "--welcome ok --restart yes", "busy"),
    "ok_yes_stale": (OK + [(COMPLETION, "click 6")], "--welcome ok --restart yes", "stale"),
    "ok_yes_acted": (OK + [(COMPLETION, "click 6")], "--welcome ok --restart yes", "acted"),
    "ok_no_alone": (OK + [(COMPLETION, "click 7")], "--welcome ok --restart no", "alone"),
    "ok_no_other_device": (OK + [(COMPLETION, "click 7")], "--welcome ok --restart no", "other_device"),
    "ok_no_copy": (OK + [(COMPLETION, "click 7")], "--welcome ok --restart no", "copy"),
    "ok_no_other_infs": (OK + [(COMPLETION, "click 7")], "--welcome ok --restart no", "other_infs"),
    "cancel": ([(WELCOME, "click 2"), (CANCELLED, "key Return")], "--welcome cancel", None),
    "escape": ([(WELCOME, "key Escape"), (CANCELLED, "click 1")], "--welcome escape", None),
    "welcome_closebox": ([(WELCOME, "closebox"), (CANCELLED, "click 1")], "--welcome close",
                         None),
    # The simulated user cannot close the progress dialog: nothing changes, as after Cancel.
    "progress_closebox": ([(WELCOME, "click 1"), (PROGRESS, "close-early"),
                           (CANCELLED, "click 1")], "--welcome cancel", None),
}
# WININIT.INI before the run, and the file its line names: another program's
# deletion pending, its last line without a line end, then the 0x1A that old
# editors leave; or that line's section followed by another one, as a driver
# installation waiting for the restart leaves it; "stale": the same beside
# the BR32WIN.OLD that an earlier run left; "acted": that BR32WIN.OLD alone
# after a start acted on the file it was swapped for, and C:\OLD.TMP made
# again since, which must stay. "busy": BR32SHEL.DLL held open
# during the removal, as Explorer holds a shell extension. "alone": ours is
# the only printer, and the default: no default is left. "other_device":
# device= names the other printer, the registry's Default ours: Default
# then names the other printer. "copy": a second printer of ours listed
# first, as Windows names it, with its printers' key and sections: all of it
# goes, and the other maker's printer becomes the default. "other_infs"
# (win95 mode): other makers' oem*.inf files that hold BR32STAT.EXE as a word
# (in [Strings], a comment, a copy list) but never name our printer stay; one
# that names it too goes with ours. Both are held against the generator's
# marks (marks_missed).
SECTIONS = b"[rename]\r\nNUL=C:\\OLD.TMP\r\n[CombineVxDs]\r\nC:\\WINDOWS\\SYSTEM\\VMM32.VXD=1\r\n"
SAMPLE_VARIANTS = {
    "pending": b"[rename]\r\nNUL=C:\\OLD.TMP\x1a",
    "sections": SECTIONS,
    "stale": SECTIONS,
    "acted": None,
    "busy": None,
    "alone": None,
    "other_device": None,
    "copy": None,
    "other_infs": None,
}
# The modes of a variant's scenario; win98 where not said.
VARIANT_MODES = {"other_infs": ["win95"]}
MODES = ["win98", "win95", "winxp"]
CANCEL_EVERY = 10  # every tenth generated machine the user cancels
SIM_ONLY_RUNS = 4  # --sim-only's runs at once
PROGRAM = (mm.GEN_SYSTEM + "\\BR32UNIN.EXE").lower()
KEPT = 4096  # bytes of a file kept in the normal form; larger files by size and a hash
SHOWN = 48  # bytes of a file shown in a report
# This Wine does not look in fonts-wine's folder: without these the close box
# draws as the letter "r" and the texts in a fallback face.
FONTS = ["/usr/share/wine/fonts/" + f for f in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf")]
# Bounds on waits for events (each wait ends at its event; a bound reached
# says what it waited for and what it saw). Far above what each takes on a
# loaded machine: a Wine process starts in some 1 to 20 s, a dialog shows
# within seconds of its cause, the restart steps take a few seconds.
DIALOG_TIMEOUT_MS = 180000  # WINDRIVE.EXE's wait for a dialog
READY_TIMEOUT_S = 180       # a WINDRIVE.EXE process looking for its dialog
EXIT_TIMEOUT_S = 180        # the program's end after the last answer
WATCHER_TIMEOUT_S = 60      # the bar's watcher's end once the program ended
RESTART_TIMEOUT_S = 180     # the restart steps through WININIT.INI
# Lines WINDRIVE.EXE prints of its own wait (windrive.cpp), not its output.
STATUS_LINES = re.compile(rb"^(waiting|found|held|clicked)\r?\n", re.M)
# Debian's two loaders (the wine command takes the 32-bit one whenever it is
# installed, even where it cannot run), and what each path runs.
LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}
PATHS = {"win32": "the shipped program under 32-bit Wine",
         "win64": "the same sources built for x86_64 under 64-bit Wine"}
WINEDEBUG = "-all,err+all"
# Wine's bar wraps below its minimum: from 0 a step of -2 shows 138, and the
# 70th step 0 (the 69th 2, the 71st 138 again).
BAR_STEPS = [(0, 138)] + [(p, p - 2) for p in range(138, 0, -2)]
# Wine's trace of its progress bars (+progress, +timestamp): a message to a
# bar, a move it made (a step, or set or moved by so much), its creation,
# its drawing. Its time is "%3u.%03u" of a 32-bit count of milliseconds:
# padded with blanks below 100 s, and back to 0 every 49.7 days.
BAR_TRACE = re.compile(r"(?m)^ *(\d+\.\d+):([0-9a-f]+):trace:progress:(?:(PROGRESS_Draw) |\w+ (?:"
                       r"hwnd ([0-9A-F]+), msg 04|PBM_(\w+): current pos changed from (-?\d+) "
                       r"to (-?\d+)|(Progress Ctrl creation)))")
TRACE_WRAP_S = 2 ** 32 / 1000
# Wine's timers tick at most every 10 ms, and a tick is due only after the
# one fetched: two ticks on, more than 10 ms have passed. A step's trace is
# written before the next tick is fetched, so however late either is
# written, any step's is more than 10 ms before the third after it's
# (9 ms: the trace's times are whole milliseconds).
BAR_TICKS_S = 0.009
# Every Wine process starts without address space randomization, and the
# processes Wine starts inherit that. Debian's 64-bit loader has no preloader:
# it is a plain executable at 0x7d000000, and this kernel starts its heap (brk)
# anywhere in the 1 GiB above it (older kernels: 32 MiB). A heap that reaches
# 0x7ffe0000, where Wine maps the shared user data, ends the process before
# its first line, exit 1, "failed to map the shared user data: c0000018":
# some one in a few thousand Wine processes, a scenario failed now and then.
FIXED_LAYOUT = ["setarch", os.uname().machine, "-R"]
# Natively a 32-bit prefix is made in some 6 s; under a user-mode CPU
# emulator it takes minutes.
PROBE_TIMEOUT_S = 90


def sample_machine(mode, variant):
    """The sample machine's installation and decoys (winxp: win98's, on the
    NT paths) as a generated machine, in a variant of SAMPLE_VARIANTS."""
    g = mm.Generated(0, mode)
    programs = mm.GEN_WINDOWS + "\\Start Menu\\Programs"
    layers = [mm.driver_installation(g.build), mm.decoys(g.build)]
    for layer in layers:
        g.layer.keys += layer.keys
        g.layer.files += [(mm.relocate(p, programs), d, s) for p, d, s in layer.files]
    g.programs, g.win_ini = programs, mm.win_ini(layers)
    if variant == "busy":
        g.busy.append(mm.GEN_SYSTEM + "\\BR32SHEL.DLL")
    elif variant == "alone":
        g.win_ini = re.sub(rb"(?m)^" + re.escape(mm.OTHER.encode()) + rb"=[^\r\n]*\r?\n", b"", g.win_ini)
    elif variant == "other_device":
        g.win_ini = re.sub(rb"(?m)^device=[^\r\n]*", b"device=" + mm.OTHER.encode() + b",OSJET4,LPT2:", g.win_ini)
        g.must_default = mm.OTHER
    elif variant == "copy":
        mm.add_printer(g, mm.COPY, "BR32jp,LPT2:", True, {"HKLM": mm.DRIVER, "HKCC": None},
                       ["LPT2", "LPT1", "FILE", "COM1"])
        g.defaults = (mm.DRIVER + ",BR32jp,LPT1:", mm.DRIVER)
    elif variant == "other_infs":
        ours = [(p, d) for p, d, _ in g.layer.files if p.lower().endswith("\\inf\\oem3.inf")]
        g.marked.files += [(p, d, False) for p, d in ours]
        texts = [(t, True) for t in mm.OTHER_MAKERS_INFS[:3]] + [(mm.OUR_PRINTER_INFS[0][0], False)]
        for n, (text, stays) in enumerate(texts):
            for layer in (g.layer, g.marked):
                layer.file(mm.GEN_WINDOWS + "\\INF\\oem%d.inf" % (7 + n), text, stays=stays)
        g.defaults = (mm.DRIVER + ",BR32jp,LPT1:", mm.DRIVER)
    elif variant == "acted":
        g.layer.file(mm.GEN_WINDOWS + "\\BR32WIN.OLD", SECTIONS)
        g.layer.file(mm.GEN_WINDOWS + "\\WININIT.BAK", SECTIONS.replace(b"[Combine", b"NUL=C:\\X.DLL\r\n[Combine"))
        g.layer.file("C:\\OLD.TMP", b"new\r\n")
        g.must_stay = ["C:\\OLD.TMP"]
    elif variant:
        g.wininit = SAMPLE_VARIANTS[variant]
        g.layer.file("C:\\OLD.TMP", b"old\r\n")
        if variant == "stale":
            g.layer.file(mm.GEN_WINDOWS + "\\BR32WIN.OLD", b"[rename]\r\n")
    return g


# ------------------------------------------------------------ Wine's ways

def first_rename_only(sim, wine):
    """Paths named in the second and later [rename] sections of wininit.bak:
    left out on both sides."""
    text = sim.get("file c:\\windows\\wininit.bak")
    if not isinstance(text, bytes):
        return
    for section in re.split(rb"(?im)^\s*\[rename\]\s*$", text)[2:]:
        section = re.split(rb"(?m)^\s*\[", section)[0]
        for line in section.decode("cp1252").splitlines():
            dest, _, src = line.strip().partition("=")
            for p in (src, dest if dest.upper() != "NUL" else ""):
                p = p if ":" in p else mm.GEN_WINDOWS + "\\" + p
                for side in (sim, wine):
                    side.pop("file " + p.lower(), None)


# (name, why, how): each known difference of Wine from Windows 9x, and where
# it is dealt with. A "prefix" entry is set up so that it cannot show; a
# function is applied to both normal forms before they are compared.
WINE_DIFFERENCES = [
    ("system32", "Wine's directories are C:\\windows, C:\\windows\\system32",
     "generated machines have them on both sides"),
    ("HKEY_CURRENT_CONFIG", "volatile, made in each session, stored apart from HKLM\\Config\\0001",
     "prefix: written as volatile keys in the run's session, under both names"),
    ("HKEY_CURRENT_USER", "Wine's is a hive of its own, not HKEY_USERS\\.DEFAULT",
     "prefix: written under both names"),
    ("WIN.INI in the registry", "IniFileMapping sends [Devices], [PrinterPorts], [windows] and "
     "others to the registry, as on NT", "prefix: no IniFileMapping\\win.ini, WIN.INI is a file"),
    ("first [rename] only", "Wine's wineboot reads only the first [rename] section of "
     "WININIT.INI; Windows 9x every one", first_rename_only),
    ("Wine's working folders", "Wine's processes write in C:\\users, C:\\windows\\temp, "
     "C:\\windows\\logs", "not searched there for files that came or went (WINE_OWN)"),
]
WINE_OWN = {"c:\\users", "c:\\windows\\temp", "c:\\windows\\logs"}


# ------------------------------------------------------------ the normal form

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
    return name, 3 if kind == "hex" else int(kind[4:-1], 16), bytes.fromhex(hexes.replace(",", ""))


def normal_form(g, keys, drive_c, before, skip=()):
    """keys: {path: [(name, type, bytes)]}, drive_c: C:'s host folder. Items: the
    keys at or below those watched, WIN.INI (ini_form), the files (files_form)."""
    tops = tuple((root + "\\" + path + "\\").lower() for root, path in g.watched_keys())
    form = {"registry " + key.lower(): sorted("%s = %d:%s" % (n, t, d.hex()) for n, t, d in values)
            for key, values in keys.items() if (key + "\\").lower().startswith(tops)}
    form.update(ini_form(file_bytes(unix_path(drive_c, mm.GEN_WINDOWS + "\\win.ini"))))
    form.update(files_form(g, drive_c, before, skip))
    return form


def ini_form(data):
    """WIN.INI's sections in file order, and each section's stripped lines."""
    if data is None:
        return {"win.ini": None}
    sections = [(None, [])]
    for line in re.split(r"\r?\n", data.decode("cp1252")):
        line = line.strip()
        if line.startswith("["):
            sections.append((line[1:].split("]")[0].strip(), []))
        elif line:
            key, sep, value = line.partition("=")
            sections[-1][1].append((key.strip(), value.strip()) if sep else (line, None))
    form = {"win.ini": [name for name, _ in sections]}
    form.update(("win.ini %d [%s]" % (i, name), lines) for i, (name, lines) in enumerate(sections))
    return form


def file_bytes(path):
    return Path(path).read_bytes() if os.path.isfile(path) else None


def sized(data):
    return "%d bytes %s" % (len(data), hashlib.sha256(data).hexdigest()[:12])


def tree_names(top, skip=()):
    """Every path below top as a lower-case machine path -> host path, not
    looking into the folders in skip."""
    names = {}
    for folder, dirs, files in os.walk(top):
        rel = os.path.relpath(folder, top).replace("/", "\\").lower()
        here = "c:" if rel == "." else "c:\\" + rel
        dirs[:] = [d for d in dirs if here + "\\" + d.lower() not in skip]
        names.update((here + "\\" + n.lower(), os.path.join(folder, n)) for n in dirs + files)
    return names


def files_form(g, drive_c, before, skip):
    """The machine's files and folders and the folders above them, and
    whatever came or went beside them: bytes (size and hash when large),
    "folder" or None."""
    after = tree_names(drive_c, skip)
    paths = set(before) ^ set(after)
    for path in [p for p, _, _ in g.layer.files] + g.folders + [mm.GEN_WINDOWS + "\\wininit.ini"]:
        while len(path) > 3:
            paths.add(path.lower())
            path = path.rsplit("\\", 1)[0]
    form = {}
    for path in paths:
        host = after.get(path) or unix_path(drive_c, path)
        data = "folder" if os.path.isdir(host) else file_bytes(host)
        form["file " + path] = sized(data) if isinstance(data, bytes) and len(data) > KEPT else data
    return form


# ------------------------------------------------------------- the two sides

def sim_form(g, folder, before):
    """The machine folder's normal form."""
    text = re.sub(r"\\\r?\n\s*", "", Path(folder, "registry.reg").read_bytes().decode("cp1252"))
    keys, views = {}, {}
    for line in text.replace("\r\n", "\n").split("\n")[1:]:
        if line.startswith("["):
            values = keys.setdefault(line[1:-1], [])
        elif line:
            values.append(parse_reg_value(line))
    # The views that Windows 9x shows of its two stored roots.
    for short, stored in mm.WIN9X_STORAGE.items():
        views.update((short + path[len(stored):], values) for path, values in keys.items()
                     if path.lower().startswith(stored.lower() + "\\"))
    return normal_form(g, views, os.path.join(folder, "drives", "C"), before)


def run_sim(g, folder, program, options, cancel):
    """The normal form after the run, and what a cancelled run changed."""
    mm.write_generated(folder, g)
    saved = [os.path.join(folder, "registry.reg"),
             mm.host_path(folder, mm.GEN_WINDOWS + "\\WIN.INI")]
    data, before = [file_bytes(p) for p in saved], tree_names(os.path.join(folder, "drives", "C"))
    start = sim_form(g, folder, before)
    code = subprocess.run([program, folder] + options, capture_output=True, timeout=300).returncode
    form = sim_form(g, folder, before)
    changed = compare(start, form, "before", "after") if cancel else []
    # What no call touched is saved as it was read, byte for byte.
    changed += ["%s: its bytes changed" % p for p, d in zip(saved, data)
                if cancel and file_bytes(p) != d]
    form["exit code"] = code
    return form, changed


def windrive_key(root, path):
    """WINDRIVE.EXE's "R PATH" (R: the root's place in mm.ROOT_NAMES)."""
    return "%d %s" % (list(mm.ROOT_NAMES).index(root), path)


def value(name, kind, data):
    """WINDRIVE.EXE regload's line of a value as make_machines describes it."""
    if kind == "sz":
        kind, data = 1, data.encode("cp1252") + b"\0"
    elif kind == "dword":
        kind, data = 4, data.to_bytes(4, "little")
    else:
        kind, data = (3, data) if kind == "hex" else data
    return "V %s %d %s" % ((name or "").encode("cp1252").hex() or "-", kind, data.hex())


def wine_script(g):
    """WINDRIVE.EXE regload lines for the machine's registry."""
    lines = ["K 4 Software\\Wine", value("Version", "sz", g.mode), "K 4 " + mm.SHELL_FOLDERS,
             value("Programs", "sz", g.programs) if g.programs else "X " + b"Programs".hex()]
    for root, path, values, _ in g.layer.keys:
        names = [root + "\\" + path]
        # Windows 9x shows these two pairs as one key each; so must the prefix.
        for a, b in (("HKCU\\", "HKU\\.DEFAULT\\"), ("HKCC\\", "HKLM\\Config\\0001\\")):
            for x, y in ((a, b), (b, a)):
                if names[0].lower().startswith(x.lower()):
                    names.append(y + names[0][len(x):])
        for name in names:
            lines += ["K " + windrive_key(*name.split("\\", 1))] + [value(*v) for v in values]
    return "\n".join(lines) + "\n"


def wine_form(g, run, before):
    """The prefix's normal form, read in its session."""
    tops = "".join(windrive_key(*key) + "\n" for key in set(g.watched_keys()))
    dump = run.wine(run.args.windrive, "regdump", input=tops.encode("cp1252")).stdout
    keys = {}
    for kind, *rest in (line.split(" ") for line in dump.decode("latin-1").splitlines()):
        if kind == "K":
            key = bytes.fromhex(rest[0]).decode("cp1252")
            values = keys[list(mm.ROOT_NAMES)[int(key[0])] + "\\" + key[2:]] = []
        elif kind == "V":
            values.append((bytes.fromhex(rest[0]).decode("cp1252"), int(rest[1]),
                           bytes.fromhex(rest[2])))
    return normal_form(g, keys, run.drive_c, before, WINE_OWN)


class WineStartUp(Exception):
    """Wine's own start-up failed, before the program had a part in it."""


def start_wine(g, run):
    """The session started and the machine put into the prefix: Wine's own
    start-up, which is all that may be tried again (run_case)."""
    try:
        run.start_session()
        run.wine(run.args.windrive, "regload", input=wine_script(g).encode("cp1252"))
    except (subprocess.TimeoutExpired, RuntimeError, OSError) as e:
        raise WineStartUp(str(e).strip()[-300:]) from e
    # After the session's start, which works through WININIT.INI itself.
    mm.write_tree(run.drive_c, g, unix_path)
    Path(unix_path(run.drive_c, mm.GEN_WINDOWS + "\\win.ini")).write_bytes(g.win_ini)


def run_wine(g, run, steps, restart):
    """The prefix's normal form after the run, driven through steps. A
    cancelled run needs no form of its own from before: the simulated
    machine's is the same, and its after must be Wine's."""
    start_wine(g, run)
    before = tree_names(run.drive_c, WINE_OWN)
    run.wininit_before = g.wininit
    for path in g.busy:
        run.hold(path, steps[-1][0])
    run.drive(steps)
    if restart:
        run.wait_for_restart()
    else:
        run.pending = pending_renames(run)
    return dict(wine_form(g, run, before), **{"exit code": run.code})


def pending_renames(run):
    """The paths NT deletes at its next start (PendingFileRenameOperations:
    pairs of source and target, an empty target deleting), as C: paths."""
    dump = run.wine(run.args.windrive, "regdump",
                    input=(windrive_key("HKLM", "System\\CurrentControlSet\\Control\\Session Manager")
                           + "\n").encode()).stdout
    for line in dump.decode("latin-1").splitlines():
        kind, *rest = line.split(" ")
        if kind == "V" and bytes.fromhex(rest[0]) == b"PendingFileRenameOperations":
            items = bytes.fromhex(rest[2]).decode("cp1252").split("\0")
            return sorted(s.replace("\\??\\", "").lower() for s, t in zip(items[::2], items[1::2])
                          if s and not t)
    return []


def shown(state):
    return sized(state) if isinstance(state, bytes) and len(state) > SHOWN else repr(state)


def compare(a, b, a_name="sim", b_name="wine"):
    """A line for each item in which two normal forms differ."""
    return ["%s: %s %s, %s %s" % (key, a_name, shown(a.get(key)), b_name, shown(b.get(key)))
            for key in sorted(set(a) | set(b)) if a.get(key) != b.get(key)]


# ------------------------------------------------------------- the generator's marks

def wanted_missed(g, form, cancel):
    """What a run left otherwise than the machine wants: the files it names
    to stay, the registry's Default it names, and after a finished run the
    generator's marks."""
    problems = ["%s is gone" % p for p in getattr(g, "must_stay", [])
                if not isinstance(form.get("file " + p.lower()), bytes)]
    if hasattr(g, "must_default"):
        want = "Default = 1:" + (g.must_default.encode("cp1252") + b"\0").hex()
        printers = [v for k, v in form.items() if k.endswith("\\control\\print\\printers")]
        if not printers or want not in printers[0]:
            problems.append("the registry's Default is not %s: %r" % (g.must_default, printers))
    return problems + ([] if cancel else marks_missed(g, form))


def marks_missed(g, form):
    """A line for each item the generator marked (g.marked) that a finished
    run's normal form holds otherwise than marked, and for device= and the
    registry's Default where they are not what mm.defaults_after says."""
    def there(found):
        return "there" if found else "gone"
    problems = []
    for root, path, _, stays in g.marked.keys:
        found = "registry " + (root + "\\" + path).lower() in form
        if found != stays:
            problems.append("%s\\%s: %s, wanted %s" % (root, path, there(found), there(stays)))
    for path, _, stays in g.marked.files:
        found = isinstance(form.get("file " + path.lower()), bytes)
        if found != stays:
            problems.append("%s: %s, wanted %s" % (path, there(found), there(stays)))
    sections = [(name or "", form["win.ini %d [%s]" % (i, name)])
                for i, name in enumerate(form.get("win.ini") or [])]

    def lines(section):
        return [line for name, held in sections if name.lower() == section.lower() for line in held]
    for section, key, _, stays in g.marked.profile:
        found = any(k.lower() == key.strip().lower() for k, _ in lines(section)) \
            if key is not None else any(name.lower() == section.lower() for name, _ in sections)
        if found != stays:
            problems.append("WIN.INI [%s]%s: %s, wanted %s" % (
                section, "" if key is None else " " + key, there(found), there(stays)))
    want = mm.defaults_after(g)
    if want is not None:
        device = next((v for k, v in lines("windows") if k.lower() == "device"), None)
        values = form.get("registry hkcc\\" + (mm.PRINT + "\\Printers").lower()) or []
        default = next((bytes.fromhex(v.split(":", 1)[1]).rstrip(b"\0").decode("cp1252")
                        for v in values if v.lower().startswith("default = 1:")), None)
        for what, got, wanted in (("device=", device, want[0]), ("Default", default, want[1])):
            if got != wanted:
                problems.append("%s %r, wanted %r" % (what, got, wanted))
    return problems


# ------------------------------------------------------------- what only Wine shows

# A move of a progress bar: its window, (from, to) for a step, else (how,
# from, to), when, and whether the bar was drawn before the next move.
BarMove = collections.namedtuple("BarMove", "bar move seconds drawn")


def bar_steps(trace):
    """Each move of a progress bar in Wine's trace (BarMove), and how many
    bars it made."""
    steps, sent, bars = [], {}, 0
    for time_s, thread, drawn, hwnd, how, a, b, made in BAR_TRACE.findall(trace):
        if hwnd:
            sent[thread] = hwnd
        elif how:
            move = (int(a), int(b)) if how == "STEPIT" else ("PBM_" + how, int(a), int(b))
            steps.append(BarMove(sent.get(thread), move, float(time_s), False))
        elif made:
            bars += 1
        elif steps:
            steps[-1] = steps[-1]._replace(drawn=True)
    return steps, bars


def check_run(run, mode, restart):
    problems = [] if run.code == 2 else ["exit code %d, wanted 2" % run.code]
    for caption, seen in run.dialogs.items():
        want = dict(DIALOGS[caption][1], dialog=("#32770", caption.encode("cp1252")))
        for cid, (cls, text) in want.items():
            got = seen.get(cid)
            if not got or got[0].lower() != cls.lower() or text is not None and got[2] != text:
                problems.append("dialog %r, %s: %r, wanted %r" % (caption, cid, got, text))
    bar = run.dialogs.get(PROGRESS, {}).get(1008)
    if bar and not bar[1] & 0x2000:
        problems.append("progress bar: no WS_EX_RTLREADING (%r)" % (bar,))
    # Every step as the control made it, from Wine's trace of it: a run that
    # was not cut short makes all 70, one cut short the first few.
    steps = [step.move for step in run.steps]
    if steps != BAR_STEPS[:len(steps)] or run.positions is not None and steps != BAR_STEPS:
        wrong = next((i for i, move in enumerate(steps) if BAR_STEPS[i:i + 1] != [move]), None)
        problems.append("progress bar: Wine traced %d moves%s, wanted %s70 steps of -2 from 0"
                        % (len(steps), "" if wrong is None else ", move %d %r" % (wrong + 1, steps[wrong]),
                           "the first few of " if run.positions is None else ""))
    # ... all of them to the dialog's one bar, each drawn at once (the bar was
    # on screen), on ticks of their own rather than in one go.
    bars = {step.bar for step in run.steps}
    if run.bars > 1 or len(bars) > 1:
        problems.append("progress bar: %d bars made, steps to %s, wanted one"
                        % (run.bars, sorted(bars)))
    undrawn = [i + 1 for i, step in enumerate(run.steps) if not step.drawn]
    if undrawn:
        problems.append("progress bar: %d of %d steps not drawn, the first step %d: not on screen"
                        % (len(undrawn), len(run.steps), undrawn[0]))
    gaps = [(b.seconds - a.seconds) % TRACE_WRAP_S for a, b in zip(run.steps, run.steps[3:])]
    if gaps and min(gaps) < BAR_TICKS_S:
        first = gaps.index(min(gaps))
        problems.append("progress bar: steps %d to %d within %.3f s, wanted a tick each"
                        % (first + 1, first + 4, min(gaps)))
    # The watcher, another process, samples the bar once the dialog shows: at
    # its start, 0, or after the first few steps. A loaded machine may hold
    # it back for longer than the last steps and the removal take, so its
    # samples need not reach 0, but they must fall as the steps do.
    seen = run.positions[1:] if run.positions and run.positions[:1] == [0] else run.positions
    if seen is not None and (any(p not in range(0, 139, 2) for p in seen)
                             or any(b >= a for a, b in zip(seen, seen[1:]))):
        problems.append("progress bar: positions %r, wanted steps of 2 falling from 138" % seen)
    # NT's own list for its next start: every path WININIT.INI names on NT,
    # none on Windows 9x (checked after No, before any restart works through it).
    if run.pending is not None:
        ini = file_bytes(unix_path(run.drive_c, mm.GEN_WINDOWS + "\\wininit.ini")) or b""
        named = [p.lower() for p in re.findall(r"(?m)^NUL=(.*?)\r?$", ini.decode("cp1252"))]
        for p in re.findall(r"(?m)^NUL=(.*?)\r?$", (run.wininit_before or b"").decode("cp1252")):
            named.remove(p.lower())  # another program's
        named.sort()
        if run.pending != (named if mode == "winxp" else []):
            problems.append("PendingFileRenameOperations: %r, WININIT.INI names %r"
                            % (run.pending, named))
    # On NT only, and only for a restart; Wine restarts without it, so only its trace tells.
    asked = "SeShutdownPrivilege" in run.trace and "AdjustTokenPrivileges" in run.trace
    if asked != (restart and mode == "winxp"):
        token = [l for l in run.trace.splitlines() if ":advapi:" in l or ":security:" in l]
        problems.append("restart privilege enabled: %s, wanted %s (the token's trace ends %r)"
                        % (asked, not asked, token[-4:]))
    return problems


def run_case(args, name, g, scenario, base, display):
    """The machine g on both sides, the user answering as scenario says:
    True when they agree and every check passed."""
    started, (steps, options, _) = time.monotonic(), scenario
    cancel, folder = "--restart" not in options, os.path.join(args.work, name)
    shutil.rmtree(folder, ignore_errors=True)
    program = Path(args.exe).read_bytes()
    g.layer.files = [(p, program if p.lower() == PROGRAM else d, s) for p, d, s in g.layer.files]
    sim, changed = run_sim(g, os.path.join(folder, "sim"), args.sim, options.split(), cancel)
    problems = ["cancelled, sim changed " + line for line in changed]
    # A second try only where Wine's own start-up failed, never for what the
    # program did.
    for attempt in (1, 2):
        run = Run(args, base, os.path.join(folder, "wine-%d" % attempt), display)
        try:
            wine = run_wine(g, run, steps, "--restart yes" in options)
            for _, _, how in WINE_DIFFERENCES:
                if callable(how):
                    how(sim, wine)
            problems += compare(sim, wine) + check_run(run, g.mode, "--restart yes" in options)
            problems += wanted_missed(g, wine, cancel)
        except WineStartUp as e:
            if attempt == 1:
                print("        %s: Wine's start-up failed, before the program ran; trying again: %s"
                      % (name, e), flush=True)
                continue
            problems.append("wine: its start-up failed twice: %s" % e)
        except Exception as e:  # noqa: BLE001 (one run fails, the rest go on)
            problems.append("wine: %s: %s" % (type(e).__name__, e))
        finally:
            run.finish()
        break
    print("%-5s %-26s %5.1f s" % ("FAIL" if problems else "ok", name, time.monotonic() - started),
          flush=True)
    if problems:
        problems.append("screenshots: %s/shots/%s-*.png" % (args.work, name))
    for line in problems:
        print("        " + line)
    if not problems and not args.keep:
        shutil.rmtree(folder, ignore_errors=True)
    return not problems


# ------------------------------------------------------------- Wine
# One prefix and its session, the clean prefix every run copies, Xvfb, and the
# program driven through its dialogs like a user (WINDRIVE.EXE, xdotool).

class Wine:
    """Commands against one prefix on one X display."""

    def __init__(self, prefix, display, arch):
        self.prefix, self.drive_c = prefix, os.path.join(prefix, "drive_c")
        self.loader = LOADERS[arch]
        # No Mono or Gecko installer prompts when the prefix is made. Wine's
        # errors only: what it says when a process ends before its time.
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEARCH=arch, WINELOADER=self.loader,
                        WINEDEBUG=WINEDEBUG, WINEDLLOVERRIDES="mscoree=;mshtml=")
        if display:
            self.env["DISPLAY"] = display

    def run(self, *args, timeout=120, check=True, input=b""):
        """To its end; the output goes through files, as the session's first
        process starts Wine's services, which would hold a pipe open."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(FIXED_LAYOUT + list(args), env=self.env, timeout=timeout,
                                    input=input, stdout=out, stderr=err)
            out.seek(0), err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        if check and result.returncode:
            raise RuntimeError("%s: exit %d: %s" % (" ".join(args), result.returncode,
                                                    result.stderr.decode(errors="replace")))
        return result

    def wine(self, *args, **kw):
        return self.run(self.loader, *args, **kw)

    def start_session(self):
        """A server that outlives the short helper processes, and the
        session's first process done before anything else starts."""
        self.run("wineserver", "-w", timeout=60, check=False)  # a lingering one holds the lock
        self.run("wineserver", "-p", timeout=60)
        self.wine("cmd", "/c", "exit")

    def end_session(self):
        """Every process ended; the server saves the registry as it goes."""
        self.run("wineserver", "-k", timeout=60, check=False)
        self.run("wineserver", "-w", timeout=60, check=False)


def link_or_copy(src, dst):
    """Wine's own large files, which nothing writes, as hard links: a prefix
    holds some 600 MB."""
    if os.path.getsize(src) >= 65536 and not src.endswith(".reg"):
        return os.link(src, dst)
    return shutil.copy2(src, dst)


def unix_path(drive_c, path):
    """The host path of a C: path, each existing name matched regardless of case."""
    current = drive_c
    for part in path[3:].split("\\"):
        names = os.listdir(current) if os.path.isdir(current) else []
        current = os.path.join(current, next((n for n in names if n.lower() == part.lower()), part))
    return current


def wine_version(arch):
    """What the loader says of itself ("" when it cannot run here)."""
    try:
        return subprocess.run([LOADERS[arch], "--version"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=30).stdout.decode().strip()
    except (OSError, subprocess.TimeoutExpired):
        return ""


@contextlib.contextmanager
def locked(folder, name, shared=False, waiting=None):
    """Holds FOLDER/NAME locked (flock), exclusive or shared, while the with
    block runs; says waiting first when another process holds it."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "a") as lock:
        how = fcntl.LOCK_SH if shared else fcntl.LOCK_EX
        try:
            fcntl.flock(lock, how | fcntl.LOCK_NB)
        except BlockingIOError:
            if waiting:
                print(waiting, flush=True)
            fcntl.flock(lock, how)
        yield


# What runs of the suite share: the folder of the clean prefixes and of the
# answer which Wine, each made once and changed only under BASE_LOCK held
# exclusively; every copy of a clean prefix is made with it held shared.
BASE_LOCK = "base.lock"
# A run's own folder (its scenarios, logs and shots), one run at a time.
WORK_LOCK = "work.lock"


def base_prefix(work, display, arch, timeout=300):
    """A clean prefix for every run, made once per Wine version and
    architecture (BASE_LOCK held)."""
    folder = os.path.join(work, "base-" + arch)
    stamp, made_by = os.path.join(folder, "made-by"), "%s %s" % (wine_version(arch), arch)
    if os.path.exists(stamp) and Path(stamp).read_text() == made_by:
        return os.path.join(folder, "prefix")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    wine = Wine(os.path.join(folder, "prefix"), display, arch)
    try:
        wine.wine("wineboot", "-i", timeout=timeout)
    finally:
        wine.end_session()
    wine.start_session()
    # Without a window manager Wine waits 2 s for each window it closes,
    # unless it draws the windows itself.
    wine.wine("reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f")
    wine.wine("reg", "delete", "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
              "IniFileMapping\\win.ini", "/f")
    for font in FONTS:
        shutil.copy(font, unix_path(wine.drive_c, mm.GEN_WINDOWS + "\\Fonts"))
    wine.end_session()
    Path(stamp).write_text(made_by)
    return wine.prefix


def probe_win32(work):
    """Whether this machine runs 32-bit Wine well, found by trying: a 32-bit
    prefix made and a small 32-bit program run to its end in time. A kernel
    without 32-bit user code fails at once; a CPU emulator, by the clock."""
    program = os.path.join(ROOT, "build", "win32", "WINDRIVE.EXE")
    if not os.access(LOADERS["win32"], os.X_OK) or not os.path.isfile(program):
        return False, "no %s to try" % (program if os.access(LOADERS["win32"], os.X_OK)
                                        else "32-bit loader " + LOADERS["win32"])
    started = time.monotonic()
    try:
        # The loader on its own first: where the kernel runs no 32-bit code,
        # it cannot even be started (setarch would then hand it to the shell).
        subprocess.run([LOADERS["win32"], "--version"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=PROBE_TIMEOUT_S)
        wine = Wine(base_prefix(work, None, "win32", PROBE_TIMEOUT_S), None, "win32")
        try:
            wine.wine(program, "regdump", timeout=PROBE_TIMEOUT_S)
        finally:
            wine.end_session()
    except (subprocess.TimeoutExpired, RuntimeError, OSError) as e:
        shutil.rmtree(os.path.join(work, "base-win32"), ignore_errors=True)
        lines = str(e).strip().splitlines() or [type(e).__name__]
        return False, "32-bit Wine did not run WINDRIVE.EXE to its end: " + lines[-1][:160]
    return True, "32-bit Wine ran WINDRIVE.EXE to its end in %.1f s" % (time.monotonic() - started)


def choose_arch(work, forced):
    """(arch, why): --arch, else the probe's answer, kept in the folder of
    the clean prefixes for this Wine and this host (a new machine tries
    again; BASE_LOCK held)."""
    if forced:
        return forced, "chosen by --arch"
    key = "%s | %s" % (wine_version("win64") or wine_version("win32"), " ".join(os.uname()))
    kept = os.path.join(work, "wine-arch")
    if os.path.isfile(kept):
        lines = Path(kept).read_text().split("\n")
        if lines[0] == key:
            return lines[1], lines[2]
    runs, why = probe_win32(work)
    arch = "win32" if runs else "win64"
    os.makedirs(work, exist_ok=True)
    Path(kept).write_text("%s\n%s\n%s\n" % (key, arch, why))
    return arch, why


def run_all(args, cases, summary):
    """run_case for each case on one Xvfb display; prints summary % (passed,
    all) and gives the exit status (77 when something is missing, 1 then if
    CI=true)."""
    missing = [t for t in ("setarch", "wineserver", "Xvfb", "xdotool", "import") if not shutil.which(t)]
    missing += [p for p in [LOADERS[args.arch], args.exe, args.windrive, args.sim] + FONTS
                if not os.path.isfile(p)]
    xvfb = display = None
    # The X server and the clean prefix are Wine's start-up: each is tried
    # a second time if the first fails, and the log says so.
    for attempt in ((1, 2) if not missing else ()):
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        display = ":" + xvfb.stdout.readline().strip().decode()
        if display != ":":
            break
        xvfb.kill()
        xvfb.wait()
        if attempt == 1:
            print("Xvfb gave no display; trying again", flush=True)
    if display in (None, ":"):
        print("cannot run, missing: %s" % (" ".join(missing) or "Xvfb's display"))
        return 1 if os.environ.get("CI") == "true" else 77
    try:
        os.makedirs(os.path.join(args.work, "shots"), exist_ok=True)
        base = None
        for attempt in (1, 2):
            try:
                with locked(args.base, BASE_LOCK, waiting="waiting for the clean %s prefix in %s"
                            % (args.arch, args.base)):
                    base = base_prefix(args.base, display, args.arch)
                break
            except (subprocess.TimeoutExpired, RuntimeError, OSError) as e:
                why = str(e).strip()[-300:]
                if attempt == 1:
                    print("the clean %s prefix could not be made; trying again: %s" % (args.arch, why),
                          flush=True)
        if base is None:
            print("cannot run, no %s prefix: %s" % (args.arch, why))
            return 1 if os.environ.get("CI") == "true" else 77
        passed = sum(run_case(args, *case, base, display) for case in cases)
    finally:
        xvfb.terminate()
        xvfb.wait(10)
    print(summary % (passed, len(cases)))
    return 0 if passed == len(cases) else 1


class Run(Wine):
    """One run of the program in a fresh copy of the base prefix, in folder."""

    def __init__(self, args, base, folder, display):
        super().__init__(os.path.join(folder, "prefix"), display, args.arch)
        # The case's name: screenshots are named after it, whatever the try.
        self.args, self.name = args, os.path.basename(os.path.dirname(folder))
        self.logs = os.path.join(folder, "logs")
        os.makedirs(self.logs)
        with locked(args.base, BASE_LOCK, shared=True):
            shutil.copytree(base, self.prefix, symlinks=True, copy_function=link_or_copy)
        self.procs, self.dialogs = [], {}
        self.bar = self.positions = self.code = self.trace = self.steps = self.bars = self.pending = None
        self.wininit_before = None

    def start(self, tag, *args, **env):
        """A Wine process in the background, its output and Wine's messages
        each to a file (see Wine.run)."""
        name = os.path.join(self.logs, "%02d-%s" % (len(self.procs), tag))
        out, err = open(name + ".out", "w+b"), open(name + ".err", "w+b")
        proc = subprocess.Popen(FIXED_LAYOUT + [self.loader] + list(args), env=dict(self.env, **env),
                                cwd=self.drive_c, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        proc.log, proc.err = out, err
        self.procs.append(proc)
        return proc

    def windrive(self, command, *args, wait=False):
        args = [self.args.windrive, command] + list(args) + [str(DIALOG_TIMEOUT_MS)]
        if wait:
            return STATUS_LINES.sub(b"", self.wine(*args, timeout=DIALOG_TIMEOUT_MS / 1000 + 60).stdout)
        return self.start(command, *args)

    def output(self, proc, timeout, what):
        """Its output once it ended, without WINDRIVE.EXE's status lines."""
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise RuntimeError("%s: not ended within %d s (it printed %r%s)"
                               % (what, timeout, self.said(proc)[-300:], self.wine_said(proc))) from None
        return STATUS_LINES.sub(b"", self.said(proc))

    @staticmethod
    def said(proc):
        proc.log.seek(0)
        return proc.log.read()

    @staticmethod
    def stderr(proc):
        proc.err.seek(0)
        return proc.err.read()

    def wine_said(self, proc):
        """The end of its standard error, Wine's messages among it, for a report."""
        err = self.stderr(proc)
        return "; its standard error ends %r" % err[-400:] if err else ""

    def wait_for_line(self, proc, line, what):
        """Until proc printed line (a line of its own), within READY_TIMEOUT_S."""
        deadline = time.monotonic() + READY_TIMEOUT_S
        while not re.search(rb"(?m)^%s\r?$" % line, self.said(proc)):
            if proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("%s: WINDRIVE.EXE did not print %r %s (it printed %r%s)" % (
                    what, line.decode(), "before it ended, exit %d" % proc.returncode
                    if proc.poll() is not None else "within %d s" % READY_TIMEOUT_S,
                    self.said(proc)[-300:], self.wine_said(proc)))
            time.sleep(0.02)

    def hold(self, path, caption):
        """path opened without sharing until the dialog caption shows."""
        self.wait_for_line(self.windrive("hold", path, caption), b"held", "holding " + path)

    def xdotool(self, *args, check=True):
        return subprocess.run(["xdotool"] + list(args), env=self.env, timeout=60, check=check,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.split()

    def x_window(self, caption):
        ids = self.xdotool("search", "--name", "^%s$" % re.escape(caption), check=False)
        return ids[0].decode() if ids else None

    def geometry(self, window):
        """The window's place on the screen, "WxH+X+Y", or None once it is gone."""
        found = dict(line.split(b"=", 1) for line in self.xdotool(
            "getwindowgeometry", "--shell", window, check=False) if b"=" in line)
        if not all(k in found for k in (b"X", b"Y", b"WIDTH", b"HEIGHT")):
            return None
        return "%sx%s+%s+%s" % tuple(found[k].decode() for k in (b"WIDTH", b"HEIGHT", b"X", b"Y"))

    def shoot(self, window, shot):
        """A picture of the window, cut from the screen's: `import -window ID`
        on a window already gone (the progress dialog may be, on a loaded
        machine) waits for a mouse click to choose another. The picture is
        dropped when the window moved or went before it was taken."""
        where = self.geometry(window)
        if where:
            subprocess.run(["import", "-window", "root", "-crop", where, "+repage", shot],
                           env=self.env, timeout=60, stderr=subprocess.DEVNULL)
        if not where or self.geometry(window) != where:
            with contextlib.suppress(FileNotFoundError):
                os.remove(shot)

    def answer(self, caption, action):
        """key K: a real X key event; click ID: BM_CLICK; closebox: a mouse
        click on the close box; close-early, watch: nothing more."""
        verb, _, arg = action.partition(" ")
        if verb == "key":
            window = self.x_window(caption) or caption + ": no X window"
            self.xdotool("windowfocus", "--sync", window, "key", "--clearmodifiers", arg)
        elif verb == "click":
            # Once posted, the click is done: a Yes to the restart question
            # may end the session, and the clicking process with it, before
            # that process has exited (its exit code then says nothing).
            args = [self.args.windrive, "click", caption, arg, str(DIALOG_TIMEOUT_MS)]
            result = self.wine(*args, timeout=DIALOG_TIMEOUT_MS / 1000 + 60, check=False)
            if not re.search(rb"(?m)^clicked\r?$", result.stdout):
                raise RuntimeError("clicking %s in %r: exit %d, it printed %r %r" % (
                    arg, caption, result.returncode, result.stdout[-200:], result.stderr[-300:]))
        elif verb == "closebox":
            x, y = self.windrive("closebox", caption, wait=True).split()
            self.xdotool("mousemove", "--sync", x, y, "click", "1")

    def watch(self, caption, action):
        """close-early: SC_CLOSE the moment the dialog shows; else its dump,
        and for a progress bar (id 1008) its positions. Returns once each
        process it started is looking for the dialog: the progress dialog
        lives for a second or so, and a Wine process under load may take
        longer than that to start."""
        started = []
        if action == "close-early":
            started.append(self.windrive("close", caption))
        else:
            if action == "watch":
                self.bar = self.windrive("watchbar", caption, "1008")
                started.append(self.bar)
            started.append(self.windrive("dump", caption))
        for proc in started:
            self.wait_for_line(proc, b"waiting", "the watcher of %r" % caption)
        return started[-1]

    def drive(self, steps):
        """The program through the steps (caption, action): its exit code
        and Wine's trace of it in self.code and self.trace."""
        watcher = self.watch(*steps[0])
        # Wine traces the token calls, so the restart privilege is seen from
        # outside, and every move of the progress bar and when, which no
        # sampler can.
        program = self.start("program", mm.GEN_SYSTEM + "\\BR32UNIN.EXE",
                             WINEDEBUG=WINEDEBUG + ",+advapi,+security,+progress,+timestamp")
        for i, (caption, action) in enumerate(steps):
            seen = self.output(watcher, DIALOG_TIMEOUT_MS / 1000 + 60, "step %d's dialog %r" % (i + 1, caption))
            if watcher.returncode != 0:
                raise RuntimeError("step %d: no dialog %r, exit %d (%r%s)" % (
                    i + 1, caption, watcher.returncode, seen, self.wine_said(watcher)))
            if action != "close-early" and re.search(rb"(?m)^gone\r?$", seen):
                # On a loaded machine the watcher may start reading the
                # progress dialog as it closes: what it read is no record.
                print("        %s: the dialog %r closed while it was read; its controls are not "
                      "compared this run" % (self.name, caption))
            elif action != "close-early":
                self.dialogs[caption] = parse_dump(seen)
                window = self.x_window(caption)
                if window:
                    self.shoot(window, "%s/shots/%s-%s.png" % (self.args.work, self.name,
                                                               DIALOGS[caption][0]))
            if i + 1 < len(steps):
                watcher = self.watch(*steps[i + 1])
            self.answer(caption, action)
        self.output(program, EXIT_TIMEOUT_S, "the program after the last answer")
        if self.bar:
            # Once the program has ended its bar is gone: a watcher that
            # found the bar ends at once; one that never found it never will.
            if not re.search(rb"(?m)^found\r?$", self.said(self.bar)):
                raise RuntimeError("the progress watcher never saw the dialog (it printed %r%s)"
                                   % (self.said(self.bar)[-300:], self.wine_said(self.bar)))
            self.positions = [int(p) for p in self.output(
                self.bar, WATCHER_TIMEOUT_S, "the progress watcher after the program ended").split()]
        self.code, self.trace = program.returncode, self.stderr(program).decode(errors="replace")
        self.steps, self.bars = bar_steps(self.trace)

    def wait_for_restart(self):
        """Wine's restart steps run at once, in a process of their own: until
        they have worked through WININIT.INI, their last step that counts."""
        deadline = time.monotonic() + RESTART_TIMEOUT_S
        ini = unix_path(self.drive_c, mm.GEN_WINDOWS + "\\wininit.ini")
        while os.path.exists(ini):
            if time.monotonic() > deadline:
                raise RuntimeError("the restart steps had not renamed WININIT.INI within %d s "
                                   "(it holds %r)" % (RESTART_TIMEOUT_S, file_bytes(ini)[:200]))
            time.sleep(0.05)

    def finish(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.log.close()
            proc.err.close()
        self.end_session()


def parse_dump(out):
    """WINDRIVE.EXE dump: {"dialog" or control id: (class, extended style, text)}."""
    lines = re.findall(r"^(-?\d+) (\S+) ([0-9A-F]{8}) ?([0-9A-F]*)\r?$", out.decode("latin-1"),
                       re.M)
    found = [(int(i), (cls, int(ex, 16), bytes.fromhex(text))) for i, cls, ex, text in lines]
    return dict(found[1:], dialog=found[0][1]) if found else {}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("modes", nargs="*", help="the sample machine's modes (default: all)")
    parser.add_argument("--scenario", action="append", help="run only these scenarios")
    parser.add_argument("--count", type=int, help="generated machines, seeds from --seed on")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--mode", choices=MODES, help="of the generated machines (default: drawn)")
    parser.add_argument("--seeds", metavar="FILE", help="the generated machines of FILE")
    parser.add_argument("--arch", choices=sorted(LOADERS), help="the Wine to run (default: "
                        "win32 where 32-bit Wine runs a 32-bit program, else win64)")
    parser.add_argument("--which", action="store_true", help="print the choice and end")
    parser.add_argument("--exe", help="default: build/ARCH/BR32UNIN.EXE")
    parser.add_argument("--sim", default=os.path.join(ROOT, "build", "host", "br32unin-sim"))
    parser.add_argument("--keep", action="store_true", help="keep every machine and prefix")
    parser.add_argument("--sim-only", action="store_true", help="no Wine: the sample scenarios, "
                        "then the generated machines, through br32unin-sim alone, against what "
                        "each machine wants (wanted_missed)")
    args = parser.parse_args(argv)
    if set(args.modes) - set(MODES):
        parser.error("unknown mode in %s" % args.modes)
    cases, seeded = cases_of(args)
    if args.sim_only:
        return sim_only(args, cases)
    waited = await_packages()
    if waited is None:
        return 1
    # The run's own folder, and the one that holds the clean prefixes and
    # the answer which Wine, which runs side by side share.
    args.work = os.path.abspath(os.environ.get("WINE_SUITE_WORK", ROOT + "/build/wine"))
    args.base = os.path.abspath(os.environ.get("WINE_SUITE_BASE", args.work))
    with locked(args.base, BASE_LOCK, waiting="waiting for the clean prefixes in %s" % args.base):
        args.arch, why = choose_arch(args.base, args.arch)
    args.exe = os.path.abspath(args.exe or os.path.join(ROOT, "build", args.arch, "BR32UNIN.EXE"))
    # The first line of every log: which program Wine runs, and why.
    print("wine: %s, %s: %s (%s)" % (args.arch, PATHS[args.arch],
                                     os.path.relpath(args.exe, ROOT), why), flush=True)
    if waited:
        print("waited %.0f s for Wine's packages" % waited, flush=True)
    if args.which:
        return 0
    args.windrive = os.path.join(os.path.dirname(args.exe), "WINDRIVE.EXE")
    summary = "%d of %d machines agree" if seeded else "%d of %d scenarios passed"
    with locked(args.work, WORK_LOCK, waiting="another run of the suite works in %s; waiting "
                "for it to end" % args.work):
        return run_all(args, cases, summary)


def await_packages():
    """While ./test installs Wine's packages in the background (the tests
    that need no Wine run meanwhile; BR_WINE_INSTALL names its files), waits
    for the install to end: the seconds waited (0: none), or None, with what
    went wrong, when it failed or was cut short."""
    install = os.environ.get("BR_WINE_INSTALL")
    if not install:
        return 0
    status, waited = install + ".status", 0
    if not os.path.exists(status):
        started = time.monotonic()
        pid = int(Path(install + ".pid").read_text())
        print("waiting for Wine's packages (process %d, %s.log)" % (pid, install), flush=True)
        while not os.path.exists(status):
            try:
                os.kill(pid, 0)
            except PermissionError:
                pass  # alive, another user's
            except ProcessLookupError:
                if not os.path.exists(status):
                    print("the install of Wine's packages (process %d) ended with no status; "
                          "run ./test again" % pid, file=sys.stderr)
                    return None
            time.sleep(0.5)
        waited = time.monotonic() - started
    if Path(status).read_text().split()[0] != "0":
        log = Path(install + ".log").read_text(errors="replace").splitlines()
        print("the install of Wine's packages failed:\n" + "\n".join(log[-30:]), file=sys.stderr)
        return None
    return waited


def cases_of(args):
    """(name, machine, scenario) for each run the options ask for, and
    whether they are generated machines; with --sim-only the sample
    scenarios come first in any case."""
    seeds = [(args.mode, seed) for seed in range(args.seed, args.seed + (args.count or 0))]
    if args.seeds:
        lines = [line.split("#")[0].split() for line in Path(args.seeds).read_text().splitlines()]
        seeds = [(mode, int(seed)) for mode, seed in filter(None, lines)]
    cases = []
    if not seeds or args.sim_only:
        for mode in args.modes or MODES:
            for name, scenario in SCENARIOS.items():
                variant = scenario[2]
                if (not variant or mode in VARIANT_MODES.get(variant, ["win98"])) \
                        and name in (args.scenario or [name]):
                    cases.append(("%s-%s" % (mode, name), sample_machine(mode, variant), scenario))
    for mode, seed in seeds:
        g = mm.generated_machine(seed, mode)
        name = "cancel" if seed % CANCEL_EVERY == 0 else "ok_yes"
        cases.append(("seed-%d-%s-%s" % (seed, g.mode, name), g, SCENARIOS[name]))
    return cases, bool(seeds)


def sim_only(args, cases):
    """Each case through br32unin-sim alone: what it left against what the
    machine wants, a cancelled run's also against the machine as it was.
    A run mostly waits for the disk, so a few go at once."""
    if not os.path.isfile(args.sim):
        print("cannot run, missing: %s" % args.sim)
        return 1 if os.environ.get("CI") == "true" else 77

    def one(case, work):
        name, g, (_, options, _) = case
        cancel = "--restart" not in options
        form, problems = run_sim(g, os.path.join(work, name), args.sim, options.split(), cancel)
        problems += [] if form["exit code"] == 2 else ["exit code %d, wanted 2" % form["exit code"]]
        shutil.rmtree(os.path.join(work, name), ignore_errors=True)
        return name, problems + wanted_missed(g, form, cancel)
    passed = 0
    with tempfile.TemporaryDirectory(prefix="sim-only-") as work, \
            concurrent.futures.ThreadPoolExecutor(SIM_ONLY_RUNS) as pool:
        for name, problems in pool.map(lambda case: one(case, work), cases):
            passed += not problems
            print("\n        ".join(["FAIL  " + name] + problems) if problems else "ok    " + name, flush=True)
    print("%d of %d runs left what their machines want" % (passed, len(cases)))
    return 0 if passed == len(cases) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
