#!/usr/bin/env python3
"""Checks that the built 32-bit programs hold only instructions a 386 can execute.

    check_instructions.py --objdump OBJDUMP PROGRAM...
    check_instructions.py --objdump OBJDUMP --self-test PROGRAM

Windows 95 runs on a 386. An instruction that came later (a conditional move, bswap, cpuid, a
multi-byte nop, anything on MMX or SSE registers) raises an invalid-opcode fault on the 486s,
Pentiums, K5s, K6s and Cyrix processors that 95 and 98 ran on, and nothing under Wine on a
modern processor shows it.

What is decoded: the linker's map beside each program (PROGRAM.map) lists what it put into
the code section, piece by piece: each function's code, and data such as the constructor
lists that the linker lays out at the end of .text. Each code piece is disassembled on its
own, from its first byte to its last, so that decoding is in step at every function's start
and neither data nor the alignment between pieces can hide an instruction or raise a false
alarm; data pieces are not decoded. The map must describe the very program: its code section
at the program's address, its last piece ending where the section's contents end, and the
entry point at the start of a piece.

What fails: a two-byte opcode (0f xx) outside the 386's own, the Pentium Pro's FPU
conditional moves and compares into flags, SSE3's fisttp, any MMX, SSE or AVX register, an
undecodable byte inside code, and an instruction that runs past the end of its piece. The
libgcc members the program links are listed: their code is checked like our own.

--self-test plants instructions a 386 lacks into copies of a good program and fails unless
the check notices each one.
"""

import argparse
import functools
import os
import re
import subprocess
import sys

from check_pe import Pe, check_programs, notices_damage, report

PREFIXES = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3}

# Two-byte opcodes (after 0f) that the 386 has: system instructions, the long conditional
# jumps, setcc, the fs and gs pushes and pops, the bit tests and scans, the double shifts,
# imul, the far pointer loads, movzx and movsx. Everything else in 0f xx came later (cmov 40-4f,
# the multi-byte nop 1f, ud2 0b, rdtsc 31, sysenter 34, cpuid a2, cmpxchg b0/b1/c7, xadd
# c0/c1, bswap c8-cf, MMX and SSE nearly everywhere else).
I386_TWO_BYTE = ({0x00, 0x01, 0x02, 0x03, 0x06, 0x20, 0x21, 0x22, 0x23, 0x24, 0x26} |
                 set(range(0x80, 0xA0)) |
                 {0xA0, 0xA1, 0xA3, 0xA4, 0xA5, 0xA8, 0xA9, 0xAB, 0xAC, 0xAD, 0xAF, 0xB2, 0xB3,
                  0xB4, 0xB5, 0xB6, 0xB7, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF})

# Names objdump gives instructions a 386 lacks, for those the opcode rules above let through
# (invlpg and lzcnt share a 386 opcode's bytes) and as a second guard for the rest.
MISSING_ON_386 = re.compile(
    r'^(cmov\w+|fcmov\w+|fu?comip?|bswap|cmpxchg\w*|xadd\w?|cpuid|rdtscp?|rdpmc|rdmsr|wrmsr|'
    r'nop[wlq]|ud[012]|sysenter|sysexit|syscall|sysret|invd|wbinvd|invlpg|rsm|lzcnt|popcnt|'
    r'movbe|crc32\w?|prefetch\w*|[lms]fence|clflush\w*|fisttp\w*|endbr32|emms|femms|'
    r'fx(save|rstor)|[ls]tmxcsr)$')
VECTOR_REGISTER = re.compile(r'%[xyz]?mm\d|%k[0-7]\b')

INSTRUCTION = re.compile(r'^\s*([0-9a-f]+):\t([0-9a-f]{2}(?: [0-9a-f]{2})*)\s*\t(.*)$')


# ---- The map


CODE_PIECE = re.compile(r'^\.(text|init|fini)([.$].*)?$')


