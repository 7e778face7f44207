#!/usr/bin/env python3
"""An installed driver in a Wine prefix.

Makes a fresh 32-bit Wine prefix, sets its Windows version and installs the
printer driver there the way the sample machines hold it: the registry keys
and values of tools/make_machines.py's REGEDIT4 file imported with Wine's
regedit, the WIN.INI entries, the Start-menu group under the prefix's
"Programs" folder (with the "Programs" value of Shell Folders set), the
driver files in the system directory, the INF files, and the decoys that a
removal must leave alone. BR32UNIN.EXE itself goes into the system directory,
as its installer put it there.

Then it records the baseline that the suite compares every run against: the
registry subtrees exported by regedit, WIN.INI and every file of drive C.

Standalone use, for a prefix to look at by hand:
    tests/wine/winefix.py MODE PREFIX_DIR --exe build/win32/BR32UNIN.EXE
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import winestate  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
MAKE_MACHINES = os.path.join(SOURCE, "tools", "make_machines.py")

# mode: Wine's version name, the sample machine installed, whether the OS
# build gate of the program is open (build number above 950).
MODES = {
    "win98": {"version": "win98", "machine": "win98", "gate_open": True},
    "win95": {"version": "win95", "machine": "win95", "gate_open": False},
    "winxp": {"version": "winxp", "machine": "win98", "gate_open": True},
}

# Where the program looks in every Wine mode.
WINDOWS_DIR = "C:\\windows"
SYSTEM_DIR = "C:\\windows\\system32"
SHELL_FOLDERS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"

# Wine draws the caption buttons with the Marlett font, and captions and
# message boxes in Tahoma. The fonts-wine package ships them, but this Wine
# does not look in that package's folder (the close box would draw as the
# letter "r", the texts in a fallback face): the prefix gets its own copies.
WINE_FONTS = ["/usr/share/wine/fonts/" + name
              for name in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf")]


def log(what, since):
    print("  %-10s %5.1f s" % (what, time.monotonic() - since), flush=True)


class Wine:
    """Wine commands against one prefix, on one X display."""

    def __init__(self, prefix, display):
        self.prefix = prefix
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": prefix,
            "WINEARCH": "win32",
            "WINEDEBUG": "-all",
            # No Mono or Gecko installer prompts when the prefix is made.
            "WINEDLLOVERRIDES": "mscoree=;mshtml=",
            "DISPLAY": display,
        })

    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    def run(self, args, timeout=120, check=True):
        """Runs a command to its end. Its output goes through files, not
        pipes: the first Wine process of a session starts Wine's own
        background services, which would inherit a pipe and hold it open."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(args, env=self.env, timeout=timeout, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        if check and result.returncode != 0:
            raise RuntimeError("%s failed (exit %d): %s" % (
                " ".join(args), result.returncode, result.stderr.decode(errors="replace")))
        return result

    def wine(self, *args, **kw):
        return self.run(["wine"] + list(args), **kw)

    def start_session(self):
        """A wineserver that outlives the short helper processes, and the
        session's first process done before the test starts anything."""
        # A server still lingering from an earlier command would make a
        # second one wait for its lock.
        self.run(["wineserver", "-w"], timeout=60, check=False)
        self.run(["wineserver", "-p"], timeout=60)
        self.wine("cmd", "/c", "exit")

    def end_session(self):
        """Ends every process of the prefix; the server writes the registry
        to disk as it goes."""
        self.run(["wineserver", "-k"], timeout=60, check=False)
        self.run(["wineserver", "-w"], timeout=60, check=False)

    def reg_query(self, key, value):
        out = self.wine("reg", "query", key, "/v", value, check=False).stdout
        for line in out.decode("utf-8", errors="replace").splitlines():
            fields = line.strip().split(None, 2)
            if len(fields) == 3 and fields[0].lower() == value.lower():
                return fields[2]
        return None

    def export_registry(self, roots, folder):
        """Each root's subtree exported with regedit, parsed into one dict."""
        os.makedirs(folder, exist_ok=True)
        keys = {}
        for i, root in enumerate(roots):
            path = os.path.join(folder, "export%02d.reg" % i)
            if os.path.exists(path):
                os.remove(path)
            self.wine("regedit", "/e", "Z:" + path.replace("/", "\\"), root, check=False)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    keys.update(winestate.parse_regfile(f.read()))
        return keys


