#!/usr/bin/env python3
"""./run and br32unin-sim as a user meets them: one table of runner cases.

Each case runs the host program (or ./run) on a copy of the sample Windows 98
machine and checks what it printed, its exit code, and the machine folder
after it byte for byte: as it was, or as a finished run leaves it after No.
Interrupts come from a terminal (a pty: Ctrl-C at a prompt or during the
progress bar), from SIGTERM, from a closed pipe, and from SIGKILL at random
points of the run and its save.

usage: run_cases.py --sim build/host/br32unin-sim
Exit status: 0 all passed, 1 some failed.
"""

import argparse
import os
import pty
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLE = os.path.join(ROOT, "machines", "win98")
SECTIONS = b"[rename]\r\nNUL=C:\\OLD.TMP\r\n[CombineVxDs]\r\nA=B\r\n"
PROMPT_WELCOME, PROMPT_RESTART = b"Enter/o: OK", b"Enter/y: Yes"


def tree(top):
    """Every file and folder below top: relative path -> bytes, or None."""
    found = {}
    for folder, dirs, files in os.walk(top):
        for name in dirs:
            found[os.path.relpath(os.path.join(folder, name), top)] = None
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                found[os.path.relpath(os.path.join(folder, name), top)] = f.read()
    return found


class Cases:
    def __init__(self, sim):
        self.sim, self.work = sim, tempfile.mkdtemp(prefix="run-cases-")
        self.env = dict(os.environ, TMPDIR=os.path.join(self.work, "tmp"))
        os.makedirs(self.env["TMPDIR"])
        self.failures, self.count = [], 0
        # The folder as it was, and as a finished run leaves it after No.
        self.before = tree(self.machine("reference"))
        self.run([self.sim, self.machine("reference"), "--welcome", "ok", "--restart", "no"])
        self.after_no = tree(os.path.join(self.work, "reference"))

    def machine(self, name, wininit=None):
        folder = os.path.join(self.work, name)
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(SAMPLE, folder)
        if wininit is not None:
            with open(os.path.join(folder, "drives", "C", "WINDOWS", "wininit.ini"), "wb") as f:
                f.write(wininit)
            with open(os.path.join(folder, "drives", "C", "OLD.TMP"), "wb") as f:
                f.write(b"old")
        return folder

    def run(self, args, env=None, **kw):
        return subprocess.run(args, env=env or self.env, capture_output=True, timeout=300, **kw)

    def check(self, what, ok, detail=""):
        self.count += 1
        print("%-4s %s" % ("ok" if ok else "FAIL", what), flush=True)
        if not ok:
            self.failures.append(what)
            for line in str(detail).splitlines()[-20:]:
                print("       " + line)

    def settled(self, what, folder, wanted):
        """The folder is wanted ("before" or "after No"), and nothing of
        the run is left beside it or in the temporary folder."""
        now = tree(folder)
        states = {"before": self.before, "after No": self.after_no}
        state = next((name for name, files in states.items() if files == now), None)
        left = [n for n in os.listdir(os.path.dirname(folder)) if ".br32unin-" in n]
        left += os.listdir(self.env["TMPDIR"])
        self.check(what, state in wanted and not left,
                   "the folder is %s; left: %s" % (state or "neither before nor after No", left))
        return state

    def terminal(self, folder, answers, stop_at):
        """The program on a terminal: answers typed at each prompt, then
        Ctrl-C once the output holds stop_at. Its output and exit code."""
        pid, fd = pty.fork()
        if pid == 0:
            os.execve(self.sim, [self.sim, folder], self.env)
        out, deadline = b"", time.monotonic() + 120
        answers = list(answers)
        while time.monotonic() < deadline:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                break
            if not chunk:
                break
            out += chunk
            if answers and answers[0][0] in out:
                os.write(fd, answers.pop(0)[1])
            if stop_at and stop_at in out:
                time.sleep(0.2)
                os.write(fd, b"\x03")
                stop_at = None
        _, status = os.waitpid(pid, 0)
        os.close(fd)
        return out, os.waitstatus_to_exitcode(status)

    # ------------------------------------------------------------ the table

    def interrupts(self):
        folder = self.machine("interrupted")
        out, code = self.terminal(folder, [], PROMPT_WELCOME)
        self.check("Ctrl-C at the welcome prompt ends the run", code == -signal.SIGINT or code == 130, out[-300:])
        self.settled("  ... and the folder is as it was", folder, {"before"})

        folder = self.machine("interrupted")
        out, code = self.terminal(folder, [(PROMPT_WELCOME, b"\r")], "Disinstallazione del driver".encode())
        self.check("Ctrl-C during the progress bar waits for the removal", b"Exit code" in out, out[-300:])
        self.settled("  ... and the folder is as a finished run leaves it", folder, {"after No"})

        folder = self.machine("interrupted")
        out, code = self.terminal(folder, [(PROMPT_WELCOME, b"\r")], PROMPT_RESTART)
        self.check("Ctrl-C at the completion prompt", b"Exit code: 130" in out, out[-300:])
        self.settled("  ... and the folder is as a finished run leaves it after No", folder, {"after No"})

        folder = self.machine("terminated")
        proc = subprocess.Popen([self.sim, folder, "--welcome", "ok", "--restart", "no"], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.05)
        proc.terminate()
        proc.wait(60)
        self.settled("SIGTERM part-way through", folder, {"before", "after No"})

        folder = self.machine("piped")
        shell = "'%s' '%s' --welcome ok --restart no | head -1" % (self.sim, folder)
        out = self.run(["bash", "-c", shell])
        self.check("a closed pipe: the first line shown", out.stdout.startswith(b"Machine: "), out)
        self.settled("  ... the folder settled, nothing left in the temporary folder", folder,
                     {"before", "after No"})
        out = self.run(["bash", "-c", "'%s' --welcome ok --restart no | head -1" % self.sim])
        self.settled("  ... and the sample's temporary copy removed", folder, {"before", "after No"})

        # SIGKILL of the whole run at random points, its save included.
        rng, states = random.Random(1), {}
        for i in range(24):
            folder = self.machine("killed")
            proc = subprocess.Popen([self.sim, folder, "--welcome", "ok", "--restart", "no"], env=self.env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    start_new_session=True)
            time.sleep(rng.uniform(0, 0.4))
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait(60)
            now = tree(folder)
            state = "before" if now == self.before else "after No" if now == self.after_no else "neither"
            states[state] = states.get(state, 0) + 1
            for name in os.listdir(self.work):  # a killed run cannot clean up
                if ".br32unin-" in name:
                    shutil.rmtree(os.path.join(self.work, name))
            shutil.rmtree(self.env["TMPDIR"])
            os.makedirs(self.env["TMPDIR"])
        self.check("SIGKILL at 24 random points: the folder is as it was or as after No (%s)"
                   % ", ".join("%s %d" % kv for kv in sorted(states.items())), "neither" not in states)

    def summaries(self):
        folder = self.machine("inserted", SECTIONS)
        out = self.run([self.sim, folder, "--welcome", "ok", "--restart", "no"]).stdout.decode("latin-1")
        self.check("the summary shows the lines inserted into the first section, and only those",
                   "Lines added to C:\\WINDOWS\\wininit.ini (5), before [CombineVxDs]:\n  NUL=" in out
                   and "OLD.TMP" not in out.split("Lines added")[1], out)
        folder = self.machine("restarted", SECTIONS)
        out = self.run([self.sim, folder, "--welcome", "ok", "--restart", "yes"]).stdout.decode("latin-1")
        summary = out.split("Next start:")[1]
        self.check("a restart's rename is a rename, its lines those added",
                   "Files renamed (1):\n  C:\\WINDOWS\\wininit.ini to C:\\WINDOWS\\WININIT.BAK\n" in summary
                   and "Lines added to C:\\WINDOWS\\WININIT.BAK (5), before [CombineVxDs]:" in summary
                   and not re.search(r"(?s)Files deleted.*wininit\.ini.*Folders", summary), summary)

    def arguments(self):
        bad = self.machine("not-a-machine")
        os.remove(os.path.join(bad, "machine.ini"))
        out = self.run([self.sim, bad])
        self.check("a folder without machine.ini is refused in one line",
                   out.returncode == 125 and out.stderr.count(b"\n") == 1 and b"no machine.ini" in out.stderr
                   and tree(bad) == {k: v for k, v in self.before.items() if k != "machine.ini"}, out)
        for args, words in ((["--welcome", "maybe"], b"--welcome maybe: the answers are ok, enter"),
                            (["--restart"], b"--restart needs an answer: yes or no"),
                            (["--exe", bad], b"--exe needs the Windows program's file")):
            out = self.run([self.sim] + args)
            self.check("%s: one line that names the option" % " ".join(args[:2]).replace(bad, "FOLDER"),
                       out.returncode == 125 and out.stderr.count(b"\n") == 1 and words in out.stderr, out)
        exe = os.path.join(ROOT, "build", "win32", "BR32UNIN.EXE")
        if os.path.isfile(exe):
            program = os.path.join(self.work, "program.bin")
            shutil.copy(exe, program)
            folder = self.machine("exe")
            # ./run with the program under test, not a host build of its own.
            out = self.run([os.path.join(ROOT, "run"), "--exe", program, folder, "--welcome", "ok"],
                           env=dict(self.env, BR32UNIN_SIM=self.sim))
            self.check("./run --exe takes a file of any name for the program", out.returncode == 2
                       and self.settled("  ... and runs it on the folder", folder, {"after No"}), out)
        samples = tree(SAMPLE)
        out = self.run([self.sim, SAMPLE, "--welcome", "ok"])
        self.check("a sample's path runs on a copy, and says so",
                   b"the samples stay as committed" in out.stdout and tree(SAMPLE) == samples
                   and not os.listdir(self.env["TMPDIR"]), out)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sim", required=True)
    args = parser.parse_args(argv)
    cases = Cases(os.path.abspath(args.sim))
    print("runner cases: %s on copies of machines/win98" % args.sim)
    try:
        cases.interrupts()
        cases.summaries()
        cases.arguments()
    finally:
        shutil.rmtree(cases.work, ignore_errors=True)
    passed = cases.count - len(cases.failures)
    print("%d passed, %d failed" % (passed, len(cases.failures)))
    return 0 if not cases.failures else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
