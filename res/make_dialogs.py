#!/usr/bin/env python3
"""Builds the dialog templates' bytes from dialogs.txt.

windres stores the class name of a CONTROL statement in upper case, and the
progress bar's class must keep its letter case, so UNINSTALL goes into the
program as a raw RT_DIALOG resource made here. WELCOME stays a DIALOG
statement in br32unin.rc; its bytes are made here too, so that a test can
hold the resource compiler's output against this description.

Writes:
  uninstall.dlg  the UNINSTALL template (DLGTEMPLATEEX), for br32unin.rc
  dialogs.inc    both templates as C++ byte arrays, for the simulated
                 machine's dialog manager and for the tests

    python3 res/make_dialogs.py            writes both files
    python3 res/make_dialogs.py --check    fails when they are out of date
"""
import os
import re
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

FLAGS = {
    'WS_POPUP': 0x80000000, 'WS_CHILD': 0x40000000, 'WS_VISIBLE': 0x10000000,
    'WS_CAPTION': 0x00C00000, 'WS_BORDER': 0x00800000, 'WS_SYSMENU': 0x00080000,
    'WS_GROUP': 0x00020000, 'WS_TABSTOP': 0x00010000,
    'DS_MODALFRAME': 0x80, 'DS_SETFONT': 0x40, 'DS_CENTER': 0x800,
    'BS_PUSHBUTTON': 0x0, 'BS_DEFPUSHBUTTON': 0x1, 'SS_LEFT': 0x0,
    'WS_EX_RTLREADING': 0x2000,
}
# Predefined control classes, stored as 0xFFFF and an ordinal.
CLASS_ORDINALS = {'BUTTON': 0x80, 'EDIT': 0x81, 'STATIC': 0x82}
IDS = {'IDOK': 1, 'IDCANCEL': 2}


def fail(where, message):
    sys.exit(f'{where}: {message}')


def read_ids(path):
    for line in open(path, encoding='ascii'):
        m = re.match(r'#define\s+(\w+)\s+(\d+)\s*$', line)
        if m:
            IDS[m.group(1)] = int(m.group(2))


def tokens(line):
    return re.findall(r'"[^"]*"|\S+', line)


def text(token, where):
    if not (token.startswith('"') and token.endswith('"')):
        fail(where, f'expected a quoted text, got {token}')
    return token[1:-1]


def flags(names, where):
    value = 0
    for name in names:
        if name == '0':
            continue
        if name not in FLAGS:
            fail(where, f'unknown flag {name}')
        value |= FLAGS[name]
    return value


def number(token, where):
    if token in IDS:
        return IDS[token]
    if not re.fullmatch(r'-?\d+', token):
        fail(where, f'expected a number, got {token}')
    return int(token)


def read_dialogs(path):
    dialogs = []
    for lineno, line in enumerate(open(path, encoding='cp1252'), 1):
        where = f'{path}:{lineno}'
        t = tokens(line)
        if not t or t[0].startswith('#'):  # a comment takes the whole line
            continue
        key, args = t[0], t[1:]
        if key == 'dialog':
            name, kind = args[0], args[1]
            if kind not in ('classic', 'extended'):
                fail(where, f'unknown template kind {kind}')
            x, y, cx, cy = (number(a, where) for a in args[2:6])
            dialogs.append({'name': name, 'extended': kind == 'extended',
                            'rect': (x, y, cx, cy), 'style': 0, 'exstyle': 0,
                            'caption': '', 'font': None, 'controls': []})
            continue
        if not dialogs:
            fail(where, 'a dialog line comes first')
        d = dialogs[-1]
        if key == 'style':
            d['style'] = flags(args, where)
        elif key == 'exstyle':
            d['exstyle'] = flags(args, where)
        elif key == 'caption':
            d['caption'] = text(args[0], where)
        elif key == 'font':
            extra = [number(a, where) for a in args[2:]]
            if len(extra) not in (0, 3) or (extra and not d['extended']):
                fail(where, 'weight, italic and charset go with extended templates only')
            d['font'] = (number(args[0], where), text(args[1], where), extra or [0, 0, 1])
        elif key == 'control':
            cid = number(args[0], where)
            cls = args[1]
            cls = text(cls, where) if cls.startswith('"') else CLASS_ORDINALS.get(cls)
            if cls is None:
                fail(where, f'unknown predefined class {args[1]}')
            d['controls'].append({'id': cid, 'class': cls, 'text': text(args[2], where),
                                  'rect': tuple(number(a, where) for a in args[3:7]),
                                  'exstyle': flags([args[7]], where),
                                  'style': flags(args[8:], where)})
        else:
            fail(where, f'unknown line {key}')
    return dialogs


