"""A Wine prefix with the driver installed as a sample machine holds it, and
what a prefix holds seen from outside the program: the registry as regedit
exports it, WIN.INI by section, every file and folder of drive C, each as a
dict {lower-case name: (name, content)} so that two captures compare item
by item."""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

MAKE_MACHINES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                             "make_machines.py")
MODES = {"win98": "win98", "win95": "win95", "winxp": "win98"}  # Wine version: sample machine
WINDOWS_DIR, SYSTEM_DIR = "C:\\windows", "C:\\windows\\system32"
# This Wine does not look in fonts-wine's folder: without these the close box
# draws as the letter "r" and the texts in a fallback face.
FONTS = ["/usr/share/wine/fonts/" + f for f in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf")]
# The WIN.INI sections that Wine's profile functions keep in the registry, as NT does.
PROFILE_KEYS = {s.lower(): "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
                + s for s in ("Devices", "PrinterPorts", "Windows")}
# Wine's links: a key of the first root shows again below the second.
ALIASES = [("hkey_current_config\\",
            "hkey_local_machine\\system\\currentcontrolset\\hardware profiles\\current\\"),
           ("hkey_classes_root\\", "hkey_local_machine\\software\\classes\\")]
# Made afresh in each session, with new names or stamps each time; the device
# services' keys come and go with them, WineDbg's when one of them crashes.
SESSION_KEYS = ["HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\DeviceClasses",
                "HKEY_CURRENT_USER\\Software\\Wine\\WineDbg",
                "HKEY_CURRENT_CONFIG\\System\\CurrentControlSet\\Control\\Video",
                "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video",
                "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\"
                "{4D36E968-E325-11CE-BFC1-08002BE10318}",
                "HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters",
                "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent"]


class Wine:
    """Commands against one prefix on one X display."""

    def __init__(self, prefix, display):
        self.prefix, self.drive_c = prefix, os.path.join(prefix, "drive_c")
        # No Mono or Gecko installer prompts when the prefix is made.
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win32", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree=;mshtml=", DISPLAY=display)

    def run(self, *args, timeout=120, check=True):
        """To its end; the output goes through files, as the session's first
        process starts Wine's services, which would hold a pipe open."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(args, env=self.env, timeout=timeout, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)
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

    def wait_for_exit(self, name, timeout):
        """Until no process of this prefix runs the program name (lower
        case, say "wineboot.exe"); False on the timeout."""
        want = ("WINEPREFIX=" + self.prefix).encode()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            running = False
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    if (name.encode() in Path("/proc", pid, "cmdline").read_bytes().lower() and
                            want in Path("/proc", pid, "environ").read_bytes().split(b"\0")):
                        running = True
                        break
                except OSError:
                    pass
            if not running:
                return True
            time.sleep(0.05)
        return False

    def registry(self, listing, folder):
        """The subtrees holding the listed keys, as regedit exports them."""
        os.makedirs(folder, exist_ok=True)
        roots, keys = {}, {}
        for item in listing["registry"]:
            parts = item["path"].split("\\")
            # One level deeper below CLSID, whose whole subtree is large.
            root = "\\".join([item["root"]] + parts[:2 if parts[0].lower() == "clsid" else 1])
            roots.setdefault(root.lower(), root)
        for i, root in enumerate(roots.values()):
            path = os.path.join(folder, "export%02d.reg" % i)
            self.wine("regedit", "/e", "Z:" + path.replace("/", "\\"), root, check=False)
            if os.path.exists(path):
                keys.update(parse_regfile(Path(path).read_bytes()))
        return keys


def copy_prefix(source, target):
    """A prefix to run on, made afresh from source. Wine's own large files,
    which nothing writes, are hard links: a prefix holds some 600 MB."""
    shutil.rmtree(target, ignore_errors=True)

    def copy(src, dst):
        if os.path.getsize(src) >= 65536 and not src.endswith(".reg"):
            os.link(src, dst)
        else:
            shutil.copy2(src, dst)
    shutil.copytree(source, target, symlinks=True, copy_function=copy)


def unix_path(drive_c, path, make_dirs=False):
    """The host path of a C: path, each folder matched regardless of case."""
    current, parts = drive_c, path[3:].split("\\")
    for i, part in enumerate(parts):
        names = os.listdir(current) if os.path.isdir(current) else []
        current = os.path.join(current, next((n for n in names if n.lower() == part.lower()), part))
        if make_dirs and i < len(parts) - 1:
            os.makedirs(current, exist_ok=True)
    return current


def tree_key(path):
    return path[3:].replace("\\", "/").lower()


def parse_regfile(data):
    """A REGEDIT4 (code page 1252) or version 5 (UTF-16) file, values sorted."""
    text = data[2:].decode("utf-16-le") if data[:2] == b"\xff\xfe" else data.decode("cp1252")
    keys, values = {}, None
    for line in re.sub(r"\\\r?\n\s*", "", text).replace("\r\n", "\n").split("\n"):
        if line.startswith("[") and line.endswith("]"):
            values = keys.setdefault(line[1:-1].lower(), (line[1:-1], []))[1]
        elif line and values is not None and not line.startswith(";"):
            values.append(line)
    for _, values in keys.values():
        values.sort(key=str.lower)
    return remove_subtrees(keys, SESSION_KEYS)


def remove_subtrees(keys, gone):
    """keys less those at or below a path of gone, by any of Wine's names."""
    tops = set()
    for path in map(str.lower, gone):
        tops.add(path)
        for a, b in ALIASES + [(b, a) for a, b in ALIASES]:
            if path.startswith(a):
                tops.add(b + path[len(a):])
    return {k: v for k, v in keys.items()
            if not any(k == t or k.startswith(t + "\\") for t in tops)}


