#!/usr/bin/env python3
"""The sample machines, generated from one description.

The printer driver's installation (registry keys, WIN.INI entries, the
Start-menu group, files) and the decoys around it that a removal must leave
alone are described once, below. From that description this script writes:

  the machine folders      machines/win98 and machines/win95 (default)
  --seed S [--mode M]      a generated machine (see generated_machine) as the
                           machine folder --out
  --emit-listing PATH      what a removal on a sample machine (--machine) must
                           change, as lines of text, for the unit tests

Registry keys are described by the root the installer wrote them under. A
Windows 9x machine stores HKEY_CLASSES_ROOT under HKLM\\SOFTWARE\\Classes,
HKEY_CURRENT_CONFIG under HKLM\\Config\\0001 and, without user profiles,
HKEY_CURRENT_USER under HKEY_USERS\\.DEFAULT; the machine folders hold the
keys there. Texts are code page 1252; files written for Windows end their
lines in CR LF.

Standard library only. Output is deterministic: running the script twice
gives the same bytes, and a unit test checks that machines/ is up to date.
"""

import argparse
import os
import random
import re
import shutil
import sys

DRIVER = "TINTAVERA Brascora Duneva 10"
PRODUCT = "TINTAVERA Duneva 10"
CLSID = "{5c3a7e10-4b21-11d2-8f3a-0061b0d4e2c7}"
OTHER = "OSTRALIS Jet 400"  # another printer, installed next to ours
OTHER_CLSID = "{8e21f0a4-17c3-11d1-9a2b-00a0c9e4f611}"

WINDOWS = "C:\\WINDOWS"
SYSTEM = WINDOWS + "\\SYSTEM"
PROGRAMS = WINDOWS + "\\Start Menu\\Programs"

PRINT = "System\\CurrentControlSet\\control\\Print"
CHANGED = "changed"  # Layer items that stay with another value
MENU_ORDER = ("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder"
              "\\Start Menu\\&Programs")
SHELL_FOLDERS = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"

MACHINES = {
    # name: (build number, product version text)
    "win98": (0x040A08AE, "Windows 98"),
    "win95": (0x040003B6, "Windows 95"),
}

# The files the driver's installer copies to the system directory: the 18
# deleted at once, then the five queued for deletion at restart.
DRIVER_FILES = [
    "BR3232.DLL", "BR32CT.DLL", "BR32HLP.HLP", "BR32HLP.GID", "BR32TRB.HLP",
    "BR32TRB.GID", "BR32JNLI.DLL", "BR32JP.DRV", "BR32JPLN.DLL", "BR32LN98.DLL",
    "BR32RAST.DLL", "BR32RS.DLL", "BR32SHEL.DLL", "BR32STAT.EXE", "BR32FIRM.BIN",
    "brlaunch.exe", "brlaunch.ini", "brman32.pdf",
]
RESTART_FILES = ["BR32TN16.DLL", "BR32TN32.DLL", "BR32LANG.DLL", "BR32PRIN.DLL",
                 "BR32UNIN.EXE"]
SHORTCUTS = [
    "Guida Duneva 10.LNK", "Problemi e soluzioni Duneva 10.LNK",
    "Monitor Stampante Duneva 10.LNK", "Disinstallazione Duneva 10.LNK",
    "Manuale Stampante Duneva 10.LNK",
]


# ------------------------------------------------------------ the model

class Layer:
    """One layer of a machine: registry keys, WIN.INI entries and files.

    Every item says whether it stays after a run of the uninstaller: the
    decoys all stay, and so do a few things the installation leaves that
    the uninstaller does not remove. CHANGED: it stays with another value
    (the default printer's, which named the removed printer)."""

    def __init__(self, stays):
        self.stays = stays
        self.keys = []      # (root, path, [(name, kind, data)], stays); name None = default
        self.profile = []   # (section, key, value, stays); key None = the section itself
        self.files = []     # (windows path, bytes, stays)

    def key(self, root, path, *values, stays=None):
        self.keys.append((root, path, list(values), self.stays if stays is None else stays))

    def ini(self, section, *entries, stays=None):
        stays = self.stays if stays is None else stays
        if not entries:
            self.profile.append((section, None, None, stays))
        for k, v in entries:
            self.profile.append((section, k, v, stays))

    def file(self, path, data, stays=None):
        self.files.append((path, data, self.stays if stays is None else stays))


def sz(name, text):
    return (name, "sz", text)


def dword(name, n):
    return (name, "dword", n)


def binary(name, data):
    return (name, "hex", data)


def raw(name, kind, data):
    """A value of any type, its bytes as stored (a string with its NUL)."""
    return (name, "raw", (kind, data))


def crlf(text):
    """Text file contents for Windows: code page 1252, CR LF line ends."""
    return text.replace("\n", "\r\n").encode("cp1252")


def program_bytes(name, size=96):
    """A small stand-in for an executable, DLL or other binary file."""
    head = b"MZ\x90\x00\x03\x00\x00\x00" + name.encode("cp1252") + b"\x00"
    body = bytes((i * 37 + len(name)) & 0xFF for i in range(size))
    return head + body


def shortcut_bytes(target):
    """A small stand-in for a shell link pointing at target."""
    return (b"L\x00\x00\x00\x01\x14\x02\x00\x00\x00\x00\x00\xc0\x00\x00\x00\x00\x00\x00F"
            + target.encode("cp1252") + b"\x00")


# ------------------------------------------------- the driver's installation

def driver_inf(version_note):
    return crlf(
        "; " + DRIVER + " - installazione del driver\n"
        "[Version]\n"
        "Signature=\"$CHICAGO$\"\n"
        "Class=Printer\n"
        "Provider=%TNT%\n"
        "LayoutFile=layout.inf\n"
        "; " + version_note + "\n"
        "\n"
        "[Manufacturer]\n"
        "\"TINTAVERA\"\n"
        "\n"
        "[TINTAVERA]\n"
        "\"" + DRIVER + "\" = BR32JP.DRV, LPTENUM\\BRASCORADUNEVA_10F262\n"
        "\n"
        "[BR32JP.DRV]\n"
        "CopyFiles=@BR32JP.DRV,BR32CORE,BR32STAT\n"
        "DataFile=BR32JP.DRV\n"
        "\n"
        "[BR32STAT]\n"
        "BR32STAT.EXE\n"
        "brlaunch.exe\n"
        "brlaunch.ini\n"
        "\n"
        "[BR32CORE]\n"
        + "".join(name + "\n" for name in DRIVER_FILES
                  if name not in ("BR32STAT.EXE", "brlaunch.exe", "brlaunch.ini"))
        + "".join(name + "\n" for name in RESTART_FILES) +
        "\n"
        "[Strings]\n"
        "TNT=\"TINTAVERA\"\n"
        "Ready=\"La stampante \xe8 pronta\"\n")


