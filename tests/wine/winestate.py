"""What a Wine prefix holds, seen from outside the program: the registry as
Wine's regedit exports it, WIN.INI section by section, and every file and
folder of drive C. Each is captured into plain Python values so that two
captures compare item by item and a difference names the key, section or
file that differs."""

import hashlib
import os

# Wine keeps these root keys as links into HKEY_LOCAL_MACHINE: an export of
# HKEY_LOCAL_MACHINE\System shows a HKEY_CURRENT_CONFIG key a second time.
ALIASES = [
    ("HKEY_CURRENT_CONFIG\\",
     "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\"),
    ("HKEY_CLASSES_ROOT\\", "HKEY_LOCAL_MACHINE\\Software\\Classes\\"),
]

# Keys that Wine builds afresh in each session, with new names each time.
VOLATILE_KEYS = [
    "HKEY_CURRENT_CONFIG\\System\\CurrentControlSet\\Control\\Video",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video",
    # The display adapter, stamped with the time of the session's start.
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\"
    "{4D36E968-E325-11CE-BFC1-08002BE10318}",
    "HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters",
    # Counts the sessions' service starts.
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent",
]

# Files that Wine itself rewrites while any program runs.
VOLATILE_FILES = ("windows/temp/", "users/", "windows/logs/")


# ------------------------------------------------------------ registry

def parse_regfile(data):
    """A regedit export (REGEDIT4 in the ANSI code page, or version 5 in
    UTF-16) as {lower-case key path: (key path, [value lines])}."""
    if data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le")
    else:
        text = data.decode("cp1252")
    keys = {}
    current = None
    pending = ""
    for line in text.replace("\r\n", "\n").split("\n"):
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and current is not None and not line.startswith("["):
            pending = line[:-1]
            continue
        if line.startswith("[") and line.endswith("]"):
            path = line[1:-1]
            current = keys.setdefault(path.lower(), (path, []))
        elif line and current is not None and not line.startswith(";"):
            current[1].append(line)
    for _, values in keys.values():
        values.sort(key=str.lower)
    return remove_subtrees(keys, VOLATILE_KEYS)


def export_roots(listing):
    """The subtrees to export: each listed key's root and first component,
    and one more component below CLSID, whose whole subtree is large."""
    roots = []
    for item in listing["registry"]:
        parts = item["path"].split("\\")
        depth = 2 if parts[0].lower() == "clsid" else 1
        root = item["root"] + "\\" + "\\".join(parts[:depth])
        if root.lower() not in [r.lower() for r in roots]:
            roots.append(root)
    return roots


def alias_forms(path):
    """A key path and the paths of the same key through Wine's links."""
    forms = [path]
    lower = path.lower()
    for short, long in ALIASES:
        if lower.startswith(short.lower()):
            forms.append(long + path[len(short):])
        elif lower.startswith(long.lower()):
            forms.append(short + path[len(long):])
    return forms


def is_under(path, top):
    path, top = path.lower(), top.lower()
    return path == top or path.startswith(top + "\\")


def remove_subtrees(keys, gone):
    """keys less every key at or below one of the paths in gone."""
    tops = [form for path in gone for form in alias_forms(path)]
    return {k: v for k, v in keys.items() if not any(is_under(k, top) for top in tops)}


def remove_value(keys, key_path, name):
    """keys with the value name (None: the default value) taken out of
    one key."""
    entry = keys.get(key_path.lower())
    if entry is None:
        return keys
    left = "@=" if name is None else '"%s"=' % name.replace("\\", "\\\\").replace('"', '\\"')
    keys = dict(keys)
    keys[key_path.lower()] = (entry[0], [v for v in entry[1] if not v.lower().startswith(
        left.lower())])
    return keys


def diff_registry(expected, actual):
    """Differences as readable lines: missing keys, extra keys, and keys
    whose values differ (with both value lists)."""
    lines = []
    for k in sorted(set(expected) | set(actual)):
        if k not in actual:
            lines.append("registry: key missing: [%s]" % expected[k][0])
        elif k not in expected:
            lines.append("registry: key should be gone: [%s]" % actual[k][0])
        elif expected[k][1] != actual[k][1]:
            lines.append("registry: values of [%s] differ: wanted %r, got %r"
                         % (expected[k][0], expected[k][1], actual[k][1]))
    return lines


# ------------------------------------------------------------- WIN.INI

def parse_ini(data):
    """WIN.INI as an ordered list of (section, [(key, value)]): names kept
    as written, lines without '=' kept as keys with value None."""
    sections = []
    current = None
    for raw in data.decode("cp1252").replace("\r\n", "\n").split("\n"):
        line = raw.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            current = (line[1:-1], [])
            sections.append(current)
        elif current is not None:
            key, sep, value = line.partition("=")
            current[1].append((key.strip(), value.strip() if sep else None))
    return sections


def ini_without(sections, gone):
    """The sections less the removed items: (section, None) removes a
    whole section, (section, key) one key of it. Names compare without
    regard to letter case, as the profile functions compare them."""
    result = []
    for name, entries in sections:
        if (name.lower(), None) in gone:
            continue
        kept = [(k, v) for k, v in entries if (name.lower(), k.lower()) not in gone]
        result.append((name, kept))
    return result


def diff_ini(expected, actual):
    lines = []
    wanted = {name.lower(): (name, entries) for name, entries in expected}
    got = {name.lower(): (name, entries) for name, entries in actual}
    for key in list(wanted) + [k for k in got if k not in wanted]:
        if key not in got:
            lines.append("win.ini: section missing: [%s]" % wanted[key][0])
        elif key not in wanted:
            lines.append("win.ini: section should be gone: [%s] %r" % got[key])
        elif wanted[key][1] != got[key][1]:
            lines.append("win.ini: section [%s] differs: wanted %r, got %r"
                         % (wanted[key][0], wanted[key][1], got[key][1]))
    if not lines and [n.lower() for n, _ in expected] != [n.lower() for n, _ in actual]:
        lines.append("win.ini: section order differs: wanted %r, got %r"
                     % ([n for n, _ in expected], [n for n, _ in actual]))
    return lines


# --------------------------------------------------------------- files

def file_mark(full):
    """A small file by its content; a large one (Wine's own DLLs, which a
    restored copy keeps with their times) by its size and time."""
    st = os.stat(full)
    if st.st_size > 65536:
        return "size %d time %d" % (st.st_size, st.st_mtime_ns)
    with open(full, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def snapshot_tree(drive_c):
    """Every file and folder under drive_c, by lower-case relative path
    with '/' separators: (path as stored, "dir", "link" or file_mark)."""
    tree = {}
    for top, dirs, files in os.walk(drive_c):
        dirs.sort()
        rel_top = os.path.relpath(top, drive_c)
        rel_top = "" if rel_top == "." else rel_top.replace(os.sep, "/") + "/"
        if rel_top.lower().startswith(VOLATILE_FILES):
            continue
        for name in dirs:
            path = rel_top + name
            if os.path.islink(os.path.join(top, name)):
                tree[path.lower()] = (path, "link")
            else:
                tree[path.lower()] = (path, "dir")
        for name in files:
            full = os.path.join(top, name)
            path = rel_top + name
            if os.path.islink(full):
                tree[path.lower()] = (path, "link")
                continue
            tree[path.lower()] = (path, file_mark(full))
    return tree


def diff_tree(expected, actual):
    lines = []
    for k in sorted(set(expected) | set(actual)):
        if k not in actual:
            lines.append("files: missing: %s" % expected[k][0])
        elif k not in expected:
            lines.append("files: should not exist: %s" % actual[k][0])
        elif expected[k][1] != actual[k][1]:
            lines.append("files: content differs: %s" % expected[k][0])
    return lines