def unix_path(drive_c, windows_path, create_dirs=False):
    """The host path of a C: path, matching each component without regard
    to letter case, as Windows does; missing folders are made when asked."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    current = drive_c
    parts = [p for p in windows_path[3:].split("\\") if p]
    for i, part in enumerate(parts):
        match = None
        if os.path.isdir(current):
            for name in os.listdir(current):
                if name.lower() == part.lower():
                    match = name
                    break
        current = os.path.join(current, match or part)
        if create_dirs and i < len(parts) - 1 and not os.path.isdir(current):
            os.makedirs(current)
    return current


class Layout:
    """The sample machine's paths moved to where this prefix keeps them."""

    def __init__(self, listing, programs):
        self.moves = [
            (listing["system_dir"], SYSTEM_DIR),
            (listing["windows_dir"] + "\\Start Menu\\Programs", programs),
            (listing["windows_dir"] + "\\Start Menu", programs.rsplit("\\", 1)[0]),
            (listing["windows_dir"], WINDOWS_DIR),
        ]

    def path(self, sample_path):
        for old, new in self.moves:
            if sample_path.lower() == old.lower() or sample_path.lower().startswith(
                    old.lower() + "\\"):
                return new + sample_path[len(old):]
        return sample_path


def make_machine_files(machine, folder):
    """The REGEDIT4 file and the JSON listing, from the one description."""
    regfile = os.path.join(folder, "driver.reg")
    listing = os.path.join(folder, "listing.json")
    subprocess.run([sys.executable, MAKE_MACHINES, "--machine", machine,
                    "--emit-regfile", regfile, "--emit-listing", listing], check=True)
    with open(listing) as f:
        return regfile, json.load(f)


def volatile_keys(regfile):
    """The keys of the REGEDIT4 file under HKEY_CURRENT_CONFIG, as
    WINDRIVE.EXE volatilekey arguments."""
    with open(regfile, "rb") as f:
        keys = winestate.parse_regfile(f.read())
    commands = []
    for path, values in keys.values():
        if not path.upper().startswith("HKEY_CURRENT_CONFIG\\"):
            continue
        args = [path]
        for line in values:
            name, _, data = line.partition("=")
            name = "@" if name == "@" else name[1:-1].replace('\\"', '"').replace("\\\\", "\\")
            if data.startswith('"'):
                args += [name, "sz", data[1:-1].replace('\\"', '"').replace("\\\\", "\\")]
            elif data.startswith("dword:"):
                args += [name, "dword", data[6:]]
            elif data.startswith("hex:"):
                args += [name, "hex", data[4:].replace(",", "")]
            else:
                raise RuntimeError("value kind not handled: " + line)
        commands.append(args)
    # A key with subkeys and no values comes into being with its subkeys.
    return [c for c in commands if len(c) > 1 or not any(
        o[0].lower().startswith(c[0].lower() + "\\") for o in commands)]


def add_volatile_keys(wine, windrive, regfile):
    """Wine makes HKEY_CURRENT_CONFIG\\System afresh, volatile, in each
    session, and regedit cannot import below it: these keys go in by hand,
    once per session, before anything reads them."""
    for args in volatile_keys(regfile):
        wine.wine(windrive, "volatilekey", *args)


# The WIN.INI sections that this Wine keeps in the registry, as Windows NT
# does (IniFileMapping): the profile functions read and write them there
# and never touch the file's sections of the same name.
PROFILE_MAPPING = {
    "devices": "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Devices",
    "printerports":
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\PrinterPorts",
    "windows": "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
}


def write_profile(wine, windrive, listing):
    """The listed WIN.INI entries, written with the profile functions, so
    that each lands where this Wine's profile functions look for it."""
    args = []
    for item in listing["win_ini"]:
        if item["key"] is None:
            raise RuntimeError("a WIN.INI section without keys: [%s]" % item["section"])
        args += [item["section"], item["key"], item["value"]]
    wine.wine(windrive, "profile", *args)