def driver_installation(build):
    """Everything the driver's installer leaves on a machine."""
    p = Layer(stays=False)
    gate_open = (build & 0xFFFF) > 950

    # The shell extension, registered as a class and as a printer menu handler.
    p.key("HKCR", "CLSID\\" + CLSID, sz(None, PRODUCT + " Shell Extension"))
    p.key("HKCR", "CLSID\\" + CLSID + "\\InProcServer32",
          sz(None, SYSTEM + "\\BR32SHEL.DLL"), sz("ThreadingModel", "Apartment"))
    p.key("HKCR", "Printers\\shellex\\ContextMenuHandlers\\" + PRODUCT + " Shell Extension",
          sz(None, CLSID))

    # The printer, its driver, print processor and language monitor.
    p.key("HKCC", PRINT + "\\Printers\\" + DRIVER,
          sz("Port", "LPT1:"), dword("Attributes", 0x00000000))
    p.key("HKLM", PRINT + "\\Printers\\" + DRIVER,
          sz("Name", DRIVER), sz("Port", "LPT1:"), sz("Printer Driver", DRIVER),
          sz("Print Processor", PRODUCT + " PrintProcessor"), sz("Default Devmode", ""),
          dword("Attributes", 0x00000000), dword("Priority", 1), dword("StartTime", 0),
          dword("UntilTime", 0), dword("Status", 0))
    p.key("HKLM", PRINT + "\\Printers\\" + DRIVER + "\\PrinterDriverData",
          binary("Options", bytes([1, 0, 0, 0, 0x2c, 1, 0, 0])))
    drivers = PRINT + "\\Environments\\Windows 4.0\\Drivers\\" + DRIVER
    p.key("HKLM", drivers,
          sz("Driver", "BR32JP.DRV"), sz("Data File", "BR32JP.DRV"),
          sz("Configuration File", "BR32JP.DRV"), sz("Help File", "BR32HLP.HLP"),
          sz("Monitor", PRODUCT + " LanguageMonitor"), sz("Datatype", "EMF"),
          dword("Version", 0x400))
    p.key("HKLM", drivers + "\\Dependent Files",
          sz("BR32RAST.DLL", ""), sz("BR32RS.DLL", ""), sz("BR32CT.DLL", ""))
    p.key("HKLM", PRINT + "\\Environments\\Windows 4.0\\Print Processors\\"
          + PRODUCT + " PrintProcessor", sz("Driver", "BR32PRIN.DLL"))
    p.key("HKLM", PRINT + "\\Monitors\\" + PRODUCT + " LanguageMonitor",
          sz("Driver", "BR32LANG.DLL"))

    # The Plug and Play device on the parallel port, its root-enumerated
    # instance and its printer-class instance.
    p.key("HKLM", "Enum\\LPTENUM\\BRASCORADUNEVA_10F262",)
    p.key("HKLM", "Enum\\LPTENUM\\BRASCORADUNEVA_10F262\\0000",
          sz("DeviceDesc", DRIVER), sz("Class", "Printer"), sz("Driver", "Printer\\0001"),
          sz("HardwareID", "LPTENUM\\BRASCORADUNEVA_10F262"), sz("Mfg", "TINTAVERA"))
    p.key("HKLM", "Enum\\Root\\printer\\0000",
          sz("DeviceDesc", DRIVER), sz("Class", "Printer"), sz("Driver", "Printer\\0001"),
          sz("FriendlyName", DRIVER), sz("Mfg", "TINTAVERA"))
    p.key("HKLM", "System\\CurrentControlSet\\Services\\Class\\Printer\\0001",
          sz("DriverDesc", DRIVER), sz("DevLoader", "*SPOOLER"),
          sz("InfPath", "BRASCORABRDUNE10.INF" if gate_open else "OEM3.INF"),
          sz("InfSection", "BR32JP.DRV"), sz("ProviderName", "TINTAVERA"))
    p.key("HKLM", "System\\CurrentControlSet\\Services\\Class\\Printer\\0001\\Default",
          sz("Port", "LPT1:"))

    # Start-menu order of the program group (HKEY_USERS\.DEFAULT is where a
    # machine without user profiles keeps HKEY_CURRENT_USER) and the
    # printer's share record.
    # Up to build 950 these three are left in place.
    order = binary("Order", bytes([8, 0, 0, 0, 2, 0, 0, 0, 0x3a, 0, 0, 0]))
    gated = not gate_open
    p.key("HKU", ".DEFAULT\\" + MENU_ORDER + "\\" + PRODUCT, order, stays=gated)
    p.key("HKCU", MENU_ORDER + "\\" + PRODUCT, order, stays=gated)
    p.key("HKLM", "Security\\Access\\PRINT\\" + DRIVER,
          dword("*", 0x000000B7), dword("Flags", 0), stays=gated)

    # The printer is the default printer, in WIN.INI and in the registry:
    # both then name the first printer left.
    p.key("HKCC", PRINT + "\\Printers", sz("Default", DRIVER), stays=CHANGED)
    # WIN.INI: the default, the printer on LPT1, three per-port sections.
    p.ini("windows", ("device", DRIVER + ",BR32jp,LPT1:"), stays=CHANGED)
    p.ini("Devices", (DRIVER, "BR32jp,LPT1:"))
    p.ini("PrinterPorts", (DRIVER, "BR32jp,LPT1:,15,45"))
    p.ini(DRIVER + "-LPT1", ("Orientation", "1"), ("PaperSize", "9"), ("Quality", "360"))
    p.ini(DRIVER + "-FILE", ("Orientation", "1"), ("PaperSize", "9"))
    p.ini(DRIVER + "-LPT2", ("Orientation", "2"))

    # Files: the driver files, the Start-menu group, the INF file.
    for name in DRIVER_FILES:
        p.file(SYSTEM + "\\" + name, program_bytes(name))
    for name in RESTART_FILES:  # deleted by Windows at its next start
        p.file(SYSTEM + "\\" + name, program_bytes(name), stays=True)
    group = PROGRAMS + "\\" + PRODUCT
    targets = [SYSTEM + "\\BR32HLP.HLP", SYSTEM + "\\BR32TRB.HLP", SYSTEM + "\\BR32STAT.EXE",
               SYSTEM + "\\BR32UNIN.EXE", SYSTEM + "\\brman32.pdf"]
    for name, target in zip(SHORTCUTS, targets):
        p.file(group + "\\" + name, shortcut_bytes(target))
    if gate_open:
        p.file(WINDOWS + "\\INF\\OTHER\\BRASCORABRDUNE10.INF", driver_inf("Windows 98"))
    else:
        # Windows 95 keeps the INF under a name of its own choosing.
        p.file(WINDOWS + "\\INF\\OEM3.INF", driver_inf("Windows 95"))
    return p


# ------------------------------------------------------------- the decoys

def other_inf(printer, copy_line):
    return crlf(
        "; " + printer + "\n"
        "[Version]\n"
        "Signature=\"$CHICAGO$\"\n"
        "Class=Printer\n"
        "\n"
        "[OSJET4.DRV]\n"
        "CopyFiles=OSJET4_FILES\n"
        "\n"
        "[OSJET4_FILES]\n"
        "OSJET4.DRV\n"
        "OSJET4UI.DLL\n"
        + copy_line +
        "\n"
        "[Strings]\n"
        "Ready=\"Pronto\"\n")


