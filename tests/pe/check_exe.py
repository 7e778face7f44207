#!/usr/bin/env python3
"""The built BR32UNIN.EXE read back: what Windows 95 needs to load it, its
imports, its four resources (the bytes res/ makes), its 80386 instructions.

usage: check_exe.py EXE [OBJDUMP]   exit 0: passes, 1: fails, 77: not built
"""

import glob
import os
import re
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "res"))
import make_dialogs  # noqa: E402

# Reserved, type icon, one image: 32x32, 16 colours, 1 plane, 4 bits, 744 bytes, icon 1.
ICON_GROUP = bytes([0, 0, 1, 0, 1, 0, 32, 32, 16, 0, 1, 0, 4, 0, 0xE8, 2, 0, 0, 1, 0])
RESOURCES = "#3 #1 0/0 744\n#5 UNINSTALL 0/0 214\n#5 WELCOME 0/0 176\n#14 IDI_UNINICON 0/0 20\n"
# Static constructors and thread-local data need a run-time library to run
# them; the linker folds constructor tables into .text, so look in the objects.
RUNTIME_SECTIONS = [b".ctors", b".dtors", b".init_array", b".CRT", b".tls", b".eh_frame"]

# Windows 95 runs on a 386DX, most of its machines on a 486, Pentium or K6: a
# cmov, long nop, bswap, cpuid or floating point instruction ends the program
# half-way through a removal, and Wine runs it unnoticed. So an allow-list: the
# 80386's integer instructions at privilege level 3, as objdump's Intel names them.
ALLOWED = set("""
    aaa aad aam aas adc add and bound bsf bsr bt btc btr bts call cbw cdq clc cld
    cmc cmp cmps cwd cwde daa das dec div enter idiv imul inc int int3 into ja jae
    jb jbe jcxz je jecxz jg jge jl jle jmp jne jno jnp jns jo jp js lahf lds lea
    leave les lfs lgs lods loop loope loopne lss mov movs movsx movzx mul neg nop
    not or pop popa popf push pusha pushf rcl rcr ret rol ror sahf sar sbb scas
    seta setae setb setbe sete setg setge setl setle setne setno setnp setns seto
    setp sets shl shld shr shrd stc std stos sub test xchg xlat xor
""".split())
PREFIXES = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "addr16",
            "cs", "ds", "es", "ss", "fs", "gs"}
LINE = re.compile(r"^\s*([0-9a-f]+):\s+(.*)$")
# The code section ends with the constructor and destructor lists, each -1,
# its entries, 0; with no run-time library both must be empty.
EMPTY_LISTS = struct.pack("<iiii", -1, 0, -1, 0)


class Pe:
    def __init__(self, data):
        self.data = data
        self.nt = self.u32(0x3C)
        self.opt = self.nt + 24
        if data[:2] != b"MZ" or self.u32(self.nt) != 0x4550 or self.u16(self.opt) != 0x10B:
            raise ValueError("not a PE32 program")
        first = self.opt + self.u16(self.nt + 20)
        # virtual size, virtual address, raw size, raw offset, flags
        self.sections = [struct.unpack_from("<IIII12xI", data, first + 40 * i + 8)
                         for i in range(self.u16(self.nt + 6))]

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        """The file offset of a virtual address; past the end when no section holds it."""
        for _, va, raw_size, raw, _ in self.sections:
            if va <= rva < va + raw_size:
                return raw + rva - va
        return len(self.data)

    def text(self, at):
        return self.data[at:at + 256].split(b"\0")[0].decode("latin-1")

    def directory(self, i):
        """(virtual address, size) of data directory i: 1 imports, 2 resources, 9 TLS."""
        count = self.u32(self.opt + 92)
        return struct.unpack_from("<II", self.data, self.opt + 96 + 8 * i) if i < count else (0, 0)

    def imports(self):
        """(dll, function or None by ordinal) of each import."""
        d = self.offset(self.directory(1)[0])
        while self.directory(1)[0] and (self.u32(d + 12) or self.u32(d + 16)):
            dll = self.text(self.offset(self.u32(d + 12))).lower()
            t = self.offset(self.u32(d) or self.u32(d + 16))
            while entry := self.u32(t):
                yield dll, None if entry >> 31 else self.text(self.offset(entry) + 2)
                t += 4
            d += 20

    def resources(self, base, at, path=()):
        """(type, name, language, code page, data, size) of each leaf of the three levels."""
        for i in range(self.u16(at + 12) + self.u16(at + 14)):
            ident, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
            name = base + (ident & 0x7FFFFFFF)
            key = (self.data[name + 2:name + 2 + 2 * self.u16(name)].decode("utf-16-le")
                   if ident >> 31 else "#%d" % ident)
            if (target >> 31) != (len(path) < 2):
                raise ValueError("a resource tree of other than three levels")
            if target >> 31:
                yield from self.resources(base, base + (target & 0x7FFFFFFF), path + (key,))
                continue
            rva, size, code_page = struct.unpack_from("<III", self.data, base + target)
            yield path + (ident, code_page, self.data[self.offset(rva):self.offset(rva) + size], size)

    def code_ranges(self):
        image_base = self.u32(self.opt + 28)
        for vsize, va, raw_size, raw, flags in self.sections:
            if flags & 0x20000000:  # IMAGE_SCN_MEM_EXECUTE
                code = self.data[raw:raw + min(vsize, raw_size)].removesuffix(EMPTY_LISTS)
                yield image_base + va, image_base + va + len(code)