def parse_ini(data):
    """Sections in file order, entries as (key, value), value None without '='."""
    sections, entries = {}, None
    for line in data.decode("cp1252").splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            entries = sections.setdefault(line[1:-1].lower(), (line[1:-1], []))[1]
        elif line and not line.startswith(";") and entries is not None:
            key, sep, value = line.partition("=")
            entries.append((key.strip(), value.strip() if sep else None))
    return sections


def mark(data):
    return hashlib.sha256(data).hexdigest()


def snapshot_tree(drive_c):
    """Files by content (Wine's own large ones by size and time), folders,
    links; not inside temp and logs folders, which Wine itself writes."""
    tree = {}
    for top, dirs, files in os.walk(drive_c):
        for name in dirs + files:
            full = os.path.join(top, name)
            path, st = os.path.relpath(full, drive_c).replace(os.sep, "/"), os.lstat(full)
            tree[path.lower()] = (path, "link" if os.path.islink(full) else "dir" if name in dirs
                                  else "size %d time %d" % (st.st_size, st.st_mtime_ns)
                                  if st.st_size > 65536 else mark(Path(full).read_bytes()))
        dirs[:] = [d for d in dirs if d.lower() not in ("temp", "logs")]
    return tree


def diff(what, want, got):
    """A line for each item missing, extra or holding other content."""
    lines = []
    for k in sorted(set(want) | set(got)):
        if k not in got:
            lines.append("%s: missing: %s" % (what, want[k][0]))
        elif k not in want:
            lines.append("%s: should be gone: %s" % (what, got[k][0]))
        elif want[k][1] != got[k][1]:
            lines.append("%s: %s: %r, wanted %r" % (what, want[k][0], got[k][1], want[k][1]))
    return lines


def add_volatile_keys(wine, windrive, regfile):
    """Wine makes HKEY_CURRENT_CONFIG\\System afresh, volatile, in each
    session, and regedit imports nothing below it: the file's keys there go
    in through WINDRIVE.EXE, once per session, before anything reads them."""
    keys, args = parse_regfile(Path(regfile).read_bytes()), []
    unquote = lambda s: s[1:-1].replace('\\"', '"').replace("\\\\", "\\")  # noqa: E731
    for path, values in keys.values():
        if path.upper().startswith("HKEY_CURRENT_CONFIG\\"):
            args.append(path)
            for line in values:
                name, _, data = line.partition("=")
                if data.startswith('"'):
                    args += [unquote(name), "sz", unquote(data)]
                elif data.startswith("dword:"):
                    args += [unquote(name), "dword", data[6:]]
                else:
                    raise RuntimeError("value kind not handled: " + line)
    wine.wine(windrive, "volatilekey", *args)