def decoys(build):
    """Things that look like the driver's, or sit next to them, and must stay."""
    p = Layer(stays=True)
    gate_open = (build & 0xFFFF) > 950

    # Another printer, installed the same way.
    p.key("HKCR", "CLSID\\" + OTHER_CLSID, sz(None, "OSTRALIS Shell Extension"))
    p.key("HKCR", "CLSID\\" + OTHER_CLSID + "\\InProcServer32",
          sz(None, SYSTEM + "\\OSJET4UI.DLL"))
    p.key("HKCR", "Printers\\shellex\\ContextMenuHandlers\\OSTRALIS Shell Extension",
          sz(None, OTHER_CLSID))
    p.key("HKCC", PRINT + "\\Printers\\" + OTHER, sz("Port", "LPT2:"))
    p.key("HKLM", PRINT + "\\Printers\\" + OTHER,
          sz("Name", OTHER), sz("Port", "LPT2:"), sz("Printer Driver", OTHER),
          dword("Attributes", 0))
    p.key("HKLM", PRINT + "\\Environments\\Windows 4.0\\Drivers\\" + OTHER,
          sz("Driver", "OSJET4.DRV"), sz("Data File", "OSJET4.DRV"))
    p.key("HKLM", PRINT + "\\Environments\\Windows 4.0\\Drivers\\Generic / Text Only",
          sz("Driver", "UNIDRV.DLL"), sz("Data File", "TTY.DRV"))
    p.key("HKLM", PRINT + "\\Monitors\\Local Port", sz("Driver", "localmon.dll"))
    p.key("HKLM", PRINT + "\\Monitors\\OSTRALIS Jet Monitor", sz("Driver", "OSJETMON.DLL"))
    p.key("HKLM", "Enum\\LPTENUM\\OSTRALISJET_4001A",)
    p.key("HKLM", "Enum\\LPTENUM\\OSTRALISJET_4001A\\0000",
          sz("DeviceDesc", OTHER), sz("Class", "Printer"))
    p.key("HKLM", "Security\\Access\\PRINT\\" + OTHER, dword("*", 0x000000B7))
    p.key("HKU", ".DEFAULT\\" + MENU_ORDER + "\\Accessori",
          binary("Order", bytes([8, 0, 0, 0, 1, 0, 0, 0])))

    # Instance keys around ours. Enum\Root\printer\0001 names the driver only
    # in FriendlyName; 0002 differs in letter case; class instance 0002 has a
    # trailing blank. None of them describes the printer in the value the
    # scan compares.
    p.key("HKLM", "Enum\\Root\\printer\\0001",
          sz("DeviceDesc", OTHER), sz("FriendlyName", DRIVER), sz("Class", "Printer"),
          sz("Driver", "Printer\\0000"))
    p.key("HKLM", "Enum\\Root\\printer\\0002",
          sz("DeviceDesc", DRIVER.lower()), sz("Class", "Printer"),
          sz("Driver", "Printer\\0002"))
    p.key("HKLM", "System\\CurrentControlSet\\Services\\Class\\Printer",
          sz(None, "Stampanti"), sz("Icon", "-501"), sz("Installer", "MSPRINT.DLL"))
    p.key("HKLM", "System\\CurrentControlSet\\Services\\Class\\Printer\\0000",
          sz("DriverDesc", OTHER), sz("InfPath", "OEM0.INF"))
    p.key("HKLM", "System\\CurrentControlSet\\Services\\Class\\Printer\\0002",
          sz("DriverDesc", DRIVER + " "), sz("InfPath", "OEM1.INF"))

    p.ini("Devices", (OTHER, "OSJET4,LPT2:"))
    p.ini("PrinterPorts", (OTHER, "OSJET4,LPT2:,15,45"))
    p.ini(OTHER + "-LPT2", ("Orientation", "1"))
    p.ini(DRIVER + "-COM1", ("Orientation", "1"))

    for name in ["OSJET4.DRV", "OSJET4UI.DLL", "OSJETMON.DLL", "BR32JP.DRV.BAK", "brlaunch.log"]:
        p.file(SYSTEM + "\\" + name, program_bytes(name))
    p.file(PROGRAMS + "\\" + OTHER + "\\Guida " + OTHER + ".LNK",
           shortcut_bytes(SYSTEM + "\\OSJET4.HLP"))
    # A group folder of the product's name elsewhere, and one more file in
    # another program's folder named like a shortcut of ours.
    p.file(WINDOWS + "\\Start Menu\\" + PRODUCT + "\\Leggimi.txt", crlf("Leggimi\n"))
    p.file(PROGRAMS + "\\Accessori\\Guida Duneva 10.LNK", shortcut_bytes(SYSTEM + "\\X.HLP"))

    # INF files. On Windows 95 only the one holding BR32STAT.EXE as a word of
    # its own goes; on Windows 98 no OEM file is even read.
    inf = WINDOWS + "\\INF\\"
    p.file(inf + "OEM0.INF", other_inf(OTHER, ""))
    p.file(inf + "oem1.inf", other_inf("OSTRALIS utility", "BR32STAT.EXE,,,\n"))
    p.file(inf + "Oem2.INF", other_inf("OSTRALIS viewer", "\"BR32STAT.EXE\"\n"))
    p.file(inf + "oem4.INF", other_inf("OSTRALIS monitor", "br32stat.exe\n"))
    p.file(inf + "OEM5.INF", other_inf("OSTRALIS fonts", "BR32STAT.EXE=1\n"))
    p.file(inf + "OEM6.PNF", b"PNF\x01\x01\x00BR32STAT.EXE\x00")
    p.file(inf + "MSPRINT.INF", crlf("[Version]\nSignature=\"$CHICAGO$\"\nClass=Printer\n"))
    if gate_open:
        p.file(inf + "OTHER\\OSTRALISJET400.INF", other_inf(OTHER, "BR32STAT.EXE\n"))
        # An older copy of the driver's INF: the gate is open, so it stays.
        p.file(inf + "OEM3.INF", driver_inf("Windows 95"))
    return p


# --------------------------------------------------------- the rest of Windows

def base_system(build, version_text):
    p = Layer(stays=True)
    major, minor, number = (build >> 24) & 0xFF, (build >> 16) & 0xFF, build & 0xFFFF
    version_number = "%d.%02d.%d" % (major, minor, number)

    cv = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
    p.key("HKLM", cv,
          sz("SystemRoot", WINDOWS), sz("ProgramFilesDir", "C:\\Programmi"),
          sz("Version", version_text), sz("VersionNumber", version_number),
          sz("ProductName", "Microsoft " + version_text), sz("RegisteredOwner", "Utente"))
    p.key("HKLM", cv + "\\Uninstall\\" + PRODUCT,
          sz("DisplayName", PRODUCT), sz("UninstallString", SYSTEM + "\\BR32UNIN.EXE"))
    p.key("HKLM", cv + "\\Uninstall\\OSTRALIS Jet 400", sz("DisplayName", OTHER))
    p.key("HKLM", "SOFTWARE\\Classes\\.txt", sz(None, "txtfile"))
    p.key("HKLM", "SOFTWARE\\Classes\\txtfile\\shell\\open\\command",
          sz(None, WINDOWS + "\\NOTEPAD.EXE %1"))
    p.key("HKLM", "Config\\0001\\Display\\Settings", sz("Resolution", "800,600"))
    p.key("HKLM", "Enum\\Root\\*PNP0C01\\0000", sz("DeviceDesc", "Risorse della scheda madre"))
    p.key("HKLM", "Enum\\LPTENUM",)
    p.key("HKLM", "System\\CurrentControlSet\\Services\\Class\\Display\\0000",
          sz("DriverDesc", "Scheda video standard (VGA)"))
    p.key("HKLM", PRINT,)
    p.key("HKLM", PRINT + "\\Environments\\Windows 4.0", sz("Directory", "CHICAGO"))
    p.key("HKLM", PRINT + "\\Environments\\Windows 4.0\\Print Processors\\WinPrint",
          sz("Driver", "WINPRINT.DLL"))
    p.key("HKCU", SHELL_FOLDERS,
          sz("Desktop", WINDOWS + "\\Desktop"), sz("Programs", PROGRAMS),
          sz("Start Menu", WINDOWS + "\\Start Menu"),
          sz("Startup", PROGRAMS + "\\Esecuzione automatica"),
          sz("Fonts", WINDOWS + "\\Fonts"))
    p.key("HKCU", "Control Panel\\Desktop", sz("Wallpaper", "(None)"))

    p.ini("windows", ("load", ""), ("run", ""), ("NullPort", "None"))
    p.ini("Desktop", ("Wallpaper", "(None)"), ("TileWallpaper", "1"))
    p.ini("intl", ("iCountry", "39"), ("sCountry", "Italia"), ("sLanguage", "ita"))
    p.ini("Ports", ("LPT1:", ""), ("LPT2:", ""), ("COM1:", "9600,n,8,1,x"), ("FILE:", ""))
    p.ini("fonts", ("Arial (TrueType)", "ARIAL.TTF"))
    p.ini("Devices")
    p.ini("PrinterPorts")

    p.file(WINDOWS + "\\SYSTEM.INI", crlf(
        "[boot]\nshell=Explorer.exe\nsystem.drv=system.drv\n\n"
        "[386Enh]\ndevice=*vpd\n\n[drivers]\nwave=mmsound.drv\n"))
    p.file(WINDOWS + "\\CONTROL.INI", crlf("[current]\ncolor schemes=Standard di Windows\n"))
    p.file(WINDOWS + "\\NOTEPAD.EXE", program_bytes("NOTEPAD.EXE"))
    p.file(WINDOWS + "\\EXPLORER.EXE", program_bytes("EXPLORER.EXE"))
    for name in ["KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "COMCTL32.DLL",
                 "UNIDRV.DLL", "TTY.DRV", "WINPRINT.DLL", "MSPRINT.DLL"]:
        p.file(SYSTEM + "\\" + name, program_bytes(name))
    p.file(PROGRAMS + "\\Accessori\\Blocco note.lnk", shortcut_bytes(WINDOWS + "\\NOTEPAD.EXE"))
    p.file(PROGRAMS + "\\Prompt di MS-DOS.pif", b"\x00\x78MS-DOS\x00")
    p.file(WINDOWS + "\\Desktop\\Risorse del computer.lnk", shortcut_bytes(WINDOWS))
    p.file("C:\\AUTOEXEC.BAT", crlf("@ECHO OFF\nSET TEMP=C:\\WINDOWS\\TEMP\n"))
    p.file("C:\\CONFIG.SYS", crlf("DEVICE=C:\\WINDOWS\\HIMEM.SYS\n"))
    p.file(WINDOWS + "\\TEMP\\~DF1A2B.TMP", b"\x00" * 16)
    return p


