#!/usr/bin/env python3
"""BR32UNIN.EXE end to end under Wine, driven like a user at the keyboard.

For each mode (win98, win95, winxp) one prefix is made and the driver
installed in it (winefix.py); each scenario starts from a fresh copy of that
prefix, runs the program under Xvfb, answers its dialogs by key, button or
close box, takes a screenshot of each dialog, and then checks from outside
the program: exit code, the dialogs' texts byte for byte, the registry as
regedit exports it, WIN.INI section by section, every file and folder of
drive C, and WININIT.INI byte for byte.

Exit status: 0 all passed, 1 a check failed, 77 Wine or Xvfb cannot run
here (a failure instead when CI=true).
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
# No __pycache__ in the source tree.
sys.dont_write_bytecode = True

import winefix  # noqa: E402
import winestate  # noqa: E402

SKIP = 77

WELCOME = "Benvenuti nel programma di disinstallazione"
PROGRESS = "Disinstallazione del driver"
COMPLETION = "Disinstallazione riuscita"
CANCELLED = "Disinstallazione interrotta"

# What each dialog shows: control id -> (window class, text). None: any text.
MSGBOX_TEXT = 65535  # the static control of a message box
DIALOGS = {
    WELCOME: {
        1: ("Button", b"OK"),
        2: ("Button", b"Cancel"),
        1000: ("Static", b"Fate clic sul pulsante 'OK' per disinstallare il driver TINTAVERA "
                         b"Brascora Duneva 10.\nFate clic sul pulsante 'Annula' per abbandonare "
                         b"la procedura de disinstallazione."),
    },
    PROGRESS: {
        1007: ("Static", b"Il driver TINTAVERA Brascora Duneva 10 \xe8 in fase di "
                         b"disinstallazione..."),
        1008: ("msctls_progress32", None),
    },
    COMPLETION: {
        6: ("Button", b"&Yes"),
        7: ("Button", b"&No"),
        MSGBOX_TEXT: ("Static", b"Il driver TINTAVERA Brascora Duneva 10 \xe8 stato "
                                b"disinstallato correttamente.\nDovete riavviare il vostro PC per "
                                b"completare la disinstallazione.\n\nFate clic sul pulsante 'Si' "
                                b"per riavviare Windows adesso.\nScegliete 'No' se volete "
                                b"continuare a lavorare.\n\nLa disinstallazione sara effettiva "
                                b"solo dopo aver riavviato Windows."),
    },
    CANCELLED: {
        1: ("Button", b"OK"),
        MSGBOX_TEXT: ("Static", b"Il driver TINTAVERA Brascora Duneva 10 non \xe8 stato "
                                b"disinstallato e rimane nel PC."),
    },
}
SHOT_NAMES = {WELCOME: "welcome", PROGRESS: "progress", COMPLETION: "completion",
              CANCELLED: "cancelled"}

RESTART_FILES = ["BR32TN16.DLL", "BR32TN32.DLL", "BR32LANG.DLL", "BR32PRIN.DLL",
                 "BR32UNIN.EXE"]


def wininit_text(existed=False):
    """What the program appends to WININIT.INI: the header when the file
    was new, then one line per restart file, CR LF after each."""
    lines = [] if existed else ["[rename]"]
    lines += ["NULL=%s\\%s" % (winefix.SYSTEM_DIR, name) for name in RESTART_FILES]
    return "".join(line + "\r\n" for line in lines).encode("cp1252")


# A step: the dialog that must come up, and how the user answers it.
#   key NAME       the key pressed on the keyboard (xdotool, real X events)
#   click ID       the button clicked (BM_CLICK, from WINDRIVE.EXE)
#   closebox       a mouse click on the caption's close box (xdotool)
#   close-early    the close box's command, sent the moment the dialog is up
#   watch          nothing: the dialog closes by itself
# Outcome: "removed" (the driver's installation gone), "unchanged" (nothing
# changed at all); restart: the user asked for a restart.
SCENARIOS = [
    ("ok_no", [(WELCOME, "key Return"), (PROGRESS, "watch"), (COMPLETION, "click 7")],
     "removed", False),
    ("ok_yes", [(WELCOME, "click 1"), (PROGRESS, "watch"), (COMPLETION, "click 6")],
     "removed", True),
    ("cancel", [(WELCOME, "click 2"), (CANCELLED, "key Return")], "unchanged", False),
    ("escape", [(WELCOME, "key Escape"), (CANCELLED, "click 1")], "unchanged", False),
    ("welcome_closebox", [(WELCOME, "closebox"), (CANCELLED, "click 1")], "unchanged", False),
    ("progress_closebox", [(WELCOME, "click 1"), (PROGRESS, "close-early"),
                           (CANCELLED, "click 1")], "unchanged", False),
]

DIALOG_TIMEOUT_MS = 20000
EXIT_TIMEOUT_S = 30
RESTART_TIMEOUT_S = 30


class Failure(Exception):
    pass


# ------------------------------------------------------------------ X

def start_xvfb():
    """Xvfb on a free display; returns (process, ":N")."""
    read_fd, write_fd = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(write_fd,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(read_fd, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    if not number.strip():
        proc.kill()
        raise Failure("Xvfb did not start")
    return proc, ":" + number.decode().strip()


# ------------------------------------------------------------- a run

class Run:
    """One scenario on a fresh copy of the mode's installed prefix."""

    def __init__(self, args, mode_dir, display, listing, name):
        self.args = args
        self.listing = listing
        self.name = name
        self.prefix = os.path.join(mode_dir, "run")
        self.logs = os.path.join(mode_dir, "logs", name)
        self.shots = os.path.join(args.work, "shots", listing["mode"])
        if os.path.exists(self.prefix):
            shutil.rmtree(self.prefix)
        shutil.rmtree(self.logs, ignore_errors=True)
        os.makedirs(self.logs)
        os.makedirs(self.shots, exist_ok=True)
        subprocess.run(["cp", "-a", os.path.join(mode_dir, "prefix"), self.prefix], check=True)
        self.wine = winefix.Wine(self.prefix, display)
        self.dialogs = {}  # caption -> parsed dump
        self.procs = []
        self.bg_count = 0
        self.bar_watcher = None
        self.bar_positions = None
        self.trace = ""

    # Background processes write to files: see Wine.run.
    def background(self, args, tag, **env):
        self.bg_count += 1
        out = open(os.path.join(self.logs, "%02d-%s.out" % (self.bg_count, tag)), "w+b")
        proc = subprocess.Popen(args, env=dict(self.wine.env, **env), stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.STDOUT, cwd=self.wine.drive_c)
        proc.log = out
        self.procs.append(proc)
        return proc

    def helper(self, *args):
        return self.background(["wine", self.args.windrive] + list(args), args[0])

    @staticmethod
    def output(proc, timeout):
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        proc.log.seek(0)
        return proc.log.read()

    def x_window(self, caption):
        result = subprocess.run(["xdotool", "search", "--name", "^%s$" % re.escape(caption)],
                                env=self.wine.env, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=10)
        ids = result.stdout.split()
        if not ids:
            raise Failure("no X window named %r" % caption)
        return ids[0].decode()

    def screenshot(self, caption):
        path = os.path.join(self.shots, "%s-%s.png" % (self.name, SHOT_NAMES[caption]))
        try:
            subprocess.run(["import", "-window", self.x_window(caption), path], timeout=20,
                           env=self.wine.env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            return path
        except (Failure, subprocess.CalledProcessError) as e:
            return "not taken (%s)" % e

    def answer(self, caption, action):
        verb, _, arg = action.partition(" ")
        if verb == "key":
            subprocess.run(["xdotool", "windowfocus", "--sync", self.x_window(caption), "key",
                            "--clearmodifiers", arg], env=self.wine.env, timeout=20, check=True)
        elif verb == "click":
            self.wine.wine(self.args.windrive, "click", caption, arg, str(DIALOG_TIMEOUT_MS))
        elif verb == "closebox":
            out = self.wine.wine(self.args.windrive, "closebox", caption,
                                 str(DIALOG_TIMEOUT_MS)).stdout.split()
            subprocess.run(["xdotool", "mousemove", "--sync", out[0], out[1], "click", "1"],
                           env=self.wine.env, timeout=20, check=True)
        elif verb not in ("watch", "close-early"):
            raise ValueError(action)

    def start_watch(self, caption, action):
        if action == "close-early":
            return self.helper("close", caption, str(DIALOG_TIMEOUT_MS))
        if caption == PROGRESS:
            self.bar_watcher = self.helper("watchbar", caption, "1008", str(DIALOG_TIMEOUT_MS))
        return self.helper("dump", caption, str(DIALOG_TIMEOUT_MS))

    def drive(self, steps):
        """Runs the program through the steps; returns its exit code."""
        watcher = self.start_watch(*steps[0])
        # The token calls are traced: the restart privilege is seen from outside.
        program = self.background(["wine", winefix.SYSTEM_DIR + "\\BR32UNIN.EXE"], "program",
                                  WINEDEBUG="-all,+advapi,+security")
        for i, (caption, action) in enumerate(steps):
            seen = self.output(watcher, DIALOG_TIMEOUT_MS / 1000 + 5)
            if watcher.returncode != 0:
                raise Failure("step %d: dialog %r did not come up (%s)"
                              % (i + 1, caption, (seen or b"").decode(errors="replace").strip()))
            if action != "close-early":
                shot = self.screenshot(caption)
                self.dialogs[caption] = parse_dump(seen)
                self.dialogs[caption]["shot"] = shot
            if i + 1 < len(steps):
                watcher = self.start_watch(*steps[i + 1])
            self.answer(caption, action)
        try:
            program.wait(EXIT_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            shown = [c for c in DIALOGS if self.wine.wine(
                self.args.windrive, "wait", c, "0", check=False).returncode == 0]
            raise Failure("the program did not end after the last step; dialogs up: %r" % shown)
        self.trace = self.output(program, 0).decode(errors="replace")
        if self.bar_watcher is not None:
            seen = self.output(self.bar_watcher, 10) or b""
            self.bar_positions = [int(p) for p in seen.split()]
        return program.returncode

    def finish(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.log.close()
        self.wine.end_session()


def parse_dump(out):
    """WINDRIVE.EXE dump output: {"caption": bytes, id: (class, bytes)}."""
    result = {}
    for line in out.decode("ascii", errors="replace").splitlines():
        fields = dict(f.split("=", 1) for f in line.split()[1:] if "=" in f)
        text = bytes.fromhex(fields.get("text", ""))
        if line.startswith("dialog "):
            result["caption"] = text
            result["style"] = int(fields["style"], 16)
        elif line.startswith("control "):
            result[int(fields["id"])] = (fields["class"], text,
                                         int(fields["style"], 16), int(fields["exstyle"], 16))
    return result


# ------------------------------------------------------------ checks

def check_dialogs(run):
    problems = []
    for caption, seen in run.dialogs.items():
        if seen.get("caption") != caption.encode("cp1252"):
            problems.append("dialog %r: caption %r" % (caption, seen.get("caption")))
        for cid, (cls, text) in DIALOGS[caption].items():
            if cid not in seen:
                problems.append("dialog %r: no control %d" % (caption, cid))
                continue
            got_cls, got_text = seen[cid][0], seen[cid][1]
            if got_cls.lower() != cls.lower():
                problems.append("dialog %r control %d: class %s, wanted %s"
                                % (caption, cid, got_cls, cls))
            if text is not None and got_text != text:
                problems.append("dialog %r control %d: text %r, wanted %r"
                                % (caption, cid, got_text, text))
    if PROGRESS in run.dialogs:
        bar = run.dialogs[PROGRESS].get(1008)
        if bar and not bar[3] & 0x2000:
            problems.append("progress bar: WS_EX_RTLREADING missing (exstyle %08X)" % bar[3])
    return problems


def check_progress(run):
    """The bar's positions while the dialog was up. The step is -2 from
    position 0 in the range 0 to 140: Wine's bar wraps below its minimum, so
    the first step shows 138 and the seventieth 0. The last position seen
    before the dialog closes is 0 after exactly 70 steps (2 after 69, and
    138 again after 71)."""
    seen = run.bar_positions
    if seen is None:
        return []
    if not seen or seen[-1] != 0 or any(p not in range(0, 139, 2) for p in seen) or any(
            b >= a for a, b in zip(seen, seen[1:])):
        return ["progress bar: positions %r, wanted steps of 2 from 138 down to 0" % seen]
    return []


def check_privilege(run, restart, nt):
    """The restart privilege, switched on only on NT and only for a restart;
    Wine grants ExitWindowsEx without it, so its trace tells."""
    asked = "SeShutdownPrivilege" in run.trace and "AdjustTokenPrivileges" in run.trace
    if asked != (restart and nt):
        return ["restart privilege: %s, wanted %s (trace: %r)"
                % ("enabled" if asked else "not enabled",
                   "enabled" if restart and nt else "not enabled", run.trace[-400:])]
    return []


def expected_state(baseline, listing, outcome):
    """The registry, WIN.INI and file tree that a run must leave."""
    registry = baseline["registry"]
    ini = winestate.parse_ini(baseline["win_ini"].encode("cp1252"))
    tree = dict(baseline["tree"])
    if outcome == "removed":
        gone_keys = [i["root"] + "\\" + i["path"] for i in listing["registry"]
                     if i["after_run"] == "gone"]
        registry = winestate.remove_subtrees(registry, gone_keys)
        gone_ini = {(i["section"].lower(), i["key"].lower() if i["key"] else None)
                    for i in listing["win_ini"] if i["after_run"] == "gone"}
        # A section all of whose listed entries go is removed as a whole.
        for section in {i["section"].lower() for i in listing["win_ini"]}:
            if all(i["after_run"] == "gone" for i in listing["win_ini"]
                   if i["section"].lower() == section):
                gone_ini.add((section, None))
        ini = winestate.ini_without(ini, gone_ini)
        for section, key in gone_ini:
            if section in winefix.PROFILE_MAPPING:
                registry = winestate.remove_value(registry, winefix.PROFILE_MAPPING[section], key)
        for item in listing["files"] + listing["folders"]:
            if item["after_run"] == "gone":
                rel = item["path"][3:].replace("\\", "/").lower()
                tree.pop(rel, None)
    return registry, ini, tree


def check_listing_files(run, listing, outcome, moved):
    """Each listed file by its own bytes, the driver's and the decoys', but
    for those that the restart steps moved."""
    problems = []
    moved = {path.lower() for path in moved}
    for item in listing["files"]:
        if item["path"].lower() in moved:
            continue
        path = winefix.unix_path(run.wine.drive_c, item["path"])
        want_gone = outcome == "removed" and item["after_run"] == "gone"
        if want_gone:
            if os.path.exists(path):
                problems.append("files: %s should be gone" % item["path"])
        elif not os.path.isfile(path):
            problems.append("files: %s is missing" % item["path"])
        else:
            with open(path, "rb") as f:
                if f.read() != bytes.fromhex(item["hex"]):
                    problems.append("files: %s changed" % item["path"])
    return problems


def check_state(run, baseline, listing, outcome, restart):
    registry, ini, tree = expected_state(baseline, listing, outcome)
    drive_c = run.wine.drive_c
    wininit = winefix.unix_path(drive_c, winefix.WINDOWS_DIR + "\\wininit.ini")
    # The restart steps run in a process of their own: wait for them before
    # looking at any file, and leave the five files they move to check_restart.
    if restart:
        wait_for_restart(run)
    moved = {"%s\\%s" % (winefix.SYSTEM_DIR, name) for name in RESTART_FILES} if restart else set()
    problems = check_listing_files(run, listing, outcome, moved)
    actual_tree = winestate.snapshot_tree(drive_c)

    if outcome == "removed":
        # WIN.INI changes; it is compared section by section below.
        rel = "windows/win.ini"
        tree[rel] = actual_tree.get(rel, (rel, "missing"))
    if outcome == "removed" and not restart:
        # The five restart files stay until Windows starts again.
        if not os.path.isfile(wininit):
            problems.append("files: no WININIT.INI")
        else:
            with open(wininit, "rb") as f:
                data = f.read()
            if data != wininit_text():
                problems.append("WININIT.INI: %r, wanted %r" % (data, wininit_text()))
        rel = os.path.relpath(wininit, drive_c).replace(os.sep, "/")
        tree[rel.lower()] = actual_tree.get(rel.lower(), (rel, "missing"))
    if restart:
        problems += check_restart(run, tree, actual_tree)

    problems += winestate.diff_tree(tree, actual_tree)
    with open(winefix.unix_path(drive_c, winefix.WINDOWS_DIR + "\\win.ini"), "rb") as f:
        problems += winestate.diff_ini(ini, winestate.parse_ini(f.read()))
    actual_registry = run.wine.export_registry(winestate.export_roots(listing),
                                               os.path.join(run.logs, "export"))
    problems += winestate.diff_registry(registry, actual_registry)
    return problems


def wait_for_restart(run):
    """The restart steps run in a process of their own, which ExitWindowsEx
    starts and does not wait for; they end by renaming WININIT.INI."""
    drive_c = run.wine.drive_c
    ini = winefix.unix_path(drive_c, winefix.WINDOWS_DIR + "\\wininit.ini")
    bak = winefix.unix_path(drive_c, winefix.WINDOWS_DIR + "\\wininit.bak")
    deadline = time.monotonic() + RESTART_TIMEOUT_S
    while (os.path.exists(ini) or not os.path.exists(bak)) and time.monotonic() < deadline:
        time.sleep(0.05)


def check_restart(run, tree, actual_tree):
    """Wine's restart steps, run at once by ExitWindowsEx: WININIT.INI is
    processed and kept as wininit.bak. A "NULL=path" line is a rename to a
    file called NULL in Wine's working directory, C:\\windows, not a
    deletion: each of the five files lands there in turn, the last one
    named stays, and the five are gone from the system directory."""
    problems = []
    drive_c = run.wine.drive_c
    bak = winefix.unix_path(drive_c, winefix.WINDOWS_DIR + "\\wininit.bak")

    if not os.path.isfile(bak):
        problems.append("restart: no wininit.bak: WININIT.INI was not processed")
    else:
        with open(bak, "rb") as f:
            data = f.read()
        if data != wininit_text():
            problems.append("restart: wininit.bak %r, wanted %r" % (data, wininit_text()))
    null = winefix.unix_path(drive_c, winefix.WINDOWS_DIR + "\\NULL")
    last = tree.get(("windows/system32/" + RESTART_FILES[-1]).lower())
    for name in RESTART_FILES:
        tree.pop(("windows/system32/" + name).lower(), None)
    for path, mark in ((bak, None), (null, last)):
        rel = os.path.relpath(path, drive_c).replace(os.sep, "/")
        got = actual_tree.get(rel.lower())
        if got is None:
            problems.append("restart: %s missing" % rel)
            continue
        if mark is not None and got[1] != mark[1]:
            problems.append("restart: %s does not hold %s" % (rel, RESTART_FILES[-1]))
        tree[rel.lower()] = got
    return problems


# ------------------------------------------------------------- driver

def run_scenario(args, mode_dir, display, listing, baseline, scenario):
    name, steps, outcome, restart = scenario
    started = time.monotonic()
    run = Run(args, mode_dir, display, listing, name)
    restored = time.monotonic() - started
    problems = []
    try:
        run.wine.start_session()
        winefix.add_volatile_keys(run.wine, args.windrive,
                                  os.path.join(mode_dir, "driver.reg"))
        driven = time.monotonic()
        code = run.drive(steps)
        driven = time.monotonic() - driven
        if code != 2:
            problems.append("exit code %d, wanted 2" % code)
        problems += check_dialogs(run)
        problems += check_progress(run)
        problems += check_privilege(run, restart, listing["mode"] == "winxp")
        problems += check_state(run, baseline, listing, outcome, restart)
    except Failure as e:
        driven = 0
        problems.append(str(e))
    finally:
        run.finish()
    total = time.monotonic() - started
    status = "FAIL" if problems else "ok"
    print("%-5s %s %-18s %5.1f s (copy %.1f s, program %.1f s)"
          % (status, listing["mode"], name, total, restored, driven), flush=True)
    for line in problems:
        print("        " + line)
    if problems and run.dialogs:
        for caption, seen in run.dialogs.items():
            print("        screenshot of %r: %s" % (caption, seen.get("shot")))
    if not problems and not args.keep:
        shutil.rmtree(run.prefix, ignore_errors=True)
    return not problems


def run_mode(args, mode, display):
    mode_dir = os.path.join(args.work, mode)
    started = time.monotonic()
    print("== %s: installing the driver in a new prefix" % mode, flush=True)
    try:
        listing = winefix.build(mode, args.exe, args.windrive, mode_dir, display)
    except (RuntimeError, subprocess.TimeoutExpired) as e:
        print("FAIL  %s: the prefix could not be made: %s" % (mode, e))
        return 0, 1
    with open(os.path.join(mode_dir, "baseline.json")) as f:
        baseline = json.load(f)
    print("      %s prefix ready in %.1f s" % (mode, time.monotonic() - started), flush=True)
    passed = failed = 0
    for scenario in SCENARIOS:
        if args.scenario and scenario[0] not in args.scenario:
            continue
        if run_scenario(args, mode_dir, display, listing, baseline, scenario):
            passed += 1
        else:
            failed += 1
    return passed, failed


def missing_tools():
    return [t for t in ("wine", "wineserver", "wineboot", "Xvfb", "xdotool", "import")
            if shutil.which(t) is None]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("modes", nargs="*", help="win98, win95, winxp (default: all three)")
    parser.add_argument("--exe", required=True, help="build/win32/BR32UNIN.EXE")
    parser.add_argument("--windrive", required=True, help="build/win32/WINDRIVE.EXE")
    parser.add_argument("--work", required=True, help="prefixes, logs and screenshots go here")
    parser.add_argument("--scenario", action="append", help="run only these scenarios")
    parser.add_argument("--keep", action="store_true", help="keep the prefix of every run")
    args = parser.parse_args(argv)
    args.exe = os.path.abspath(args.exe)
    args.windrive = os.path.abspath(args.windrive)
    args.work = os.path.abspath(args.work)
    args.modes = args.modes or ["win98", "win95", "winxp"]
    unknown = [m for m in args.modes if m not in winefix.MODES]
    if unknown:
        parser.error("unknown mode: %s" % " ".join(unknown))
    ci = os.environ.get("CI") == "true"

    missing = missing_tools() + [p for p in (args.exe, args.windrive) if not os.path.isfile(p)]
    if missing:
        print("wine suite: cannot run, missing: %s" % " ".join(missing))
        return 1 if ci else SKIP
    try:
        xvfb, display = start_xvfb()
    except Failure as e:
        print("wine suite: %s" % e)
        return 1 if ci else SKIP
    passed = failed = 0
    try:
        for mode in args.modes:
            p, f = run_mode(args, mode, display)
            passed, failed = passed + p, failed + f
    finally:
        xvfb.terminate()
        xvfb.wait(10)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
