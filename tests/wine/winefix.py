"""Wine for differential.py: one prefix and its session, the clean prefix
every run copies, Xvfb, and BR32UNIN.EXE driven through its dialogs like a
user (WINDRIVE.EXE, xdotool)."""

import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

WINDOWS_DIR, SYSTEM_DIR = "C:\\windows", "C:\\windows\\system32"
# This Wine does not look in fonts-wine's folder: without these the close box
# draws as the letter "r" and the texts in a fallback face.
FONTS = ["/usr/share/wine/fonts/" + f for f in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf")]
DIALOG_TIMEOUT_MS, EXIT_TIMEOUT_S, RESTART_TIMEOUT_S = 20000, 30, 30


class Wine:
    """Commands against one prefix on one X display."""

    def __init__(self, prefix, display):
        self.prefix, self.drive_c = prefix, os.path.join(prefix, "drive_c")
        # No Mono or Gecko installer prompts when the prefix is made.
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win32", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree=;mshtml=", DISPLAY=display)

    def run(self, *args, timeout=120, check=True, input=b""):
        """To its end; the output goes through files, as the session's first
        process starts Wine's services, which would hold a pipe open."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(args, env=self.env, timeout=timeout, input=input, stdout=out,
                                    stderr=err)
            out.seek(0), err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        if check and result.returncode:
            raise RuntimeError("%s: exit %d: %s" % (" ".join(args), result.returncode,
                                                    result.stderr.decode(errors="replace")))
        return result

    def wine(self, *args, **kw):
        return self.run("wine", *args, **kw)

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


def unix_path(drive_c, path, make_dirs=False):
    """The host path of a C: path, each folder matched regardless of case."""
    current, parts = drive_c, path[3:].split("\\")
    for i, part in enumerate(parts):
        names = os.listdir(current) if os.path.isdir(current) else []
        current = os.path.join(current, next((n for n in names if n.lower() == part.lower()), part))
        if make_dirs and i < len(parts) - 1:
            os.makedirs(current, exist_ok=True)
    return current


def base_prefix(work, display):
    """A clean prefix for every run, made once per Wine version."""
    folder, stamp = os.path.join(work, "base"), os.path.join(work, "base", "made-by")
    version = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE).stdout
    if os.path.exists(stamp) and Path(stamp).read_bytes() == version:
        return os.path.join(folder, "prefix")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    wine = Wine(os.path.join(folder, "prefix"), display)
    wine.run("wineboot", "-i", timeout=300)
    wine.start_session()
    # Without a window manager Wine waits 2 s for each window it closes,
    # unless it draws the windows itself.
    wine.wine("reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f")
    wine.wine("reg", "delete", "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
              "IniFileMapping\\win.ini", "/f")
    for font in FONTS:
        shutil.copy(font, unix_path(wine.drive_c, WINDOWS_DIR + "\\Fonts"))
    wine.end_session()
    Path(stamp).write_bytes(version)
    return wine.prefix


def run_all(args, cases, run_case, summary):
    """run_case(args, *case, base prefix, display) for each case, True when
    it passed, on one Xvfb display; prints summary % (passed, all) and gives
    the exit status (77 when something is missing, 1 then if CI=true)."""
    missing = [t for t in ("wine", "wineserver", "wineboot", "Xvfb", "xdotool", "import")
               if not shutil.which(t)]
    missing += [p for p in [args.exe, args.windrive, args.sim] + FONTS if not os.path.isfile(p)]
    xvfb = None if missing else subprocess.Popen(
        ["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    display = xvfb and ":" + xvfb.stdout.readline().strip().decode()
    if display in (None, ":"):
        print("cannot run, missing: %s" % (" ".join(missing) or "Xvfb's display"))
        return 1 if os.environ.get("CI") == "true" else 77
    try:
        os.makedirs(os.path.join(args.work, "shots"), exist_ok=True)
        base = base_prefix(args.work, display)
        passed = sum(run_case(args, *case, base, display) for case in cases)
    finally:
        xvfb.terminate()
        xvfb.wait(10)
    print(summary % (passed, len(cases)))
    return 0 if passed == len(cases) else 1


class Run(Wine):
    """One run of the program in a fresh copy of the base prefix, in folder;
    shots: {caption: name} of its dialogs' screenshots."""

    def __init__(self, args, base, folder, display, shots):
        super().__init__(os.path.join(folder, "prefix"), display)
        self.args, self.name, self.shots = args, os.path.basename(folder), shots
        self.logs = os.path.join(folder, "logs")
        os.makedirs(self.logs)
        shutil.copytree(base, self.prefix, symlinks=True, copy_function=link_or_copy)
        self.procs, self.dialogs = [], {}
        self.bar = self.positions = self.code = self.trace = None

    def start(self, tag, *args, **env):
        """A Wine process in the background, its output to a file (see Wine.run)."""
        out = open(os.path.join(self.logs, "%02d-%s.out" % (len(self.procs), tag)), "w+b")
        proc = subprocess.Popen(["wine"] + list(args), env=dict(self.env, **env), cwd=self.drive_c,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        proc.log = out
        self.procs.append(proc)
        return proc

    def windrive(self, command, *args, wait=False):
        args = [self.args.windrive, command] + list(args) + [str(DIALOG_TIMEOUT_MS)]
        return self.wine(*args).stdout if wait else self.start(command, *args)

    @staticmethod
    def output(proc, timeout):
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        proc.log.seek(0)
        return proc.log.read()

    def xdotool(self, *args, check=True):
        return subprocess.run(["xdotool"] + list(args), env=self.env, timeout=20, check=check,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.split()

    def x_window(self, caption):
        ids = self.xdotool("search", "--name", "^%s$" % re.escape(caption), check=False)
        return ids[0].decode() if ids else None

    def answer(self, caption, action):
        """key K: a real X key event; click ID: BM_CLICK; closebox: a mouse
        click on the close box; close-early, watch: nothing more."""
        verb, _, arg = action.partition(" ")
        if verb == "key":
            window = self.x_window(caption) or caption + ": no X window"
            self.xdotool("windowfocus", "--sync", window, "key", "--clearmodifiers", arg)
        elif verb == "click":
            self.windrive("click", caption, arg, wait=True)
        elif verb == "closebox":
            x, y = self.windrive("closebox", caption, wait=True).split()
            self.xdotool("mousemove", "--sync", x, y, "click", "1")

    def watch(self, caption, action):
        """close-early: SC_CLOSE the moment the dialog shows; else its dump,
        and for a progress bar (id 1008) its positions."""
        if action == "close-early":
            return self.windrive("close", caption)
        if action == "watch":
            self.bar = self.windrive("watchbar", caption, "1008")
        return self.windrive("dump", caption)

    def drive(self, steps):
        """The program through the steps (caption, action): its exit code
        and Wine's trace of it in self.code and self.trace."""
        watcher = self.watch(*steps[0])
        # Wine traces the token calls: the restart privilege is seen from outside.
        program = self.start("program", SYSTEM_DIR + "\\BR32UNIN.EXE",
                             WINEDEBUG="-all,+advapi,+security")
        for i, (caption, action) in enumerate(steps):
            seen = self.output(watcher, DIALOG_TIMEOUT_MS / 1000 + 5)
            if watcher.returncode != 0:
                raise RuntimeError("step %d: dialog %r did not come up (%r)" % (i + 1, caption, seen))
            if action != "close-early":
                self.dialogs[caption] = parse_dump(seen)
                window = self.x_window(caption)
                shot = os.path.join(self.args.work, "shots", "%s-%s.png" % (self.name,
                                                                            self.shots[caption]))
                if window:
                    subprocess.run(["import", "-window", window, shot], env=self.env, timeout=20,
                                   stderr=subprocess.DEVNULL)
            if i + 1 < len(steps):
                watcher = self.watch(*steps[i + 1])
            self.answer(caption, action)
        trace = self.output(program, EXIT_TIMEOUT_S)
        if trace is None:
            raise RuntimeError("the program did not end after the last step; dialogs up: %r"
                               % [c for c, _ in steps if self.x_window(c)])
        if self.bar:
            self.positions = [int(p) for p in (self.output(self.bar, 10) or b"").split()]
        self.code, self.trace = program.returncode, trace.decode(errors="replace")

    def wait_for_restart(self):
        """Wine's restart steps run at once, in a process of their own: until
        they have worked through WININIT.INI, their last step that counts."""
        deadline = time.monotonic() + RESTART_TIMEOUT_S
        while os.path.exists(unix_path(self.drive_c, WINDOWS_DIR + "\\wininit.ini")):
            if time.monotonic() > deadline:
                raise RuntimeError("the restart steps did not end")
            time.sleep(0.05)

    def finish(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.log.close()
        self.end_session()


def parse_dump(out):
    """WINDRIVE.EXE dump: {"dialog" or control id: (class, extended style, text)}."""
    lines = re.findall(r"^(-?\d+) (\S+) ([0-9A-F]{8}) ?([0-9A-F]*)\r?$", out.decode("latin-1"),
                       re.M)
    found = [(int(i), (cls, int(ex, 16), bytes.fromhex(text))) for i, cls, ex, text in lines]
    return dict(found[1:], dialog=found[0][1]) if found else {}