def install(wine, mode, exe, windrive, folder):
    """Makes the prefix and installs the driver; returns the listing with
    its paths moved into the prefix."""
    started = time.monotonic()
    regfile, listing = make_machine_files(MODES[mode]["machine"], folder)
    wine.run(["wineboot", "-i"], timeout=300)
    log("wineboot", started)
    # One session from here on: the keys added below HKEY_CURRENT_CONFIG
    # live only as long as it.
    wine.start_session()
    wine.wine("reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d",
              MODES[mode]["version"], "/f")
    # Without a window manager Wine waits 2 s for each window it closes,
    # unless it draws the windows itself.
    wine.wine("reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f")
    missing = [font for font in WINE_FONTS if not os.path.isfile(font)]
    if missing:
        raise RuntimeError("fonts missing (Debian package fonts-wine): %s" % " ".join(missing))
    for font in WINE_FONTS:
        shutil.copy(font, unix_path(wine.drive_c, WINDOWS_DIR + "\\Fonts\\", create_dirs=True))

    programs = wine.reg_query(SHELL_FOLDERS, "Programs")
    if not programs:
        raise RuntimeError("the new prefix has no Programs folder in Shell Folders")
    wine.wine("reg", "add", SHELL_FOLDERS, "/v", "Programs", "/d", programs, "/f")
    wine.wine("regedit", "/S", "Z:" + regfile.replace("/", "\\"))
    add_volatile_keys(wine, windrive, regfile)
    write_profile(wine, windrive, listing)

    layout = Layout(listing, programs)
    for item in listing["files"] + listing["folders"]:
        item["path"] = layout.path(item["path"])
    for item in listing["files"]:
        data = bytes.fromhex(item["hex"])
        if item["path"].lower() == (SYSTEM_DIR + "\\BR32UNIN.EXE").lower():
            with open(exe, "rb") as f:
                data = f.read()
            item["hex"] = data.hex()
            item["size"] = len(data)
        with open(unix_path(wine.drive_c, item["path"], create_dirs=True), "wb") as f:
            f.write(data)
    log("installed", started)
    listing["programs"] = programs
    listing["mode"] = mode
    listing["gate_open"] = MODES[mode]["gate_open"]
    listing["install_seconds"] = round(time.monotonic() - started, 1)
    return listing


def record_baseline(wine, listing, folder):
    """The state every run starts from, captured from outside the program."""
    registry = wine.export_registry(winestate.export_roots(listing),
                                    os.path.join(folder, "export"))
    missing = [i["root"] + "\\" + i["path"] for i in listing["registry"]
               if (i["root"] + "\\" + i["path"]).lower() not in registry]
    if missing:
        raise RuntimeError("regedit did not install: %s" % missing)
    with open(unix_path(wine.drive_c, WINDOWS_DIR + "\\win.ini"), "rb") as f:
        ini = f.read()
    baseline = {"registry": registry, "win_ini": ini.decode("cp1252"),
                "tree": winestate.snapshot_tree(wine.drive_c)}
    with open(os.path.join(folder, "baseline.json"), "w") as f:
        json.dump(baseline, f)
    with open(os.path.join(folder, "listing.json"), "w") as f:
        json.dump(listing, f, indent=1)


def build(mode, exe, windrive, folder, display):
    """folder/prefix: the installed prefix, left with its server stopped;
    folder/baseline.json and folder/listing.json beside it."""
    if os.path.exists(folder):
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=os.path.join(
            folder, "prefix")), stderr=subprocess.DEVNULL, check=False)
        shutil.rmtree(folder)
    os.makedirs(folder)
    wine = Wine(os.path.join(folder, "prefix"), display)
    listing = install(wine, mode, exe, windrive, folder)
    record_baseline(wine, listing, folder)
    wine.end_session()
    return listing


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("mode", choices=sorted(MODES))
    parser.add_argument("folder", help="made afresh; the prefix goes to FOLDER/prefix")
    parser.add_argument("--exe", required=True, help="BR32UNIN.EXE to install")
    parser.add_argument("--windrive", required=True, help="WINDRIVE.EXE, the suite's helper")
    parser.add_argument("--display", default=os.environ.get("DISPLAY", ""))
    args = parser.parse_args(argv)
    listing = build(args.mode, os.path.abspath(args.exe), os.path.abspath(args.windrive),
                    os.path.abspath(args.folder), args.display)
    print("installed %s in %s/prefix (%.1f s)" % (args.mode, args.folder,
                                                  listing["install_seconds"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