def machine(name):
    """The three layers of a sample machine."""
    build, version_text = MACHINES[name]
    return [base_system(build, version_text), driver_installation(build), decoys(build)]


# ----------------------------------------------------------- the registry

WIN9X_STORAGE = {
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKU": "HKEY_USERS",
    "HKCR": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes",
    "HKCC": "HKEY_LOCAL_MACHINE\\Config\\0001",
    "HKCU": "HKEY_USERS\\.DEFAULT",
}
ROOT_NAMES = {
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKU": "HKEY_USERS",
    "HKCR": "HKEY_CLASSES_ROOT",
    "HKCC": "HKEY_CURRENT_CONFIG",
    "HKCU": "HKEY_CURRENT_USER",
}


class KeyNode:
    def __init__(self, name):
        self.name = name
        self.children = {}  # lower-case name -> KeyNode, in insertion order
        self.values = {}    # lower-case name (or "") -> (name, kind, data)


def build_tree(layers, roots):
    """Merges the layers' keys into one tree; keys that meet in storage merge."""
    top = KeyNode("")
    for layer in layers:
        for root, path, values, _ in layer.keys:
            node = top
            for component in (roots[root] + "\\" + path).split("\\"):
                node = node.children.setdefault(component.lower(), KeyNode(component))
            for name, kind, data in values:
                node.values[(name or "").lower()] = (name, kind, data)
    return top


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_value(name, kind, data):
    left = "@" if name is None else reg_string(name)
    if kind == "sz":
        right = reg_string(data)
    elif kind == "dword":
        right = "dword:%08x" % data
    elif kind == "hex":
        right = reg_hex(left, "hex:", data)
    else:  # raw: (type, bytes)
        right = reg_hex(left, "hex:" if data[0] == 3 else "hex(%x):" % data[0], data[1])
    return left + "=" + right


def reg_hex(left, prefix, data):
    """As the registry editor exports it: a line wraps after the comma that
    brings it to 77 characters, and goes on indented by two."""
    right, column = prefix, len(left) + len(prefix) + 1
    for i, b in enumerate(data):
        right += "%02x" % b
        if i + 1 == len(data):
            break
        right += ","
        column += 3
        if column >= 77:
            right += "\\\n  "
            column = 2
    return right


def regedit4(layers, roots):
    lines = ["REGEDIT4", ""]

    def walk(node, path):
        lines.append("[" + path + "]")
        lines.extend(reg_value(*v) for v in node.values.values())
        lines.append("")
        for child in node.children.values():
            walk(child, path + "\\" + child.name)

    # HKEY_LOCAL_MACHINE first, as the registry editor exports.
    for root in sorted(build_tree(layers, roots).children.values(),
                       key=lambda node: node.name != "HKEY_LOCAL_MACHINE"):
        walk(root, root.name)
    return crlf("\n".join(lines) + "\n")


# ---------------------------------------------------------------- WIN.INI

def win_ini(layers):
    sections = {}  # lower-case name -> (name, [(key, value)]), in first-seen order
    for layer in layers:
        for section, key, value, _ in layer.profile:
            entry = sections.setdefault(section.lower(), (section, []))
            if key is not None:
                entry[1].append((key, value))
    text = ""
    for name, entries in sections.values():
        text += "[" + name + "]\n" + "".join(k + "=" + v + "\n" for k, v in entries) + "\n"
    return crlf(text)


# ---------------------------------------------------- generated machines
#
# A whole machine drawn from a seed, for comparing the simulated machine with
# a real Win32 implementation (tests/wine/differential.py): the installation
# and decoys above, thinned and varied, and around them the states a removal
# meets in the field. Its directories are those of a Wine prefix, and it
# holds only what a prefix can be given as it is: no "rest of Windows".

GEN_WINDOWS = "C:\\windows"
GEN_SYSTEM = GEN_WINDOWS + "\\system32"
# As Wine reports each version: build number.
GEN_BUILDS = {"win95": 0x040003B6, "win98": 0x040A08AE, "winxp": 2600}
SHELL_FOLDERS_KEY = ("HKCU", SHELL_FOLDERS)
INSTANCE_BASES = ["Enum\\Root\\printer", "System\\CurrentControlSet\\Services\\Class\\Printer"]
# The driver's name as the scan may meet it: value name -> values.
DESCRIPTIONS = [
    lambda v: [sz(v, DRIVER)],
    lambda v: [sz(v, DRIVER)],
    lambda v: [sz(v, DRIVER.lower())],
    lambda v: [sz(v, DRIVER.upper())],
    lambda v: [sz(v, DRIVER + " ")],
    lambda v: [sz(v, " " + DRIVER)],
    lambda v: [sz(v, DRIVER[:-1])],
    lambda v: [sz(v, DRIVER + "0")],
    lambda v: [sz(v, OTHER), sz("FriendlyName", DRIVER)],
    lambda v: [sz(v.lower(), DRIVER)],
    lambda v: [binary(v, DRIVER.encode("cp1252"))],
    lambda v: [binary(v, DRIVER.encode("cp1252") + b"\0")],
    lambda v: [raw(v, 1, DRIVER.encode("cp1252") + b"\0porta 2\0")],
    lambda v: [raw(v, 1, DRIVER.encode("cp1252"))],
    lambda v: [raw(v, 2, DRIVER.encode("cp1252") + b"\0")],
    lambda v: [sz(v, DRIVER.replace("Bras", "Bras\xad"))],
    lambda v: [sz(v, DRIVER + "\xad")],
    lambda v: [sz(v, DRIVER + "\x01")],
    lambda v: [sz(v, DRIVER.replace(" 10", "\x7f 10"))],
    lambda v: [sz(v, DRIVER.replace("-", "") + "\t")],
    lambda v: [sz(v, DRIVER + " " * 240)],
    lambda v: [sz(v, OTHER)],
    lambda v: [],
    lambda v: [dword(v, 10)],
]
PORTS = ["LPT1:", "LPT2:", "COM1:", "FILE:", "lpt1:", "\\\\server\\share", "\\\\STAMPA01\\Duneva 10"]
OEM_TEXTS = [
    b"[BR32STAT]\r\nBR32STAT.EXE\r\nbrlaunch.exe\r\n",
    b"CopyFiles=x\r\n\tBR32STAT.EXE\t; stato\r\n",
    b"[Files]\r\nbrlaunch.ini\r\nBR32STAT.EXE",
    b"[Files]\r\nXBR32STAT.EXE\r\nBR32STAT.EXE,,,\r\n\"BR32STAT.EXE\"\r\nBR32STAT.EXE=1\r\n",
    b"[Files]\r\nbr32stat.exe\r\nBr32Stat.Exe\r\n",
    b"[Files]\r\nOSJET4.DRV\r\n\x1a\r\nBR32STAT.EXE\r\n",
    b"[Files]\x1aBR32STAT.EXE",
    b"\x0bBR32STAT.EXE\x0c",
    b"a\rBR32STAT.EXE\rb",
    b"BR32STAT.EXE\x00x\r\n",
    b"BR32\xadSTAT.EXE\r\n",
    b"BR32STAT.EXE\xa0\r\n",
    b"x" * 300 + b"BR32STAT.EXE " + b"y" * 250 + b"\r\n",
    b"x" * 300 + b" BR32STAT.EXE\r\n",
    b"",
    b" \r\n\t\r\n",
    b"[Version]\r\nSignature=\"$CHICAGO$\"\r\n",
]
OEM_NAMES = ["OEM%d.INF", "oem%d.inf", "Oem%d.Inf", "oem%d.INF", "oem%d.info", "oem%d.pnf",
             "xoem%d.inf", "oem%d.inf.bak", "oem%d.in"]
