#!/usr/bin/env python3
"""Every instruction of BR32UNIN.EXE is one the 80386 executes.

Windows 95 runs on a 386DX and Windows 98 on a 486DX, and most machines
that ran them had a 486, a Pentium or a K6: no cmov, no multi-byte nop, no
bswap, cmpxchg or cpuid, no floating point (a 386 may have no coprocessor).
A compiler default or a library built for a later processor puts such an
instruction in the program, and there it is an illegal operation that ends
the program half-way through a removal; Wine on a modern processor runs it
without complaint. So every executable section is disassembled and each
mnemonic held against the 80386 integer instructions a user program may
run: an allow-list, so that nothing new slips in unnoticed.

usage: i386_instructions.py EXE [OBJDUMP]     exit 0: all allowed, 1: not,
                                              77: EXE not built (skipped)
"""

import os
import re
import struct
import subprocess
import sys

# The 80386's integer instructions that run at privilege level 3, as
# objdump's Intel syntax names them (string instructions without size).
ALLOWED = set("""
    aaa aad aam aas adc add and bound bsf bsr bt btc btr bts call cbw cdq clc cld
    cmc cmp cmps cwd cwde daa das dec div enter idiv imul inc int int3 into ja jae
    jb jbe jcxz je jecxz jg jge jl jle jmp jne jno jnp jns jo jp js lahf lds lea
    leave les lfs lgs lods loop loope loopne lss mov movs movsx movzx mul neg nop
    not or pop popa popf push pusha pushf rcl rcr ret rol ror sahf sar sbb scas
    seta setae setb setbe sete setg setge setl setle setne setno setnp setns seto
    setp sets shl shld shr shrd stc std stos sub test xchg xlat xor
""".split())

# Prefixes objdump prints before a mnemonic; all exist on the 80386.
PREFIXES = {"rep", "repz", "repe", "repnz", "repne", "lock", "data16", "addr16",
            "cs", "ds", "es", "ss", "fs", "gs"}

LINE = re.compile(r"^\s*([0-9a-f]+):\s+(.*)$")


def offending(listing):
    """(address, instruction) for each instruction outside the allow-list."""
    bad = []
    for line in listing.splitlines():
        m = LINE.match(line)
        if not m:
            continue
        text = m.group(2).strip()
        words = text.split()
        while words and words[0] in PREFIXES:
            words = words[1:]
        if not words:
            continue
        mnemonic, operands = words[0], words[1:]
        # "nop DWORD PTR [...]" is 0F 1F, the Pentium Pro's long nop.
        if mnemonic not in ALLOWED or (mnemonic == "nop" and operands):
            bad.append((m.group(1), text))
    return bad


# The linker closes the code section with the constructor and destructor
# lists, each -1 then its entries then 0. The program has no run-time
# library to call constructors, so both must be empty: that data is where
# the code ends.
EMPTY_LISTS = struct.pack("<iiii", -1, 0, -1, 0)


def code_ranges(data):
    """(start, stop) virtual addresses of the code of each executable section."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional = struct.unpack_from("<H12xH", data, pe + 6)
    image_base = struct.unpack_from("<I", data, pe + 24 + 28)[0]
    ranges = []
    for i in range(sections):
        at = pe + 24 + optional + 40 * i
        vsize, va, raw_size, raw_ptr = struct.unpack_from("<IIII", data, at + 8)
        flags = struct.unpack_from("<I", data, at + 36)[0]
        if not flags & 0x20000000:  # IMAGE_SCN_MEM_EXECUTE
            continue
        size = min(vsize, raw_size)
        body = data[raw_ptr:raw_ptr + size]
        if body.endswith(EMPTY_LISTS):
            size -= len(EMPTY_LISTS)
        ranges.append((image_base + va, image_base + va + size))
    return ranges


def main(argv):
    exe = argv[1]
    objdump = argv[2] if len(argv) > 2 else "i686-w64-mingw32-objdump"
    if not os.path.exists(exe):
        print("%s is not built: cmake --build --preset win32" % exe)
        return 77
    with open(exe, "rb") as f:
        data = f.read()
    listing = ""
    for start, stop in code_ranges(data):
        listing += subprocess.run([objdump, "-d", "--no-show-raw-insn", "-M", "intel",
                                   "--start-address=%#x" % start, "--stop-address=%#x" % stop, exe],
                                  check=True, capture_output=True, text=True).stdout
    count = sum(1 for line in listing.splitlines() if LINE.match(line))
    bad = offending(listing)
    for address, text in bad:
        print("0x%s: %s" % (address, text))
    print("%d instructions, %d outside the 80386 set" % (count, len(bad)))
    return 1 if bad or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
