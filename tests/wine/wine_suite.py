#!/usr/bin/env python3
"""BR32UNIN.EXE end to end under Wine, driven like a user.

Per mode and scenario the sample machine's end state under Wine must be the
simulated machine's after the same answers (differential.py); beside that,
what only Wine shows (check_run). See README.md. Exit status: 0 all passed, 1 a check failed, 77 Wine or Xvfb cannot run here
(a failure when CI=true).
"""

import argparse
import functools
import os
import shutil
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import differential as df  # noqa: E402
import winefix  # noqa: E402
from differential import CANCELLED, COMPLETION, PROGRESS, TEXTS, WELCOME, mm  # noqa: E402

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
RESTART_FILES = [winefix.SYSTEM_DIR + "\\" + name for name in mm.RESTART_FILES]
NUL_LINES = b"".join(b"NUL=%s\r\n" % path.encode() for path in RESTART_FILES)
# Another program's deletion already pending: its last line without a line
# end, then the 0x1A that old editors leave; the file it names is there.
PENDING = (b"[rename]\r\nNUL=C:\\OLD.TMP\x1a", "C:\\OLD.TMP")

# Name, steps (the dialog that must come up, the user's answer; see
# winefix.Run.answer), the simulated user's answers to WELCOME and the
# restart question (br32unin-sim --welcome, --restart), the WININIT.INI there
# before (win98 mode only).
OK = [(WELCOME, "click 1"), (PROGRESS, "watch")]
SCENARIOS = [
    ("ok_no", [(WELCOME, "key Return"), (PROGRESS, "watch"), (COMPLETION, "click 7")],
     "ok no", None),
    ("ok_yes", OK + [(COMPLETION, "click 6")], "ok yes", None),
    ("ok_yes_pending", OK + [(COMPLETION, "click 6")], "ok yes", PENDING),
    ("cancel", [(WELCOME, "click 2"), (CANCELLED, "key Return")], "cancel", None),
    ("escape", [(WELCOME, "key Escape"), (CANCELLED, "click 1")], "escape", None),
    ("welcome_closebox", [(WELCOME, "closebox"), (CANCELLED, "click 1")], "close", None),
    # The simulated user cannot close the progress dialog: nothing changes, as after Cancel.
    ("progress_closebox", [(WELCOME, "click 1"), (PROGRESS, "close-early"),
                           (CANCELLED, "click 1")], "cancel", None),
]


def sample_machine(mode, program, pending):
    """The sample machine's installation and decoys (winxp: win98's, on the
    NT paths) as a generated machine; pending: PENDING or None."""
    g = mm.Generated(0, mode)
    programs = mm.GEN_WINDOWS + "\\Start Menu\\Programs"
    layers = [mm.driver_installation(g.build), mm.decoys(g.build)]
    for layer in layers:
        g.layer.keys += layer.keys
        g.layer.files += [(mm.relocate(p, programs), d, s) for p, d, s in layer.files]
    g.programs, g.win_ini = programs, mm.win_ini(layers)
    if pending:
        g.wininit = pending[0]
        g.layer.file(pending[1], b"old\r\n")
    return df.with_program(g, program)


def check_run(run, mode, restart, pending):
    """What only Wine shows; nothing when the run did not get that far."""
    if run.code is None:
        return []
    problems = [] if run.code == 2 else ["exit code %d, wanted 2" % run.code]
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
    # the 70th step 0 (the 69th 2, the 71st 138 again). The watcher sees the
    # bar once the dialog shows: at its start, 0, or after the first few steps.
    seen = run.positions[1:] if run.positions and run.positions[:1] == [0] else run.positions
    if seen is not None and (seen[-1:] != [0] or any(p not in range(0, 139, 2) for p in seen)
                             or any(b >= a for a, b in zip(seen, seen[1:]))):
        problems.append("progress bar: positions %r, wanted steps of 2 from 138 down to 0" % seen)
    # On NT only, and only for a restart; Wine restarts without it, so only its trace tells.
    asked = "SeShutdownPrivilege" in run.trace and "AdjustTokenPrivileges" in run.trace
    if asked != (restart and mode == "winxp"):
        problems.append("restart privilege enabled: %s, wanted %s (trace ends %r)"
                        % (asked, not asked, run.trace[-400:]))
    if restart:
        # Wine's restart steps ran; a pending entry stays on a line of its own, then ours.
        drive_c = run.wine.drive_c
        bak = df.file_bytes(winefix.unix_path(drive_c, winefix.WINDOWS_DIR + "\\wininit.bak"))
        want = (pending[0][:-1] + b"\r\n" if pending else b"[rename]\r\n") + NUL_LINES
        if bak != want:
            problems.append("wininit.bak: %r, wanted %r" % (bak, want))
        left = [p for p in RESTART_FILES + ([pending[1]] if pending else [])
                if os.path.exists(winefix.unix_path(drive_c, p))]
        if left:
            problems.append("after the restart still there: %s" % left)
    return problems


def run_scenario(args, mode, scenario, base, display, program):
    name, steps, answers, pending = scenario
    started, answers = time.monotonic(), answers.split()
    options = ["--welcome", answers[0]] + ["--restart", answers[-1]] * (len(answers) > 1)
    shots = {caption: DIALOGS[caption][0] for caption in DIALOGS}
    lines, run = df.run_both(sample_machine(mode, program, pending), args, base, display,
                             "%s-%s" % (mode, name), (steps, options), shots)
    problems = lines + check_run(run, mode, answers[-1] == "yes", pending)
    print("%-5s %s %-18s %5.1f s" % ("FAIL" if problems else "ok", mode, name,
                                     time.monotonic() - started), flush=True)
    for line in problems + ["screenshot: %s" % p for p in run.shot_paths.values() if problems]:
        print("        " + line)
    if not problems and not args.keep:
        shutil.rmtree(run.folder, ignore_errors=True)
    return not problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("modes", nargs="*", help="win98, win95, winxp (default: all three)")
    parser.add_argument("--scenario", action="append", help="run only these scenarios")
    args = df.parse_args(parser, argv)
    if set(args.modes) - {"win98", "win95", "winxp"}:
        parser.error("unknown mode in %s" % args.modes)
    os.makedirs(os.path.join(args.work, "shots"), exist_ok=True)
    cases = [functools.partial(run_scenario, args, mode, scenario)
             for mode in args.modes or ["win98", "win95", "winxp"] for scenario in SCENARIOS
             if (not scenario[3] or mode == "win98") and (
                 not args.scenario or scenario[0] in args.scenario)]
    return winefix.run_all("wine suite", args, cases, "%d of %d scenarios passed", ("import",))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