WININIT_TEXTS = [
    None, None, b"",
    b"[rename]\r\nNUL=C:\\windows\\temp\\vecchio.tmp\r\n",
    b"[rename]\r\nNUL=C:\\windows\\temp\\vecchio.tmp",
    b"[rename]\r\nNUL=C:\\windows\\temp\\vecchio.tmp\r\n\x1a",
    b"[Settings]\r\nAuto=1\r\n",
    b"NUL=C:\\windows\\temp\\vecchio.tmp\r\n",
    b"[RENAME]\r\nC:\\windows\\nuovo.txt=C:\\windows\\temp\\vecchio.tmp\r\n",
    b"[rename]\r\nnuovo.txt=C:\\windows\\temp\\vecchio.tmp\r\n",
    b"[rename]\r\nNUL=C:\\windows\\temp\\vecchio.tmp\r\n[Settings]\r\nAuto=1\r\n",
    b"[rename]\r\nNUL=C:\\windows\\temp\\vecchio.tmp\r\n[rename]\r\nNUL=C:\\windows\\temp\\altro.tmp\r\n",
    b"; lasciato da un'installazione\n[rename]\nNUL=C:\\windows\\temp\\vecchio.tmp\n",
]


class Generated:
    """One generated machine: build, the layer both sides hold, WIN.INI,
    WININIT.INI, the "Programs" value, read-only and hidden files."""

    def __init__(self, seed, mode):
        self.seed, self.mode, self.build = seed, mode, GEN_BUILDS[mode]
        self.layer = Layer(stays=True)
        self.folders = []      # empty folders
        self.read_only = []    # file paths
        self.hidden = []       # file paths
        self.busy = []         # driver files loaded as modules while the program runs
        self.programs = None   # None: the value is missing
        self.win_ini = b""
        self.wininit = None    # None: no WININIT.INI
        # What the draws after the default printer add, each item marked as
        # a finished run must leave it (the layer holds the keys and files
        # too); the printers put before every other in [Devices], the top
        # one first; device= and Default as drawn, when known (defaults_after).
        self.marked = Layer(stays=True)
        self.devices_first = []  # (name, value)
        self.ours = {DRIVER.lower()}  # the names of our printers, in lower case
        self.defaults = None     # (device= text, Default text), None for either missing

    def watched_keys(self):
        """(root, path) of every key a phase may delete or that sits where
        one may: the fixed keys, the instance bases, every key written."""
        fixed = [(root, path) for root, path, _, _ in driver_installation(self.build).keys]
        fixed += [("HKLM", base) for base in INSTANCE_BASES]
        return fixed + [(root, path) for root, path, _, _ in self.layer.keys]


def relocate(path, programs):
    for old, new in ((SYSTEM, GEN_SYSTEM), (PROGRAMS, programs), (WINDOWS, GEN_WINDOWS)):
        if (path + "\\").lower().startswith(old.lower() + "\\"):
            return new + path[len(old):]
    return path


def subtree(rng, layer, root, path):
    """A few levels of subkeys below path."""
    for _ in range(rng.randint(1, 3)):
        path += "\\" + rng.choice(["Sub", "Dati", "Porta", "0000", "Opzioni"])
        layer.key(root, path, sz("Livello", path.rsplit("\\", 1)[-1]))


def instance_keys(rng, layer, base, value_name):
    numbers = set()
    for _ in range(rng.randint(1, 3)):
        shape = rng.randrange(5)
        if shape == 0:    # a run from the start
            numbers.update(range(rng.randint(0, 8)))
        elif shape == 1:  # scattered, with gaps
            numbers.update(rng.sample(range(0, 110), rng.randint(1, 6)))
        elif shape == 2:  # about where the miss budget runs out
            numbers.update(rng.sample(range(94, 106), rng.randint(1, 4)))
        elif shape == 3:  # a run somewhere
            first = rng.randint(0, 60)
            numbers.update(range(first, first + rng.randint(2, 12)))
        elif rng.random() < 0.2:  # a long unbroken run, past the budget
            numbers.update(range(0, rng.randint(100, 125)))
    for n in sorted(numbers):
        name = "%s\\%04d" % (base, n)
        values = rng.choice(DESCRIPTIONS)(value_name)
        layer.key("HKLM", name, *(values + [sz("Class", "Printer")] * (rng.random() < 0.5)))
        if rng.random() < 0.15:
            subtree(rng, layer, "HKLM", name)


def spaced(rng, key, value):
    return rng.choice(["%s=%s", "%s = %s", "%s =%s", " %s= %s ", "%s=%s\t"]) % (key, value)


def generated_win_ini(rng):
    port = rng.choice(PORTS)
    device = rng.choice(["BR32jp," + port, "BR32jp," + port, "BR32jp\\" + port,
                         "BR32jp\\x,", "BR32jp," + port + ",15,45", "BR32jp,"
                         + "\\\\server\\" + "lunga" * 30, "BR32jp"])
    sections = []
    devices = [spaced(rng, OTHER, "OSJET4,LPT2:")]
    ports = [spaced(rng, OTHER, "OSJET4,LPT2:,15,45")]
    if rng.random() < 0.85:
        devices.insert(rng.randint(0, 1), spaced(rng, DRIVER, device))
    if rng.random() < 0.8:
        ports.append(spaced(rng, DRIVER, device + ",15,45"))
    if rng.random() < 0.1:
        devices.append(spaced(rng, DRIVER.lower(), "BR32jp,COM1:"))
    if rng.random() < 0.1:
        devices.append("; " + DRIVER + "=BR32jp,LPT2:")
    for name, entries in (("windows", ["device=" + DRIVER + ",BR32jp,LPT1:", "load=", "run="]),
                          ("Devices", devices), ("PrinterPorts", ports),
                          ("Ports", ["LPT1:=", "LPT2:=", "COM1:=9600,n,8,1,x", "FILE:="])):
        if name in ("windows", "Ports") or rng.random() < 0.9:
            sections.append((rng.choice([name, name, name.upper()]), entries))
    suffixes = ["-LPT1", "-FILE", "-LPT2", "-COM1", "-", "-" + port, "-lpt1", "-LPT1:",
                "-\\\\server\\share", " Plus-LPT1", "-LPT1 (copia)", "-LPT1x"]
    for suffix in rng.sample(suffixes, rng.randint(0, len(suffixes))):
        name = DRIVER + suffix
        name = rng.choice([name, name, name.lower(), " %s " % name])
        sections.append((name, [spaced(rng, "Orientation", rng.choice("12"))]
                         + ["PaperSize=9"] * (rng.random() < 0.5)))
    for name in rng.sample([DRIVER[:-1] + "-LPT1", OTHER + "-LPT2", DRIVER + "-LPT1", "fonts"],
                           rng.randint(0, 2)):
        sections.append((name, ["Orientation=1"]))
    rng.shuffle(sections)
    text = ("; WIN.INI\n" if rng.random() < 0.2 else "") + "".join(
        "[%s]\n" % name + "".join(e + "\n" for e in entries) + "\n" * (rng.random() < 0.7)
        for name, entries in sections)
    data = text.encode("cp1252")
    if rng.random() < 0.8:
        data = data.replace(b"\n", b"\r\n")
    if rng.random() < 0.2:
        data = data.rstrip(b"\r\n")
    return data