def sz(s):
    return s.encode('utf-16-le') + b'\0\0'


def name_or_ordinal(value):
    if isinstance(value, int):
        return struct.pack('<HH', 0xFFFF, value)
    return sz(value)


def pad4(b):
    return b + b'\0' * (-len(b) % 4)


def template(d):
    x, y, cx, cy = d['rect']
    n = len(d['controls'])
    if d['extended']:
        out = struct.pack('<HHIIIHhhhh', 1, 0xFFFF, 0, d['exstyle'], d['style'], n, x, y, cx, cy)
    else:
        out = struct.pack('<IIHhhhh', d['style'], d['exstyle'], n, x, y, cx, cy)
    out += b'\0\0' + b'\0\0' + sz(d['caption'])  # no menu, the dialog class
    if d['font']:
        points, face, (weight, italic, charset) = d['font']
        out += struct.pack('<H', points)
        if d['extended']:
            out += struct.pack('<HBB', weight, italic, charset)
        out += sz(face)
    for c in d['controls']:
        out = pad4(out)
        cx_, cy_, cw, ch = c['rect']
        if d['extended']:
            out += struct.pack('<IIIhhhhI', 0, c['exstyle'], c['style'], cx_, cy_, cw, ch, c['id'])
        else:
            out += struct.pack('<IIhhhhH', c['style'], c['exstyle'], cx_, cy_, cw, ch, c['id'])
        out += name_or_ordinal(c['class']) + sz(c['text']) + b'\0\0'  # no creation data
    return out


def c_array(name, data):
    lines = [f'static const unsigned char {name}[{len(data)}] = {{']
    for i in range(0, len(data), 12):
        lines.append('    ' + ', '.join(f'0x{b:02X}' for b in data[i:i + 12]) + ',')
    lines.append('};')
    return '\n'.join(lines)


def write_or_check(path, data, check):
    if check:
        old = open(path, 'rb').read() if os.path.exists(path) else None
        if old != data:
            sys.exit(f'{path} is out of date: run python3 res/make_dialogs.py')
        return
    with open(path, 'wb') as f:
        f.write(data)


def main():
    check = '--check' in sys.argv[1:]
    read_ids(os.path.join(HERE, 'resource.h'))
    dialogs = read_dialogs(os.path.join(HERE, 'dialogs.txt'))
    inc = ['// Generated by res/make_dialogs.py from res/dialogs.txt: do not edit.',
           '// The dialog templates exactly as the program carries them.', '']
    table = []
    for d in dialogs:
        data = template(d)
        var = 'g_template' + d['name'].capitalize()
        inc += [c_array(var, data), '']
        table.append(f'    {{"{d["name"]}", {var}, sizeof {var}}},')
        print(f'{d["name"]}: {len(data)} bytes')
        if d['name'] == 'UNINSTALL':
            write_or_check(os.path.join(HERE, 'uninstall.dlg'), data, check)
    inc += ['struct DialogTemplateBytes {', '    const char *name;',
            '    const unsigned char *bytes;', '    unsigned size;', '};', '',
            'static const DialogTemplateBytes g_dialogTemplates[] = {'] + table + [
            '    {0, 0, 0},', '};', '']
    write_or_check(os.path.join(HERE, 'dialogs.inc'), '\n'.join(inc).encode('ascii'), check)


if __name__ == '__main__':
    main()