def offending(listing):
    """(address, instruction) of each one outside the allow-list."""
    for m in filter(None, map(LINE.match, listing.splitlines())):
        words = m.group(2).split()
        while words and words[0] in PREFIXES:
            words = words[1:]
        # "nop DWORD PTR [...]" is 0F 1F, the Pentium Pro's long nop.
        if words and (words[0] not in ALLOWED or (words[0] == "nop" and len(words) > 1)):
            yield m.group(1), m.group(2).strip()


def check(exe, pe, objdump, fail):
    size = len(pe.data)
    print("BR32UNIN.EXE: %d bytes (limit 17920)" % size)
    if size > 17920:
        fail("%d bytes, over 17920" % size)
    header = "machine %#x, subsystem %d %d.%d, OS %d.%d, flags %#x" % (
        pe.u16(pe.nt + 4), pe.u16(pe.opt + 68), pe.u16(pe.opt + 48), pe.u16(pe.opt + 50),
        pe.u16(pe.opt + 40), pe.u16(pe.opt + 42), pe.u16(pe.nt + 22) & 0x2002)  # executable, DLL
    if header != "machine 0x14c, subsystem 2 4.0, OS 4.0, flags 0x2":
        fail("not an i386 Windows 4.0 GUI program: " + header)

    if pe.directory(9) != (0, 0):
        fail("thread-local storage")
    objects = glob.glob(os.path.join(os.path.dirname(exe), "CMakeFiles/br32unin.dir/**/*.obj"),
                        recursive=True)
    if not objects:
        fail("no objects of the Windows build")
    for obj in objects:
        content = open(obj, "rb").read()
        for section in (s for s in RUNTIME_SECTIONS if s in content):
            fail("%s: %s" % (obj, section.decode()))

    allow = open(os.path.join(ROOT, "tests/pe/imports.allow"))
    allowed = {(w[0] + ".dll", w[1]) for w in map(str.split, allow) if len(w) > 1 and w[0][0] != "#"}
    imports = list(pe.imports())
    if not allowed or not imports:
        fail("nothing in tests/pe/imports.allow, or no imports")
    for dll, function in imports:
        if (dll, function) not in allowed:
            fail("%s %s is not in tests/pe/imports.allow" % (dll, function or "by ordinal"))

    resources = list(pe.resources(pe.offset(pe.directory(2)[0]), pe.offset(pe.directory(2)[0])))
    inventory = "".join("%s %s %d/%d %d\n" % (t, n, lang, cp, size)
                        for t, n, lang, cp, _, size in resources)
    if inventory != RESOURCES:
        fail("resources other than the four neutral ones:\n" + inventory)
    found = {(t, n): data for t, n, _, _, data, _ in resources}
    make_dialogs.read_ids(os.path.join(ROOT, "res/resource.h"))
    expected = {("#5", d["name"]): make_dialogs.template(d)
                for d in make_dialogs.read_dialogs(os.path.join(ROOT, "res/dialogs.txt"))}
    expected["#14", "IDI_UNINICON"] = ICON_GROUP
    expected["#3", "#1"] = open(os.path.join(ROOT, "res/uninicon.ico"), "rb").read()[22:]
    for (type_, name), data in expected.items():
        if found.get((type_, name)) != data:
            fail("resource %s %s is not what res/ makes: make_dialogs.py from dialogs.txt (which "
                 "WELCOME in br32unin.rc must match), uninicon.ico" % (type_, name))

    listing = "".join(subprocess.run(
        [objdump, "-d", "--no-show-raw-insn", "-M", "intel", "--start-address=%#x" % start,
         "--stop-address=%#x" % stop, exe], check=True, capture_output=True, text=True).stdout
        for start, stop in pe.code_ranges())
    count = sum(1 for line in listing.splitlines() if LINE.match(line))
    bad = list(offending(listing))
    for address, text in bad:
        print("0x%s: %s" % (address, text))
    print("%d instructions, %d outside the 80386 set" % (count, len(bad)))
    if bad or not count:
        fail("instructions outside the 80386 set, or none")


def main(argv):
    exe = argv[1]
    if not os.path.exists(exe):
        print("%s is not built: cmake --build --preset win32" % exe)
        return 77
    failures = []
    check(exe, Pe(open(exe, "rb").read()), argv[2] if len(argv) > 2 else "i686-w64-mingw32-objdump",
          lambda message: failures.append(message) or print("FAIL: " + message))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