def build(mode, exe, windrive, folder, display):
    """folder/prefix, its server stopped, with folder/driver.reg beside it;
    returns the listing (its paths moved into the prefix) and the baseline."""
    if os.path.exists(folder):
        Wine(os.path.join(folder, "prefix"), display).run("wineserver", "-k", check=False)
        shutil.rmtree(folder)
    os.makedirs(folder)
    regfile, listing = os.path.join(folder, "driver.reg"), os.path.join(folder, "listing.json")
    subprocess.run([sys.executable, MAKE_MACHINES, "--machine", MODES[mode], "--emit-regfile",
                    regfile, "--emit-listing", listing], check=True)
    listing = json.loads(Path(listing).read_text())
    missing = [f for f in FONTS if not os.path.isfile(f)]
    if missing:
        raise RuntimeError("fonts missing (Debian package fonts-wine): %s" % missing)
    wine = Wine(os.path.join(folder, "prefix"), display)
    wine.run("wineboot", "-i", timeout=300)
    wine.start_session()  # one session: the keys below HKEY_CURRENT_CONFIG live as long as it
    wine.wine("reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", mode, "/f")
    # Without a window manager Wine waits 2 s for each window it closes,
    # unless it draws the windows itself.
    wine.wine("reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f")
    for font in FONTS:
        shutil.copy(font, unix_path(wine.drive_c, WINDOWS_DIR + "\\Fonts"))
    wine.wine("regedit", "/S", "Z:" + regfile.replace("/", "\\"))
    add_volatile_keys(wine, windrive, regfile)
    # Through the profile functions: each entry lands where this Wine keeps it.
    wine.wine(windrive, "profile", *[x for i in listing["win_ini"]
                                     for x in (i["section"], i["key"], i["value"])])

    out = wine.wine("reg", "query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                    "Explorer\\Shell Folders", "/v", "Programs").stdout.decode(errors="replace")
    programs = re.search(r"^\s*Programs\s+REG_SZ\s+(.*?)\s*$", out, re.M | re.I).group(1)
    sample = listing["windows_dir"]
    moves = [(listing["system_dir"], SYSTEM_DIR), (sample + "\\Start Menu\\Programs", programs),
             (sample + "\\Start Menu", programs.rsplit("\\", 1)[0]), (sample, WINDOWS_DIR)]
    for item in listing["files"] + listing["folders"]:
        old, new = next(m for m in moves if (item["path"] + "\\").lower().startswith(
            m[0].lower() + "\\"))
        item["path"] = new + item["path"][len(old):]
    for item in listing["files"]:
        data = bytes.fromhex(item["hex"])
        if item["path"].lower() == (SYSTEM_DIR + "\\BR32UNIN.EXE").lower():
            data = Path(exe).read_bytes()  # the program itself, where its installer put it
        Path(unix_path(wine.drive_c, item["path"], make_dirs=True)).write_bytes(data)

    win_ini = Path(unix_path(wine.drive_c, WINDOWS_DIR + "\\win.ini")).read_bytes()
    base = {"registry": wine.registry(listing, os.path.join(folder, "export")),
            "tree": snapshot_tree(wine.drive_c), "win_ini": parse_ini(win_ini)}
    wine.end_session()
    missing = [i["root"] + "\\" + i["path"] for i in listing["registry"]
               if (i["root"] + "\\" + i["path"]).lower() not in base["registry"]]
    missing += [i["path"] for i in listing["files"] + listing["folders"]
                if tree_key(i["path"]) not in base["tree"]]
    if missing:
        raise RuntimeError("not installed: %s" % missing)
    return listing, base