def generated_machine(seed, mode=None):
    """The machine of a seed; the mode, when not given, is drawn too."""
    rng = random.Random(seed)
    drawn = rng.choice(sorted(GEN_BUILDS))  # drawn always: a seed is one machine in any mode
    mode = mode or drawn
    g = Generated(seed, mode)
    layer = g.layer
    start_menu = GEN_WINDOWS + "\\Start Menu\\Programs"
    g.programs = rng.choice([start_menu, start_menu, start_menu + "\\", "C:\\Menu\\Programmi",
                             None])
    # The group where "Programs" leads (the root when it is missing), or
    # now and then where it used to lead.
    home = (g.programs or "C:\\").rstrip("\\") if rng.random() < 0.8 else start_menu
    folder = home + "\\" + PRODUCT

    # Keys: the installation's and the decoys', some left out, some grown.
    numbered = tuple(b.lower() + "\\" for b in INSTANCE_BASES)
    for source, keep in ((driver_installation(g.build), 0.8), (decoys(g.build), 0.9)):
        for root, path, values, stays in source.keys:
            # The default printer is drawn last of all (default_printer).
            if stays == CHANGED or path.lower().startswith(numbered) or rng.random() > keep:
                continue
            layer.key(root, path, *values)
            if rng.random() < 0.25:
                subtree(rng, layer, root, path)
        for path, data, _ in source.files:
            # The program itself is there: it is what the user runs.
            if rng.random() < 0.85 or path.endswith("\\BR32UNIN.EXE"):
                path = relocate(path, start_menu)
                if path.lower().startswith((start_menu + "\\" + PRODUCT + "\\").lower()):
                    path = folder + path[path.rfind("\\"):]
                layer.file(path, data)
    for base, value_name in zip(INSTANCE_BASES, ["DeviceDesc", "DriverDesc"]):
        instance_keys(rng, layer, base, value_name)

    # Files around the driver's: the group's state, look-alikes, OEM INF files.
    shape = rng.randrange(5)
    if shape == 3:
        layer.files = [f for f in layer.files if not f[0].lower().startswith(folder.lower() + "\\")]
    elif shape == 0:
        layer.file(folder + "\\Leggimi.txt", crlf("Appunti dell'utente\n"))
    elif shape == 1:
        layer.file(folder + "\\Vecchio\\Guida Duneva 10.LNK", shortcut_bytes("X"))
    elif shape == 2:
        g.folders.append(folder)
    for name in rng.sample(["BR3232.DLL.OLD", "BR32CT.DLX", "XBR32RS.DLL", "brlaunch.exe.bak",
                            "BR32UNIN.EX_", "BR32TN16.DL_", "BR32JP.DRV.BAK"], rng.randint(0, 3)):
        layer.file(GEN_SYSTEM + "\\" + name, program_bytes(name))
    if rng.random() < 0.05:
        g.folders.append(GEN_SYSTEM + "\\" + rng.choice(DRIVER_FILES + RESTART_FILES[:-1]))
    count = rng.choice([0, 1, 3, 6, 12, 12, 40]) if rng.random() > 0.03 else 230
    for i in range(count):
        name = (rng.choice(OEM_NAMES) if rng.random() < 0.3 else "OEM%d.INF") % (10 + i)
        if rng.random() < 0.03:
            g.folders.append(GEN_WINDOWS + "\\INF\\" + name)
        else:
            layer.file(GEN_WINDOWS + "\\INF\\" + name, rng.choice(OEM_TEXTS))
    folders = {f.lower() for f in g.folders}
    layer.files = [f for f in layer.files if f[0].lower() not in folders]
    for path, _, _ in layer.files:
        if rng.random() < 0.06:
            g.read_only.append(path)
    g.wininit = rng.choice(WININIT_TEXTS)
    if g.wininit and b"vecchio.tmp" in g.wininit:
        layer.file(GEN_WINDOWS + "\\temp\\vecchio.tmp", b"vecchio")
        layer.file(GEN_WINDOWS + "\\temp\\altro.tmp", b"altro")
    g.win_ini = generated_win_ini(rng)
    # Drawn after everything else, so that a seed keeps its machine. Each is
    # a bare [Busy] path, a loaded module, which Windows 9x refuses to delete
    # as NT and Wine refuse a file held without sharing; never "=open", which
    # 9x deletes and Wine does not (tests/wine/README.md).
    for path, _, _ in layer.files:
        name = path.rsplit("\\", 1)[-1]
        if name in DRIVER_FILES and path not in g.read_only and rng.random() < 0.01:
            g.busy.append(path)
    wininit_leftovers(rng, g)
    default_printer(rng, g)
    more_printers(rng, g)
    oem_files_of_others(rng, g)
    return g


def default_printer(rng, g):
    """WIN.INI's device= and the registry's Default value: ours as
    installed, another printer's, none, ours in other letters, or a name
    that begins with ours; now and then the two disagree. Drawn after all
    else, so that a seed keeps the machine it drew before."""
    ours = DRIVER + ",BR32jp,LPT1:"
    device, default = rng.choice([
        (ours, DRIVER), (ours, DRIVER), (ours, DRIVER), (ours, None), (ours, OTHER),
        (OTHER + ",OSJET4,LPT2:", OTHER), (None, None), (None, DRIVER),
        (DRIVER.upper() + ",BR32jp,LPT1:", DRIVER.lower()), (DRIVER.lower(), DRIVER),
        (DRIVER + " Plus,BR32jp,LPT1:", DRIVER + " Plus")])
    line = b"device=" + ours.encode("cp1252")
    g.win_ini = g.win_ini.replace(line + b"\r\n", b"").replace(line + b"\n", b"").replace(line, b"") \
        if device is None else g.win_ini.replace(line, b"device=" + device.encode("cp1252"))
    g.layer.key("HKCC", PRINT + "\\Printers", *([sz("Default", default)] if default else []))
    g.defaults = (device, default)


def wininit_leftovers(rng, g):
    """What an earlier run, an interruption or the user left around
    WININIT.INI: a stale copy of ours beside it (or in its place), a
    read-only mark, a lone CR before a header. Drawn after all else."""
    ini, old, new = (GEN_WINDOWS + "\\" + n for n in ("wininit.ini", "BR32WIN.OLD", "BR32WIN.NEW"))
    draw = rng.random()
    if draw < 0.04:
        # Beside WININIT.INI: the old text of a swap made; in its place: the
        # file as it was when a run stopped between its two moves.
        g.layer.file(old, rng.choice(WININIT_TEXTS[2:]))
    elif draw < 0.07:
        g.layer.file(new, b"[rename]\r\nNUL=C:\\windows\\system\\BR32TN16.DLL\r\n")
    elif draw < 0.10 and g.wininit is not None:
        g.hidden.append(ini)
    elif draw < 0.14:
        g.wininit = b"[rename]\r\nNUL=C:\\windows\\temp\\vecchio.tmp\r\n\r[Settings]\r\nAuto=1\r\n"
    if b"vecchio.tmp" in b"".join(d for p, d, _ in g.layer.files if p.lower() == old.lower()) + (g.wininit or b""):
        g.layer.file(GEN_WINDOWS + "\\temp\\vecchio.tmp", b"vecchio")
        g.layer.file(GEN_WINDOWS + "\\temp\\altro.tmp", b"altro")