class CodeMap:
    """The code section's layout, read from the linker's map: `pieces` are (address, size,
    label, is_code) in address order; `libgcc` the names of the libgcc members linked."""

    def __init__(self, text):
        self.pieces = []
        self.libgcc = sorted(set(re.findall(r'libgcc\.a\(([^)]+)\)', text.split(
            'Discarded input sections')[0])))
        layout = text.split('Linker script and memory map', 1)[-1]
        section = re.search(r'^\.text\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\n(.*?)^(?=\S)', layout,
                            re.M | re.S)
        if section is None:
            raise ValueError('the map has no .text output section')
        self.address = int(section.group(1), 16)
        pending = None  # an input section whose name stood alone on its line
        for line in section.group(3).splitlines():
            piece = re.match(r'^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$', line)
            statement = re.match(
                r'^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(LONG|SHORT|BYTE|QUAD|SQUAD)\b', line)
            alone = re.match(r'^ (\.\S+)$', line)
            wrapped = re.match(r'^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$', line)
            if alone:
                pending = alone.group(1)
            elif piece and not piece.group(1).startswith('*'):
                self.add(piece.group(1), piece.group(2), piece.group(3), piece.group(4))
                pending = None
            elif statement:
                self.add(statement.group(3), statement.group(1), statement.group(2))
            elif wrapped and pending:
                self.add(pending, wrapped.group(1), wrapped.group(2), wrapped.group(3))
                pending = None
        self.pieces.sort()

    def add(self, name, address, size, origin=None):
        size = int(size, 16)
        if size:
            # A piece of another's code is named with its file: ".text of libgcc.a(x.o)".
            label = name if origin is None or '$' in name else '%s of %s' % (
                name, os.path.basename(origin))
            self.pieces.append((int(address, 16), size, label, bool(CODE_PIECE.match(name))))


# ---- Decoding


