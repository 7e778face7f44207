#!/usr/bin/env python3
"""BR32UNIN.EXE end to end under Wine, driven like a user.

Per mode one prefix with the driver installed (winefix.py); each scenario
runs on a fresh copy of it under Xvfb, answers the dialogs by key, button or
close box, takes a screenshot of each, and checks from outside the program:
exit code, the dialogs' texts byte for byte, the progress bar, the restart
privilege, the registry key by key, WIN.INI section by section, every file
and folder of drive C, WININIT.INI byte for byte.

Exit status: 0 all passed, 1 a check failed, 77 Wine or Xvfb cannot run here
(a failure when CI=true).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winefix  # noqa: E402
from winefix import SYSTEM_DIR, WINDOWS_DIR  # noqa: E402

WELCOME, PROGRESS = "Benvenuti nel programma di disinstallazione", "Disinstallazione del driver"
COMPLETION, CANCELLED = "Disinstallazione riuscita", "Disinstallazione interrotta"
# Caption: screenshot name, {control id: (class, text)}; 65535 is a message box's text.
DIALOGS = {
    WELCOME: ("welcome", {
        1: ("Button", b"OK"),
        2: ("Button", b"Cancel"),
        1000: ("Static", b"Fate clic sul pulsante 'OK' per disinstallare il driver TINTAVERA "
                         b"Brascora Duneva 10.\nFate clic sul pulsante 'Annula' per abbandonare "
                         b"la procedura de disinstallazione.")}),
    PROGRESS: ("progress", {
        1007: ("Static", b"Il driver TINTAVERA Brascora Duneva 10 \xe8 in fase di "
                         b"disinstallazione..."),
        1008: ("msctls_progress32", None)}),
    COMPLETION: ("completion", {
        6: ("Button", b"&Yes"),
        7: ("Button", b"&No"),
        65535: ("Static", b"Il driver TINTAVERA Brascora Duneva 10 \xe8 stato disinstallato "
                          b"correttamente.\nDovete riavviare il vostro PC per completare la "
                          b"disinstallazione.\n\nFate clic sul pulsante 'Si' per riavviare "
                          b"Windows adesso.\nScegliete 'No' se volete continuare a lavorare."
                          b"\n\nLa disinstallazione sara effettiva solo dopo aver riavviato "
                          b"Windows.")}),
    CANCELLED: ("cancelled", {
        1: ("Button", b"OK"),
        65535: ("Static", b"Il driver TINTAVERA Brascora Duneva 10 non \xe8 stato "
                          b"disinstallato e rimane nel PC.")}),
}
RESTART_FILES = ["BR32TN16.DLL", "BR32TN32.DLL", "BR32LANG.DLL", "BR32PRIN.DLL", "BR32UNIN.EXE"]
NUL_LINES = b"".join(b"NUL=%s\\%s\r\n" % (SYSTEM_DIR.encode(), name.encode()) for name in RESTART_FILES)
WININIT = b"[rename]\r\n" + NUL_LINES
# Another program's deletion already pending: its last line without a line
# end, then the 0x1A that old editors leave; the file it names is there.
PENDING = (b"[rename]\r\nNUL=C:\\OLD.TMP\x1a", "C:\\OLD.TMP")

# Name, steps (the dialog that must come up, the user's answer), whether the
# driver is removed (else nothing changes at all), whether a restart is asked,
# and the WININIT.INI there before (win98 mode only; None: none).
#   key K: a real X key event; click ID: BM_CLICK; closebox: a mouse click on
#   the close box; close-early: SC_CLOSE the moment the dialog shows; watch:
#   nothing, the dialog ends by itself.
SCENARIOS = [
    ("ok_no", [(WELCOME, "key Return"), (PROGRESS, "watch"), (COMPLETION, "click 7")],
     True, False, None),
    ("ok_yes", [(WELCOME, "click 1"), (PROGRESS, "watch"), (COMPLETION, "click 6")], True, True,
     None),
    ("ok_yes_pending", [(WELCOME, "click 1"), (PROGRESS, "watch"), (COMPLETION, "click 6")], True,
     True, PENDING),
    ("cancel", [(WELCOME, "click 2"), (CANCELLED, "key Return")], False, False, None),
    ("escape", [(WELCOME, "key Escape"), (CANCELLED, "click 1")], False, False, None),
    ("welcome_closebox", [(WELCOME, "closebox"), (CANCELLED, "click 1")], False, False, None),
    ("progress_closebox", [(WELCOME, "click 1"), (PROGRESS, "close-early"),
                           (CANCELLED, "click 1")], False, False, None),
]
DIALOG_TIMEOUT_MS, EXIT_TIMEOUT_S, RESTART_TIMEOUT_S = 20000, 30, 30


class Failure(Exception):
    pass


class Run:
    """One scenario on a fresh copy of the mode's installed prefix."""

    screenshots = True

    def __init__(self, args, mode_dir, display, name):
        self.args, self.name, self.mode = args, name, os.path.basename(mode_dir)
        self.prefix, self.logs = os.path.join(mode_dir, "run"), os.path.join(mode_dir, "logs", name)
        self.shots = os.path.join(args.work, "shots", self.mode)
        shutil.rmtree(self.prefix, ignore_errors=True)
        shutil.rmtree(self.logs, ignore_errors=True)
        os.makedirs(self.logs)
        os.makedirs(self.shots, exist_ok=True)
        winefix.copy_prefix(os.path.join(mode_dir, "prefix"), self.prefix)
        self.wine = winefix.Wine(self.prefix, display)
        self.procs, self.dialogs, self.shot_paths, self.bar, self.positions = [], {}, {}, None, None

    def start(self, tag, *args, **env):
        """A Wine process in the background, its output to a file (see Wine.run)."""
        out = open(os.path.join(self.logs, "%02d-%s.out" % (len(self.procs), tag)), "w+b")
        proc = subprocess.Popen(["wine"] + list(args), env=dict(self.wine.env, **env),
                                cwd=self.wine.drive_c, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT)
        proc.log = out
        self.procs.append(proc)
        return proc

    def windrive(self, command, *args, wait=False):
        args = [self.args.windrive, command] + list(args) + [str(DIALOG_TIMEOUT_MS)]
        return self.wine.wine(*args).stdout if wait else self.start(command, *args)

    @staticmethod
    def output(proc, timeout):
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        proc.log.seek(0)
        return proc.log.read()

    def xdotool(self, *args, check=True):
        return subprocess.run(["xdotool"] + list(args), env=self.wine.env, timeout=20, check=check,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.split()

    def x_window(self, caption):
        ids = self.xdotool("search", "--name", "^%s$" % re.escape(caption), check=False)
        return ids[0].decode() if ids else None

    def answer(self, caption, action):
        verb, _, arg = action.partition(" ")
        if verb == "key":
            window = self.x_window(caption)
            if not window:
                raise Failure("no X window named %r" % caption)
            self.xdotool("windowfocus", "--sync", window, "key", "--clearmodifiers", arg)
        elif verb == "click":
            self.windrive("click", caption, arg, wait=True)
        elif verb == "closebox":
            x, y = self.windrive("closebox", caption, wait=True).split()
            self.xdotool("mousemove", "--sync", x, y, "click", "1")

    def watch(self, caption, action):
        if action == "close-early":
            return self.windrive("close", caption)
        if caption == PROGRESS:
            self.bar = self.windrive("watchbar", caption, "1008")
        return self.windrive("dump", caption)

    def drive(self, steps):
        """The program through the steps; returns its exit code."""
        watcher = self.watch(*steps[0])
        # Wine traces the token calls: the restart privilege is seen from outside.
        program = self.start("program", SYSTEM_DIR + "\\BR32UNIN.EXE",
                             WINEDEBUG="-all,+advapi,+security")
        for i, (caption, action) in enumerate(steps):
            seen = self.output(watcher, DIALOG_TIMEOUT_MS / 1000 + 5)
            if watcher.returncode != 0:
                raise Failure("step %d: dialog %r did not come up (%r)" % (i + 1, caption, seen))
            if action != "close-early":
                self.dialogs[caption] = parse_dump(seen)
                path = os.path.join(self.shots, "%s-%s.png" % (self.name, DIALOGS[caption][0]))
                window = self.screenshots and self.x_window(caption)
                if window and subprocess.run(["import", "-window", window, path], env=self.wine.env,
                                             timeout=20, stderr=subprocess.DEVNULL).returncode == 0:
                    self.shot_paths[caption] = path
            if i + 1 < len(steps):
                watcher = self.watch(*steps[i + 1])
            self.answer(caption, action)
        trace = self.output(program, EXIT_TIMEOUT_S)
        if trace is None:
            raise Failure("the program did not end after the last step; dialogs up: %r"
                          % [c for c in DIALOGS if self.x_window(c)])
        if self.bar:
            self.positions = [int(p) for p in (self.output(self.bar, 10) or b"").split()]
        return program.returncode, trace.decode(errors="replace")

    def finish(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.log.close()
        self.wine.end_session()


def parse_dump(out):
    """WINDRIVE.EXE dump: {"caption": bytes, id: (class, extended style, text)}."""
    lines = re.findall(r"^(-?\d+) (\S+) ([0-9A-F]{8}) ?([0-9A-F]*)\r?$", out.decode("latin-1"),
                       re.M)
    dump = {int(i): (cls, int(ex, 16), bytes.fromhex(text)) for i, cls, ex, text in lines[1:]}
    dump["caption"] = bytes.fromhex(lines[0][3]) if lines else None
    return dump


def check_run(run, code, trace, restart):
    problems = [] if code == 2 else ["exit code %d, wanted 2" % code]
    for caption, seen in run.dialogs.items():
        if seen["caption"] != caption.encode("cp1252"):
            problems.append("dialog %r: caption %r" % (caption, seen["caption"]))
        for cid, (cls, text) in DIALOGS[caption][1].items():
            got = seen.get(cid)
            if not got or got[0].lower() != cls.lower() or text is not None and got[2] != text:
                problems.append("dialog %r control %d: %r, wanted %r" % (caption, cid, got, text))
    bar = run.dialogs.get(PROGRESS, {}).get(1008)
    if bar and not bar[1] & 0x2000:
        problems.append("progress bar: no WS_EX_RTLREADING (%r)" % (bar,))
    # Wine's bar wraps below its minimum: from 0 a step of -2 shows 138, and
    # the 70th step 0 (the 69th 2, the 71st 138 again).
    seen = run.positions
    if seen is not None and (seen[-1:] != [0] or any(p not in range(0, 139, 2) for p in seen)
                             or any(b >= a for a, b in zip(seen, seen[1:]))):
        problems.append("progress bar: positions %r, wanted steps of 2 from 138 down to 0" % seen)
    # On NT only, and only for a restart; Wine restarts without it, so only its trace tells.
    asked = "SeShutdownPrivilege" in trace and "AdjustTokenPrivileges" in trace
    if asked != (restart and run.mode == "winxp"):
        problems.append("restart privilege enabled: %s, wanted %s (trace ends %r)"
                        % (asked, not asked, trace[-400:]))
    return problems


def shown(data):
    return repr(data) if data is None or len(data) < 400 else "%d bytes" % len(data)


def check_state(run, listing, base, removed, restart, pending):
    """The registry, WIN.INI and drive C: the baseline less what the run removes."""
    registry, ini, tree = dict(base["registry"]), dict(base["win_ini"]), dict(base["tree"])
    drive_c = run.wine.drive_c
    exact = {"windows/win.ini": None}  # compared by section below
    if removed:
        registry = winefix.remove_subtrees(registry, [
            i["root"] + "\\" + i["path"] for i in listing["registry"] if i["after_run"] == "gone"])
        for name in {i["section"].lower() for i in listing["win_ini"]}:
            items = [i for i in listing["win_ini"] if i["section"].lower() == name]
            gone = {i["key"].lower() for i in items if i["after_run"] == "gone"}
            if name in ini:  # a section all of whose listed entries go, goes as a whole
                ini[name] = (ini[name][0], [e for e in ini[name][1] if e[0].lower() not in gone])
                if len(gone) == len(items):
                    del ini[name]
            key = winefix.PROFILE_KEYS.get(name, "").lower()
            if key in registry:  # Wine keeps this section in the registry
                registry[key] = (registry[key][0], [v for v in registry[key][1] if not any(
                    v.lower().startswith('"%s"=' % k) for k in gone)])
        for item in listing["files"] + listing["folders"]:
            if item["after_run"] == "gone":
                tree.pop(winefix.tree_key(item["path"]), None)
        # The pending entry on a line of its own, then ours under its [rename].
        wininit_after = pending[0][:-1] + b"\r\n" + NUL_LINES if pending else WININIT
        if restart:
            # Wine's restart steps run at once, in a process of their own: WININIT.INI is
            # worked through and kept as wininit.bak; "NUL=path" deletes path. The
            # pending entry's file goes too, and nothing named NULL appears.
            wininit = winefix.unix_path(drive_c, WINDOWS_DIR + "\\wininit.ini")
            deadline = time.monotonic() + RESTART_TIMEOUT_S
            while os.path.exists(wininit) and time.monotonic() < deadline:
                time.sleep(0.05)
            for name in RESTART_FILES:
                tree.pop("windows/system32/" + name.lower(), None)
            exact["windows/wininit.bak"] = wininit_after
        else:
            exact["windows/wininit.ini"] = wininit_after
    got_tree, problems = winefix.snapshot_tree(drive_c), []
    for rel, want in exact.items():
        tree.pop(rel, None)
        got_tree.pop(rel, None)
        path = Path(winefix.unix_path(drive_c, "C:\\" + rel.replace("/", "\\")))
        got = path.read_bytes() if path.is_file() else None
        if want is not None and got != want:
            problems.append("%s: %s, wanted %s" % (rel, shown(got), shown(want)))
    problems += winefix.diff("files", tree, got_tree)
    problems += winefix.diff("win.ini", ini, winefix.parse_ini(
        Path(winefix.unix_path(drive_c, WINDOWS_DIR + "\\win.ini")).read_bytes()))
    return problems + winefix.diff("registry", registry,
                                   run.wine.registry(listing, os.path.join(run.logs, "export")))


def run_scenario(args, mode_dir, display, listing, base, scenario):
    name, steps, removed, restart, pending = scenario
    started = time.monotonic()
    run = Run(args, mode_dir, display, name)
    try:
        run.wine.start_session()
        if pending:  # after the session's start, which works through WININIT.INI itself
            Path(winefix.unix_path(run.wine.drive_c, WINDOWS_DIR + "\\wininit.ini")).write_bytes(pending[0])
            Path(winefix.unix_path(run.wine.drive_c, pending[1])).write_bytes(b"old\r\n")
        winefix.add_volatile_keys(run.wine, args.windrive, os.path.join(mode_dir, "driver.reg"))
        code, trace = run.drive(steps)
        problems = check_run(run, code, trace, restart)
        problems += check_state(run, listing, base, removed, restart, pending)
    except Exception as e:  # noqa: BLE001 (any error fails this scenario only)
        problems = ["%s: %s" % (type(e).__name__, e)]
    finally:
        run.finish()
    print("%-5s %s %-18s %5.1f s" % ("FAIL" if problems else "ok", run.mode, name,
                                     time.monotonic() - started), flush=True)
    for line in problems + ["screenshot: %s" % p for p in run.shot_paths.values() if problems]:
        print("        " + line)
    if not problems and not args.keep:
        shutil.rmtree(run.prefix, ignore_errors=True)
    return not problems


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("modes", nargs="*", help="win98, win95, winxp (default: all three)")
    parser.add_argument("--exe", default=os.path.join(root, "build", "win32", "BR32UNIN.EXE"))
    parser.add_argument("--windrive", help="default: WINDRIVE.EXE beside the program")
    parser.add_argument("--work", default=os.environ.get("WINE_SUITE_WORK", root + "/build/wine"),
                        help="prefixes, logs and screenshots go here")
    parser.add_argument("--scenario", action="append", help="run only these scenarios")
    parser.add_argument("--keep", action="store_true", help="keep the prefix of every run")
    args = parser.parse_args(argv)
    if set(args.modes) - set(winefix.MODES):
        parser.error("unknown mode in %s" % args.modes)
    args.exe, args.work = os.path.abspath(args.exe), os.path.abspath(args.work)
    args.windrive = os.path.abspath(args.windrive or os.path.join(os.path.dirname(args.exe),
                                                                  "WINDRIVE.EXE"))
    skip = 1 if os.environ.get("CI") == "true" else 77
    missing = [t for t in ("wine", "wineserver", "wineboot", "Xvfb", "xdotool", "import")
               if not shutil.which(t)]
    missing += [p for p in (args.exe, args.windrive) if not os.path.isfile(p)]
    if missing:
        print("wine suite: cannot run, missing: %s" % " ".join(missing))
        return skip
    # Xvfb picks a free display and writes its number.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                             "tcp"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    display = ":" + xvfb.stdout.readline().strip().decode()
    if display == ":":
        print("wine suite: Xvfb did not start")
        return skip
    passed = failed = 0
    try:
        for mode in args.modes or ["win98", "win95", "winxp"]:
            started = time.monotonic()
            print("== %s: installing the driver in a new prefix" % mode, flush=True)
            mode_dir = os.path.join(args.work, mode)
            try:
                listing, base = winefix.build(mode, args.exe, args.windrive, mode_dir, display)
            except Exception as e:  # noqa: BLE001
                print("FAIL  %s: the prefix could not be made: %r" % (mode, e))
                failed += 1
                continue
            print("      prefix ready in %.1f s" % (time.monotonic() - started), flush=True)
            for scenario in SCENARIOS:
                if scenario[4] and mode != "win98":
                    continue
                if not args.scenario or scenario[0] in args.scenario:
                    ok = run_scenario(args, mode_dir, display, listing, base, scenario)
                    passed, failed = passed + ok, failed + (not ok)
    finally:
        xvfb.terminate()
        xvfb.wait(10)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