# --------------------------------------- more printers, other makers' INF files
#
# Drawn after the default printer, so that a seed keeps the machine it drew
# before: WIN.INI only gains lines and sections, the registry keys, INF files.
# Each item is marked in g.marked as a finished run must leave it. A printer
# is ours when its [Devices] or [PrinterPorts] value names our driver before
# its first comma (blanks aside, in any letters) or its printers' key names
# our printer as its "Printer Driver"; all of it goes: its keys in both
# sections, its printers' keys, the sections of the three fixed ports and,
# when its [Devices] value's port is a network one, of that port. None of
# them becomes the default. Windows 95's INF search deletes an oem*.inf that
# holds BR32STAT.EXE as a word and names our printer; Windows 98 reads none.

COPY = DRIVER + " (Copia 2)"    # as Windows names a second printer of one model
RENAMED = "Stampante ufficio"   # a printer of ours, renamed by the user
LOOKALIKE = RENAMED + " 2"      # another maker's, named like it
NETWORK_PORT = "\\\\UFFICIO\\DUNEVA"
FIXED_PORTS = ["LPT1", "FILE", "LPT2"]


def ini_section(data, name):
    """(end of its header line, end of its lines) of WIN.INI's section of
    that name in any letters, blanks inside the brackets aside; or None."""
    header = re.search(rb"(?im)^\[[ \t]*" + re.escape(name.encode("cp1252")) + rb"[ \t]*\][^\n]*(\n|\Z)",
                       data)
    if not header:
        return None
    after = re.compile(rb"(?m)^\[").search(data, header.end())
    return header.end(), after.start() if after else len(data)


def ini_add(g, section, line, first):
    """Puts line into WIN.INI's section, before its first line or after its
    last; False when there is no such section."""
    span = ini_section(g.win_ini, section)
    if not span:
        return False
    eol = b"\r\n" if b"\r\n" in g.win_ini else b"\n"
    start, end = span
    last = start + len(g.win_ini[start:end].rstrip(b"\r\n"))
    if first or last == start:
        at, text = start, line.encode("cp1252") + eol
        if not g.win_ini[:at].endswith(b"\n"):  # the header was the file's last line
            text = eol + text
    else:
        at, text = last, eol + line.encode("cp1252")
    g.win_ini = g.win_ini[:at] + text + g.win_ini[at:]
    return True


def ini_new_section(g, name):
    """Appends [name] with one line; False when a section of that name is
    there already (the profile reads only the first)."""
    if ini_section(g.win_ini, name):
        return False
    eol = b"\r\n" if b"\r\n" in g.win_ini or not g.win_ini else b"\n"
    head = g.win_ini + (eol if g.win_ini and not g.win_ini.endswith(b"\n") else b"")
    g.win_ini = head + ("[%s]" % name).encode("cp1252") + eol + b"Orientation=1" + eol
    return True


def driver_of(value):
    return value.split(",", 1)[0].strip()


def add_printer(g, name, value, first, drivers, ports):
    """A printer: its [Devices] value (and that with ",15,45" in
    [PrinterPorts]), listed first or last; its printers' keys, {root: the
    "Printer Driver" it names, or None}; its [name-port] sections, for ports.
    Each part is marked as the rules above say a finished run leaves it."""
    entries = {"Devices": value, "PrinterPorts": value + ",15,45"}
    listed = [s for s, v in entries.items() if ini_add(g, s, "%s=%s" % (name, v), first)]
    ours = (name.lower() in g.ours or driver_of(value).lower() == "br32jp" and bool(listed)
            or DRIVER in drivers.values())
    if ours:
        g.ours.add(name.lower())
    for section in listed:
        g.marked.ini(section, (name, entries[section]), stays=not ours)
    if first and "Devices" in listed:
        g.devices_first.insert(0, (name, value))
    for root, driver in drivers.items():
        values = [sz("Name", name), sz("Port", value.split(",")[-1].strip())]
        values += [sz("Printer Driver", driver)] if driver else []
        for layer in (g.layer, g.marked):
            layer.key(root, PRINT + "\\Printers\\" + name, *values, stays=not ours)
    port = value.split(",", 1)[1].strip() if "," in value else ""
    network = port if "\\" in port and "Devices" in listed else None
    for section in ports:
        if ini_new_section(g, name + "-" + section):
            g.marked.ini(name + "-" + section, stays=not (ours and section in FIXED_PORTS + [network]))


def more_printers(rng, g):
    """A second printer of ours, one renamed, another maker's named like it,
    ours moved to a network port."""
    if rng.random() < 0.3:
        port = rng.choice(["LPT2:", "LPT2:", "COM1:", "FILE:"])
        drivers = rng.choice([{"HKLM": DRIVER, "HKCC": None}, {"HKLM": DRIVER}, {"HKCC": DRIVER}, {}])
        sections = [port[:-1]] + rng.sample(["LPT1", "FILE", "COM1"], rng.randint(0, 3))
        add_printer(g, COPY, "BR32jp," + port, rng.random() < 0.5, drivers, sections)
    if rng.random() < 0.25:
        value = rng.choice(["BR32jp,LPT1:", "br32JP,LPT1:", " BR32jp ,LPT2:", "BR32JP,\\\\UFFICIO\\STAMPA"])
        drivers = rng.choice([{"HKLM": DRIVER, "HKCC": None}, {}])
        ports = ["LPT1", value.split(",")[1].strip().rstrip(":")]
        add_printer(g, RENAMED, value, rng.random() < 0.5, drivers, ports)
    if rng.random() < 0.2:
        value = rng.choice(["OSJET4,LPT1:", "BR32jp2,LPT1:", "XBR32jp,LPT1:", "OSJET4,BR32jp"])
        drivers = {"HKLM": rng.choice([OTHER, DRIVER + "0", DRIVER[:-1]])}
        add_printer(g, LOOKALIKE, value, rng.random() < 0.5, drivers, ["LPT1", "FILE"])
    if rng.random() < 0.2 and ini_section(g.win_ini, "Devices"):
        # Put before the entry it had, which the profile then no longer
        # reads; the sections of its first set-up on LPT1 are still there.
        add_printer(g, DRIVER, "BR32jp," + NETWORK_PORT, True, {},
                    [NETWORK_PORT] + FIXED_PORTS + ["\\\\UFFICIO"])


def other_maker_inf(mention, note=""):
    return crlf(
        "; CALVENTO Scan 20 - installazione\n" + note +
        "[Version]\n"
        "Signature=\"$CHICAGO$\"\n"
        "Class=Image\n"
        "Provider=%CLV%\n"
        "\n"
        "[Manufacturer]\n"
        "\"CALVENTO\"\n"
        "\n"
        "[CALVENTO]\n"
        "\"CALVENTO Scan 20\" = CLSCAN20, USB\\VID_0A1B&PID_0020\n"
        "\n"
        "[CLSCAN20]\n"
        "CopyFiles=CLSCAN20_FILES\n"
        "\n"
        "[CLSCAN20_FILES]\n"
        "CLSCAN20.DLL\n"
        + mention.get("copy", "") +
        "\n"
        "[Strings]\n"
        "CLV=\"CALVENTO\"\n"
        + mention.get("strings", ""))