def decode(objdump, path, start, end):
    """[(address, bytes, text)] of the instructions from start up to end, decoded afresh
    from start; objdump finishes an instruction that starts before end."""
    result = subprocess.run([objdump, '-d', '-z', '--insn-width=16', '-j', '.text',
                             '--start-address=0x%x' % start, '--stop-address=0x%x' % end, path],
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise ValueError('%s failed: %s' % (objdump, result.stderr.strip()))
    instructions = []
    for line in result.stdout.splitlines():
        match = INSTRUCTION.match(line)
        if match:
            instructions.append((int(match.group(1), 16),
                                 bytes(int(b, 16) for b in match.group(2).split()),
                                 ' '.join(match.group(3).split())))
    return instructions


def why_not_386(code, text):
    """Why a 386 cannot execute this instruction, or None when it can."""
    if '(bad)' in text:
        return 'bytes that decode to no instruction, inside code'
    if VECTOR_REGISTER.search(text):
        return 'an MMX, SSE or AVX register'
    words = [w for w in text.split() if not re.search(r'[%$(,]', w) and not w.startswith('0x')]
    for word in words:
        if MISSING_ON_386.match(word):
            return '%s, which came after the 386' % word
    i = 0
    while i < len(code) and code[i] in PREFIXES:
        i += 1
    opcode = code[i:i + 2]
    if len(opcode) == 2 and opcode[0] == 0x0F and opcode[1] not in I386_TWO_BYTE:
        return 'two-byte opcode 0f %02x, which came after the 386' % opcode[1]
    if len(opcode) == 2 and 0xD8 <= opcode[0] <= 0xDF:
        escape, modrm = opcode
        if modrm >= 0xC0:
            if escape in (0xDA, 0xDB) and modrm < 0xE0:
                return 'an FPU conditional move (Pentium Pro)'
            if escape in (0xDB, 0xDF) and 0xE8 <= modrm < 0xF8:
                return 'an FPU compare into flags (Pentium Pro)'
        elif escape in (0xDB, 0xDD, 0xDF) and (modrm >> 3) & 7 == 1:
            return 'fisttp (SSE3)'
    return None


# ---- The check


def check(path, objdump):
    """(problems, summary) for one program; the summary ends in the verdict."""
    with open(path, 'rb') as f:
        pe = Pe(f.read())
    try:
        with open(path + '.map') as f:
            code_map = CodeMap(f.read())
    except OSError as error:
        return ['no linker map beside the program (%s)' % error], ''
    problems = []
    for name, va, _, _ in pe.code_sections:
        if name != '.text':
            problems.append('code section %s: the map describes .text alone' % name)
    text = [s for s in pe.code_sections if s[0] == '.text']
    if not text:
        return problems + ['no .text section'], ''
    _, va, vsize, _ = text[0]
    start, end = pe.image_base + va, pe.image_base + va + vsize
    pieces = code_map.pieces
    if code_map.address != start or not pieces or pieces[-1][0] + pieces[-1][1] != end:
        return problems + ['the map does not describe this program: its .text at 0x%x ends '
                           'at 0x%x, the program\'s at 0x%x ends at 0x%x' % (
                               code_map.address, pieces[-1][0] + pieces[-1][1] if pieces
                               else code_map.address, start, end)], ''
    code = [p for p in pieces if p[3]]
    if pe.image_base + pe.entry_point not in [p[0] for p in code]:
        problems.append('the entry point 0x%x is not the start of a code piece in the map' %
                        (pe.image_base + pe.entry_point))
    count = 0
    for address, size, name, _ in code:
        instructions = decode(objdump, path, address, address + size)
        count += len(instructions)
        for at, code_bytes, insn in instructions:
            why = why_not_386(code_bytes, insn)
            if why:
                problems.append('0x%x %s: %s [%s]: %s' % (at, name, insn, code_bytes.hex(' '),
                                                          why))
        if instructions:
            last_at, last_bytes, _ = instructions[-1]
            if last_at + len(last_bytes) != address + size:
                problems.append('%s: the last instruction runs to 0x%x, past the piece\'s end '
                                'at 0x%x' % (name, last_at + len(last_bytes), address + size))
    data = [p for p in pieces if not p[3]]
    kinds = sorted({p[2] for p in data})
    between = end - start - sum(p[1] for p in pieces)
    summary = ('%d instructions in %d code pieces, %d bytes (.text 0x%x-0x%x); not decoded: '
               '%d bytes of data (%s) and %d bytes between pieces; libgcc members linked: %s'
               % (count, len(code), sum(p[1] for p in code), start, end,
                  sum(p[1] for p in data),
                  ', '.join('%d %s' % (len([p for p in data if p[2] == k]), k) for k in kinds)
                  or 'none', between, ', '.join(code_map.libgcc) or 'none'))
    return problems, summary + '; none a 386 lacks'


# Instructions planted in place of one of the same length, and the word the report must hold.
SELF_TEST_PLANTS = [
    ('a conditional move (cmove %eax,%edx)', bytes.fromhex('0f44d0'), 'cmove'),
    ('cpuid', bytes.fromhex('0fa2'), 'cpuid'),
    ('an MMX register (movq %mm1,%mm0)', bytes.fromhex('0f6fc1'), 'MMX'),
]


def overwrite(data, at, new):
    data[at:at + len(new)] = new


def self_test(path, objdump):
    problems, summary = check(path, objdump)
    if problems:
        report(path, problems, summary)
        return ['the self-test needs a program that passes the check']
    with open(path, 'rb') as f:
        pe = Pe(f.read())
    _, va, _, raw = [s for s in pe.code_sections if s[0] == '.text'][0]
    with open(path + '.map') as f:
        first = [p for p in CodeMap(f.read()).pieces if p[3]][0]
    instructions = decode(objdump, path, first[0], first[0] + first[1])
    faults = []
    for label, plant, word in SELF_TEST_PLANTS:
        # In place of the first instruction of the same length in the first piece.
        address = [i[0] for i in instructions if len(i[1]) == len(plant)][0]
        at = raw + address - pe.image_base - va
        faults.append(('%s at 0x%x' % (label, address), word,
                       functools.partial(overwrite, at=at, new=plant)))
    return notices_damage(path, faults, lambda planted: check(planted, objdump)[0],
                          companions=['.map'])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--objdump', default='i686-w64-mingw32-objdump')
    parser.add_argument('--self-test', action='store_true')
    parser.add_argument('programs', nargs='+')
    options = parser.parse_args()
    if options.self_test:
        failures = self_test(options.programs[0], options.objdump)
        report('check_instructions self-test', failures, 'every plant noticed')
        return 1 if failures else 0
    passed = check_programs(options.programs, lambda path: check(path, options.objdump))
    return 0 if passed else 1


if __name__ == '__main__':
    sys.exit(main())