# Other makers' INF files that hold BR32STAT.EXE as a word (in [Strings], in
# a comment, in a copy list) and at most parts of our printer's name: without
# its maker, split over two lines, with a letter O for the 0.
OTHER_MAKERS_INFS = [
    other_maker_inf({"strings": "MsgBusy=\"Chiudere BR32STAT.EXE prima di installare\"\n"}),
    other_maker_inf({}, "; Chiudere BR32STAT.EXE (Brascora Duneva 10) prima di copiare i file\n"),
    other_maker_inf({"copy": "BR32STAT.EXE\n"}, "; sostituisce il monitor TINTAVERA Brascora\n; Duneva 10\n"),
    other_maker_inf({"strings": "Monitor=\"stato: BR32STAT.EXE attivo\"\n"
                                "Nota=\"TINTAVERA Brascora Duneva 1O\"\n"}),
]
# Files that name our printer, and whether a closed gate's search deletes
# them: a sibling INF of ours and one naming the second printer go; one
# holding the marker only inside a word, one naming the printer in capitals
# stay.
OUR_PRINTER_INFS = [
    (crlf("; " + DRIVER + " - monitor di stato\n[Version]\nSignature=\"$CHICAGO$\"\n"
          "Class=Printer\n\n[BR32STAT]\nBR32STAT.EXE\nbrlaunch.exe\n"), True),
    (crlf("[Strings]\nMsgBusy=\"Chiudere BR32STAT.EXE e riprovare\"\nModel=\"" + COPY + "\"\n"), True),
    (crlf("; " + DRIVER + "\n[BR32STAT]\nCopyFiles=BR32STAT.EXE,brlaunch.exe\n"), False),
    (crlf("; " + DRIVER.upper() + "\n[BR32STAT]\nBR32STAT.EXE\n"), False),
]


def oem_files_of_others(rng, g):
    """Other makers' INF files, and now and then one that names our printer
    too, as oem300.inf and on: names no earlier draw gives."""
    if rng.random() < 0.35:
        closed = (g.build & 0xFFFF) <= 950
        texts = [(t, False) for t in rng.sample(OTHER_MAKERS_INFS, rng.randint(1, 3))]
        if rng.random() < 0.5:
            texts.append(rng.choice(OUR_PRINTER_INFS))
        for n, (text, named) in enumerate(texts):
            path = GEN_WINDOWS + "\\INF\\" + rng.choice(["OEM%d.INF", "oem%d.inf"]) % (300 + n)
            for layer in (g.layer, g.marked):
                layer.file(path, text, stays=not (named and closed))


def defaults_after(g):
    """device= and Default after a finished run, as (text or None, text or
    None); None when the defaults as drawn are not known. One that named a
    printer of ours names the first printer of [Devices] that can be used:
    listed there, not ours, with a value; Default the one device= names when
    that one can be used. The first, on these machines: the first of those
    put before all others that can be, else the other maker's printer."""
    if g.defaults is None:
        return None
    device, default = g.defaults
    listed = ini_section(g.win_ini, "Devices") is not None
    usable = [(n, v.strip()) for n, v in g.devices_first if n.lower() not in g.ours and v.strip()]
    usable += [(OTHER, "OSJET4,LPT2:")] if listed else []
    first = usable[0] if usable else None
    name_of = lambda text: text.split(",", 1)[0].strip()  # noqa: E731
    if device is not None:
        device = device.strip()
        if name_of(device).lower() in g.ours:
            device = first and "%s,%s" % first
    if default is not None and name_of(default).lower() in g.ours:
        named = [n for n, _ in usable if device and n.lower() == name_of(device).lower()]
        default = named[0] if named else first and first[0]
    return device, default


def write_generated(folder, g):
    """The generated machine as a machine folder."""
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    write_bytes(os.path.join(folder, "machine.ini"), crlf(
        "[Machine]\nBuild=0x%08X\nWindowsDir=%s\nSystemDir=%s\nCurrentDir=C:\\\n"
        % (g.build, GEN_WINDOWS, GEN_SYSTEM) + "".join("[Busy]\n%s\n" % p for p in g.busy[:1])
        + "".join("%s\n" % p for p in g.busy[1:])
        + "".join("[Attributes]\n%s=H\n" % p for p in g.hidden)))
    shell = Layer(stays=True)
    shell.key(*SHELL_FOLDERS_KEY, *([sz("Programs", g.programs)] if g.programs else []))
    write_bytes(os.path.join(folder, "registry.reg"), regedit4([shell, g.layer], WIN9X_STORAGE))
    write_bytes(host_path(folder, GEN_WINDOWS + "\\WIN.INI"), g.win_ini)
    write_tree(folder, g, host_path)


def write_tree(top, g, place):
    """The files and folders of g, each at place(top, windows path)."""
    if g.wininit is not None:
        write_bytes(place(top, GEN_WINDOWS + "\\wininit.ini"), g.wininit)
    for path in g.folders:
        os.makedirs(place(top, path), exist_ok=True)
    for path, data, _ in g.layer.files:
        write_bytes(place(top, path), data)
    for path in g.read_only:
        os.chmod(place(top, path), 0o444)
    # Where Wine keeps the DOS marks that a Unix file cannot hold.
    for path in g.hidden:
        os.setxattr(place(top, path), "user.DOSATTRIB", b"0x2")


# ------------------------------------------------------------ the writers

def host_path(folder, windows_path):
    drive, rest = windows_path.split(":\\", 1)
    return os.path.join(folder, "drives", drive.upper(), *rest.split("\\"))


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_machine_folder(folder, name):
    """A machine folder for the simulated machine (docs/machine-format.md)."""
    build, _ = MACHINES[name]
    layers = machine(name)
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    write_bytes(os.path.join(folder, "machine.ini"), crlf(
        "[Machine]\n"
        "Build=0x%08X\n"
        "WindowsDir=%s\n"
        "SystemDir=%s\n"
        "CurrentDir=C:\\\n" % (build, WINDOWS, SYSTEM)))
    write_bytes(os.path.join(folder, "registry.reg"), regedit4(layers, WIN9X_STORAGE))
    write_bytes(host_path(folder, WINDOWS + "\\WIN.INI"), win_ini(layers))
    for layer in layers:
        for path, data, _ in layer.files:
            write_bytes(host_path(folder, path), data)


def emit_listing(path, name):
    """What a removal on the sample machine NAME must change, for the unit
    tests: a line "KIND ROLE AFTER_RUN ITEM" for each registry key (ROOT\\path
    under the registry's own root names), WIN.INI entry ([section] key),
    file and the group folder; ROLE is driver or decoy, AFTER_RUN gone or
    kept; and "value ROLE changed ROOT\\path "NAME"" for a value that
    stays with another text, which "win_ini ROLE changed" says of a key."""
    _, installation, decoy = machine(name)
    lines = ["folder driver gone %s\\%s" % (PROGRAMS, PRODUCT)]
    for role, layer in (("driver", installation), ("decoy", decoy)):
        after = lambda stays: stays if stays == CHANGED else "kept" if stays else "gone"  # noqa: E731
        lines += ["registry %s %s %s\\%s" % (role, after(stays), ROOT_NAMES[root], key)
                  for root, key, _, stays in layer.keys if stays != CHANGED]
        lines += ["value %s %s %s\\%s \"%s\"" % (role, CHANGED, ROOT_NAMES[root], key, name)
                  for root, key, values, stays in layer.keys if stays == CHANGED
                  for name, _, _ in values]
        lines += ["win_ini %s %s [%s]%s" % (role, after(stays), section,
                                            "" if key is None else " " + key)
                  for section, key, _, stays in layer.profile]
        lines += ["file %s %s %s" % (role, after(stays), file_path)
                  for file_path, _, stays in layer.files]
    write_bytes(path, ("\n".join(lines) + "\n").encode("cp1252"))


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default=os.path.join(here, "..", "machines"),
                        help="where to write the machine folders (default: machines/)")
    parser.add_argument("--seed", type=int,
                        help="write the generated machine of this seed to --out and stop")
    parser.add_argument("--mode", choices=sorted(GEN_BUILDS),
                        help="the generated machine's Windows version (default: drawn)")
    parser.add_argument("--machine", choices=sorted(MACHINES), default="win98",
                        help="the sample machine that --emit-listing describes")
    parser.add_argument("--emit-listing", metavar="PATH",
                        help="write what a removal on --machine must change to PATH and stop")
    args = parser.parse_args(argv)

    if args.emit_listing:
        emit_listing(args.emit_listing, args.machine)
        return 0

    if args.seed is not None:
        write_generated(args.out, generated_machine(args.seed, args.mode))
        return 0
    for name in sorted(MACHINES):
        write_machine_folder(os.path.join(args.out, name), name)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
