#!/usr/bin/env python3
"""Checks the built Windows programs as Windows 95 and NT 4 will see them.

    check_pe.py --windres WINDRES setup    path/to/setup.exe
    check_pe.py --windres WINDRES launcher path/to/_zorp.ex_
    check_pe.py --windres WINDRES --self-test path/to/setup.exe

The headers, the import table and the resource directory are read straight from the file;
the dialog and version resources are read back through `windres -O rc`, the way a person
would inspect them. Every difference is reported with what was found and what was expected,
and the exit status is 1 when there is any. --self-test damages copies of a good setup.exe
in known ways and fails unless the check notices each one.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

# DLLs that every Windows 95 and NT 4 machine has. Nothing else may be imported: the programs
# start from the medium before anything is installed.
ALLOWED_DLLS = {'KERNEL32.DLL', 'USER32.DLL', 'GDI32.DLL', 'SHELL32.DLL', 'COMCTL32.DLL',
                'ADVAPI32.DLL'}
# Runtime DLLs that would mean a C or C++ runtime got linked in; named in the message.
RUNTIME_HINTS = ('MSVCRT', 'UCRT', 'API-MS-WIN-CRT', 'LIBGCC', 'LIBSTDC++', 'LIBWINPTHREAD')

RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24
TYPE_NAMES = {1: 'cursor', 2: 'bitmap', 3: 'icon', 4: 'menu', 5: 'dialog', 6: 'string table',
              9: 'accelerators', 12: 'group cursor', 14: 'group icon', 16: 'version',
              24: 'manifest'}
LANG_EN_US = 0x409

# Window styles, for the dialog template.
WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU, WS_GROUP = 0xC00000, 0x800000, 0x80000, 0x20000
DS_MODALFRAME, DS_SETFONT, DS_CENTER = 0x80, 0x40, 0x800
SS_LEFT = 0x0

COMMON_VERSION = {
    'file_version': '4, 0, 306, 1807',
    'product_version': '4, 0, 4117, 1807',
    'strings': {'FileVersion': '4,0,0306,1807', 'ProductVersion': '4,0,4117,1807',
                'PrivateBuild': '4117'},
}

EXPECTED = {
    'setup': {
        'name': 'setup.exe',
        # type -> resource names; None where the names are the resource compiler's choice.
        # The manifest's content is check_manifest.py's concern.
        'resources': {RT_ICON: None, RT_DIALOG: [103], RT_GROUP_ICON: [102], RT_VERSION: [1],
                      RT_MANIFEST: [1]},
        'icon_group': (102, 4),
        'dialog': {
            'id': 103,
            'rect': (0, 0, 175, 61),
            'style': (DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_VISIBLE |
                      WS_CAPTION | WS_SYSMENU),
            'caption': 'Quillo 4.0 Setup',
            'font': (8, 'MS Sans Serif'),
            # (class, text, id, style, x, y, width, height); class names compare as Windows
            # compares them, without regard to case.
            'controls': [
                ('static', 'Please wait while setup copies files to your hard drive.', -1,
                 SS_LEFT | WS_CHILD | WS_VISIBLE | WS_GROUP, 23, 13, 123, 18),
                ('msctls_progress32', 'Progress1', 1000, WS_BORDER | WS_CHILD | WS_VISIBLE,
                 21, 36, 138, 12),
            ],
        },
    },
    'launcher': {
        'name': '_zorp.ex_',
        'resources': {RT_VERSION: [1], RT_MANIFEST: [1]},
    },
}


# ---- The file

IMAGE_SCN_CNT_CODE, IMAGE_SCN_MEM_EXECUTE = 0x20, 0x20000000


class Pe:
    """The parts of a PE file that the checks read."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise ValueError('no MZ header: not a Windows program')
        self.pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        coff = self.pe + 4
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from('<HHIIIHH', data, coff)
        self.opt = coff + 20
        self.magic = struct.unpack_from('<H', data, self.opt)[0]
        # These fields sit at the same offsets in PE32 and PE32+; only the data directories
        # move, behind PE32+'s wider image base and stack and heap sizes.
        self.os_version = struct.unpack_from('<HH', data, self.opt + 40)
        self.subsystem_version = struct.unpack_from('<HH', data, self.opt + 48)
        self.subsystem = struct.unpack_from('<H', data, self.opt + 68)[0]
        self.entry_point = struct.unpack_from('<I', data, self.opt + 16)[0]
        # PE32 only: PE32+ widens the image base to 64 bits at offset 24.
        self.image_base = struct.unpack_from('<I', data, self.opt + 28)[0]
        directories = self.opt + (112 if self.magic == 0x20B else 96)
        self.directories = [struct.unpack_from('<II', data, directories + 8 * i)
                            for i in range(16)]
        self.sections = []
        # (name, address, size in memory, file offset) of the sections Windows may execute.
        self.code_sections = []
        table = self.opt + optional_size
        for i in range(sections):
            name, vsize, va, raw_size, raw = struct.unpack_from('<8sIIII', data, table + 40 * i)
            name = name.rstrip(b'\0').decode('ascii', 'replace')
            self.sections.append((name, va, max(vsize, raw_size), raw))
            flags = struct.unpack_from('<I', data, table + 40 * i + 36)[0]
            if flags & (IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE):
                self.code_sections.append((name, va, vsize, raw))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError('address 0x%x lies in no section' % rva)

    def u16(self, rva):
        return struct.unpack_from('<H', self.data, self.offset(rva))[0]

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b'\0', start)].decode('ascii', 'replace')

    def imports(self):
        """[(dll, [function names])] from the import directory."""
        rva, size = self.directories[1]
        result = []
        if size == 0:
            return result
        pointer = 8 if self.magic == 0x20B else 4
        by_ordinal = 1 << (pointer * 8 - 1)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from('<IIIII', self.data,
                                                            self.offset(rva))
            if name == 0:
                return result
            functions = []
            entry = lookup or thunks
            while True:
                value = struct.unpack_from('<Q' if pointer == 8 else '<I', self.data,
                                           self.offset(entry))[0]
                if value == 0:
                    break
                functions.append('#%d' % (value & 0xFFFF) if value & by_ordinal else
                                 self.cstring(value + 2))
                entry += pointer
            result.append((self.cstring(name), functions))
            rva += 20

    def resources(self):
        """{(type, name, language): data} from the resource directory (numeric ids only;
        a named entry is kept under its name)."""
        base, size = self.directories[2]
        found = {}
        if size == 0:
            return found

        def entries(directory):
            named, numbered = struct.unpack_from('<HH', self.data, self.offset(directory + 12))
            for i in range(named + numbered):
                key, target = struct.unpack_from('<II', self.data,
                                                 self.offset(directory + 16 + 8 * i))
                if key & 0x80000000:
                    length = self.u16(base + (key & 0x7FFFFFFF))
                    start = self.offset(base + (key & 0x7FFFFFFF) + 2)
                    key = self.data[start:start + 2 * length].decode('utf-16-le')
                yield key, target

        for rtype, names in entries(base):
            for name, languages in entries(base + (names & 0x7FFFFFFF)):
                for language, leaf in entries(base + (languages & 0x7FFFFFFF)):
                    data_rva, data_size, _, _ = struct.unpack_from(
                        '<IIII', self.data, self.offset(base + leaf))
                    start = self.offset(data_rva)
                    found[(rtype, name, language)] = self.data[start:start + data_size]
        return found


# ---- Checks: each returns a list of problems, one readable line each.


def check_headers(pe):
    problems = []
    if pe.machine != 0x14C:
        problems.append('machine is 0x%x, expected 0x14c (i386)' % pe.machine)
    if pe.magic != 0x10B:
        problems.append('optional header magic is 0x%x, expected 0x10b (PE32)' % pe.magic)
    if pe.subsystem != 2:
        problems.append('subsystem is %d, expected 2 (Windows GUI)' % pe.subsystem)
    if pe.subsystem_version != (4, 0):
        problems.append('subsystem version is %d.%d, expected 4.0' % pe.subsystem_version)
    if pe.os_version != (4, 0):
        problems.append('operating system version is %d.%d, expected 4.0' % pe.os_version)
    if not pe.characteristics & 0x2:
        problems.append('the file is not marked executable')
    if pe.characteristics & 0x2000:
        problems.append('the file is marked as a DLL')
    if pe.directories[9][1] != 0:
        problems.append('the file has a TLS directory: runtime start-up code was linked in')
    return problems


# The linker always lays out the constructor and destructor lists (-1, entries, 0) in .text.
# Nothing runs them in these programs, which have no C runtime start-up: a global object with
# a constructor would silently stay unconstructed. Both lists must be empty.
EMPTY_CONSTRUCTOR_LISTS = struct.pack('<iIiI', -1, 0, -1, 0)


def check_constructors(pe):
    text = [(raw, size) for name, _, size, raw in pe.sections if name == '.text']
    if not text:
        return ['no .text section']
    raw, size = text[0]
    if EMPTY_CONSTRUCTOR_LISTS not in pe.data[raw:raw + size]:
        return ['the constructor lists in .text are not empty: a global object with a '
                'constructor was linked in, and nothing would run its constructor']
    return []


def check_imports(pe):
    problems = []
    imports = pe.imports()
    if not imports:
        problems.append('no imports at all: ExitProcess from KERNEL32 at least is expected')
    for dll, functions in imports:
        upper = dll.upper()
        hint = [h for h in RUNTIME_HINTS if upper.startswith(h)]
        if hint:
            problems.append('imports %s (%s): a runtime DLL, which a bare Windows 95 lacks'
                            % (dll, ', '.join(functions[:4])))
        elif upper not in ALLOWED_DLLS:
            problems.append('imports %s, which is not one of %s' % (
                dll, ', '.join(sorted(ALLOWED_DLLS))))
        if not functions:
            problems.append('imports nothing from %s, yet names it' % dll)
    names = [dll.upper() for dll, _ in imports]
    if len(set(names)) != len(names):
        problems.append('a DLL appears twice in the import table: %s' % ', '.join(names))
    return problems


def check_resource_directory(resources, expected):
    problems = []
    types = {}
    for rtype, name, language in resources:
        types.setdefault(rtype, []).append(name)
        if language != LANG_EN_US:
            problems.append('%s %s has language 0x%x, expected 0x409 (U.S. English)' % (
                TYPE_NAMES.get(rtype, rtype), name, language))
    for rtype in sorted(set(types) | set(expected), key=str):
        label = TYPE_NAMES.get(rtype, 'type %s' % rtype)
        if rtype not in expected:
            problems.append('unexpected %s resource(s): %s' % (label, types[rtype]))
        elif rtype not in types:
            problems.append('no %s resource' % label)
        elif expected[rtype] is not None and sorted(types[rtype]) != expected[rtype]:
            problems.append('%s resources are %s, expected %s' % (
                label, sorted(types[rtype]), expected[rtype]))
    return problems


def check_icon_group(resources, group_id, image_count):
    problems = []
    group = [data for (rtype, name, _), data in resources.items()
             if rtype == RT_GROUP_ICON and name == group_id]
    if not group:
        return ['no icon group %d' % group_id]
    data = group[0]
    _, kind, count = struct.unpack_from('<HHH', data, 0)
    if kind != 1 or count != image_count:
        problems.append('icon group %d has %d images (type %d), expected %d icons' % (
            group_id, count, kind, image_count))
    icons = {name: image for (rtype, name, _), image in resources.items() if rtype == RT_ICON}
    formats = set()
    for i in range(count):
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from(
            '<BBBBHHIH', data, 6 + 14 * i)
        width, height = width or 256, height or 256
        image = icons.get(icon_id)
        if image is None:
            problems.append('icon group %d names icon %d, which is missing' % (group_id, icon_id))
            continue
        if len(image) != size:
            problems.append('icon %d has %d bytes, its group entry says %d' % (
                icon_id, len(image), size))
        header, image_width, image_height, _, image_bits = struct.unpack_from('<IiiHH', image)
        if (header, image_width, image_height, image_bits) != (40, width, 2 * height, bits):
            problems.append('icon %d is %dx%d at %d bits, its group entry says %dx%d at %d' % (
                icon_id, image_width, image_height // 2, image_bits, width, height, bits))
        formats.add((width, height, bits))
    if len(formats) != count:
        problems.append('icon group %d repeats an image format: %s' % (group_id,
                                                                      sorted(formats)))
    return problems


# ---- Dialog and version, as windres writes them back


def split_arguments(text):
    """'"a, b", 1, 0x2' -> ['a, b', 1, 2]: quoted strings and numbers."""
    values = []
    for match in re.finditer(r'\s*("(?:[^"]|"")*"|[^,]+)\s*(?:,|$)', text):
        token = match.group(1).strip()
        if token.startswith('"'):
            values.append(token[1:-1].replace('""', '"'))
        elif token:
            values.append(int(token.rstrip('lL'), 0))
    return values


def resource_block(rc, header):
    """The lines of the resource statement that starts with `header`, through its END."""
    lines = rc.splitlines()
    for i, line in enumerate(lines):
        if line.startswith(header):
            block, depth = [line], 0
            for following in lines[i + 1:]:
                block.append(following)
                if following.strip() == 'BEGIN':
                    depth += 1
                elif following.strip() == 'END':
                    depth -= 1
                    if depth == 0:
                        return block
            return block
    return None


def check_dialog(rc, expected):
    problems = []
    block = resource_block(rc, '%d DIALOG' % expected['id'])
    if block is None:
        return ['no classic DIALOG template %d in the decompiled resources' % expected['id']]
    header = block[0].split(None, 2)
    if header[1] != 'DIALOG':
        problems.append('dialog %d is a %s, expected a DIALOG template' % (expected['id'],
                                                                           header[1]))
    rect = tuple(split_arguments(header[2]))
    if rect != expected['rect']:
        problems.append('dialog %d is at %s, expected %s (x, y, width, height)' % (
            expected['id'], rect, expected['rect']))
    statements = {}
    controls = []
    inside = False
    for line in block[1:]:
        stripped = line.strip()
        if stripped == 'BEGIN':
            inside = True
        elif stripped == 'END' or not stripped:
            continue
        elif inside:
            keyword, arguments = stripped.split(None, 1)
            controls.append(parse_control(keyword, split_arguments(arguments)))
        else:
            keyword, arguments = stripped.split(None, 1)
            statements[keyword] = split_arguments(arguments)
    style = statements.pop('STYLE', [None])[0]
    if style != expected['style']:
        problems.append('dialog style is %s, expected 0x%08x' % (
            'missing' if style is None else '0x%08x' % style, expected['style']))
    caption = statements.pop('CAPTION', [None])[0]
    if caption != expected['caption']:
        problems.append('dialog caption is %r, expected %r' % (caption, expected['caption']))
    font = tuple(statements.pop('FONT', [])[:2])
    if font != expected['font']:
        problems.append('dialog font is %r, expected %r' % (font, expected['font']))
    for keyword in statements:
        problems.append('dialog has an unexpected %s statement' % keyword)
    if len(controls) != len(expected['controls']):
        problems.append('dialog has %d controls, expected %d' % (len(controls),
                                                                  len(expected['controls'])))
    for found, wanted in zip(controls, expected['controls']):
        comparable = (found[0].lower(),) + found[1:]
        if comparable != wanted:
            problems.append('control %s differs:\n      found    %r\n      expected %r' % (
                wanted[2], comparable, wanted))
    return problems


def parse_control(keyword, arguments):
    """(class, text, id, style, x, y, width, height) from a windres control statement."""
    if keyword == 'CONTROL':
        text, control_id, window_class, style, x, y, width, height = arguments[:8]
    else:
        # LTEXT and the like: a static control, the style last, defaulted when omitted.
        defaults = {'LTEXT': SS_LEFT | WS_CHILD | WS_VISIBLE | WS_GROUP}
        text, control_id, x, y, width, height = arguments[:6]
        style = arguments[6] if len(arguments) > 6 else defaults.get(keyword, 0)
        window_class = 'static' if keyword in ('LTEXT', 'CTEXT', 'RTEXT') else keyword
        if keyword == 'CTEXT':
            style |= 0x1
        elif keyword == 'RTEXT':
            style |= 0x2
    if control_id == 0xFFFF:
        control_id = -1
    return (window_class, text, control_id, style, x, y, width, height)


def check_version(rc, file_name):
    problems = []
    block = resource_block(rc, '1 VERSIONINFO')
    if block is None:
        return ['no version resource 1 in the decompiled resources']
    text = '\n'.join(block)
    for statement, key in (('FILEVERSION', 'file_version'),
                           ('PRODUCTVERSION', 'product_version')):
        match = re.search(r'^\s*%s (.*)$' % statement, text, re.M)
        found = match.group(1).strip() if match else None
        if found != COMMON_VERSION[key]:
            problems.append('%s is %s, expected %s' % (statement, found, COMMON_VERSION[key]))
    blocks = re.findall(r'BLOCK "([0-9a-fA-F]{8})"', text)
    if blocks != ['040904b0']:
        problems.append('string blocks are %s, expected only "040904b0"' % blocks)
    values = dict(re.findall(r'VALUE "(\w+)", "((?:[^"]|"")*)"', text))
    wanted = dict(COMMON_VERSION['strings'], InternalName=file_name,
                  OriginalFilename=file_name)
    for key, value in sorted(wanted.items()):
        if values.get(key) != value:
            problems.append('version string %s is %r, expected %r' % (key, values.get(key),
                                                                      value))
    translation = re.search(r'VALUE "Translation", (.*)$', text, re.M)
    found = split_arguments(translation.group(1)) if translation else None
    if found != [0x409, 1200]:
        problems.append('Translation is %s, expected 0x409, 1200' % found)
    return problems


# ---- Driver


def decompile(windres, path):
    result = subprocess.run([windres, '-i', path, '-O', 'rc'], capture_output=True, text=True)
    if result.returncode != 0:
        raise ValueError('%s could not read the resources: %s' % (windres,
                                                                 result.stderr.strip()))
    return result.stdout


def check(kind, path, windres):
    expected = EXPECTED[kind]
    problems = []
    try:
        with open(path, 'rb') as f:
            pe = Pe(f.read())
        problems += check_headers(pe) + check_constructors(pe) + check_imports(pe)
        resources = pe.resources()
        problems += check_resource_directory(resources, expected['resources'])
        if 'icon_group' in expected:
            problems += check_icon_group(resources, *expected['icon_group'])
        rc = decompile(windres, path)
        if 'dialog' in expected:
            problems += check_dialog(rc, expected['dialog'])
        problems += check_version(rc, expected['name'])
    except (OSError, ValueError, struct.error) as error:
        problems.append('cannot be read: %s' % error)
    return problems


def report(path, problems, summary=None):
    """Prints the verdict on one file: its problems, or ok with what was seen."""
    if problems:
        print('FAIL %s' % path)
        for problem in problems:
            print('  - ' + problem)
    else:
        print('ok   %s%s' % (path, ': ' + summary if summary else ''))


def check_programs(paths, check_one):
    """Reports check_one(path) -> (problems, summary) on each file; True when all pass."""
    passed = True
    for path in paths:
        try:
            problems, summary = check_one(path)
        except (OSError, ValueError) as error:
            problems, summary = ['cannot be read: %s' % error], None
        report(path, problems, summary)
        passed = passed and not problems
    return passed


def notices_damage(path, faults, check_copy, companions=()):
    """Damages copies of the good file at `path`, one for each (label, word, damage) in
    `faults` (damage changes a bytearray of the file in place), and runs check_copy(copy) ->
    problems on each; files path + suffix, for each suffix in `companions`, go beside each
    copy. Returns a line for each damage whose problems lack its word."""
    with open(path, 'rb') as f:
        good = f.read()
    failures = []
    work = tempfile.mkdtemp(prefix='check_pe_')
    try:
        for label, word, damage in faults:
            data = bytearray(good)
            damage(data)
            damaged = os.path.join(work, os.path.basename(path))
            with open(damaged, 'wb') as f:
                f.write(data)
            for suffix in companions:
                shutil.copyfile(path + suffix, damaged + suffix)
            problems = check_copy(damaged)
            if any(word in problem for problem in problems):
                print('ok   noticed %s' % label)
            else:
                failures.append('%s went unnoticed (report: %s)' % (label, problems or 'none'))
    finally:
        shutil.rmtree(work)
    return failures


# Damage done to a copy of a good setup.exe, and a word the check must use about it.
def patch_word(data, offset, value):
    data[offset:offset + 2] = struct.pack('<H', value)


def replace_once(data, old, new):
    at = data.find(old)
    if at < 0:
        raise ValueError('%r not found in the file' % old)
    data[at:at + len(old)] = new


SELF_TEST_FAULTS = [
    # (what was done, the word the report must contain, the damage)
    ('console subsystem', 'subsystem is 3',
     lambda pe, d: patch_word(d, pe.opt + 68, 3)),
    ('operating system version 5.0', 'operating system version',
     lambda pe, d: patch_word(d, pe.opt + 40, 5)),
    ('x86_64 machine', 'machine',
     lambda pe, d: patch_word(d, pe.pe + 4, 0x8664)),
    ('a global constructor', 'constructor lists',
     lambda pe, d: replace_once(d, EMPTY_CONSTRUCTOR_LISTS,
                                struct.pack('<iIIi', -1, 0x401000, 0, -1))),
    ('a C runtime import', 'MSVCRT',
     lambda pe, d: replace_once(d, b'USER32.dll\0', b'MSVCRT.dll\0')),
    ('a changed caption', 'caption',
     lambda pe, d: replace_once(d, 'Quillo 4.0 Setup'.encode('utf-16-le'),
                                'Quillo 4.1 Setup'.encode('utf-16-le'))),
    ('a changed file version string', 'FileVersion',
     lambda pe, d: replace_once(d, '4,0,0306,1807'.encode('utf-16-le'),
                                '4,0,0307,1807'.encode('utf-16-le'))),
    ('a moved progress bar', 'control 1000',
     lambda pe, d: replace_once(d, struct.pack('<hhhhH', 21, 36, 138, 12, 1000),
                                struct.pack('<hhhhH', 22, 36, 138, 12, 1000))),
]


def self_test(path, windres):
    baseline = check('setup', path, windres)
    if baseline:
        report(path, baseline)
        return ['the self-test needs a setup.exe that passes the check']
    with open(path, 'rb') as f:
        pe = Pe(f.read())
    faults = [(label, word, lambda data, damage=damage: damage(pe, data))
              for label, word, damage in SELF_TEST_FAULTS]
    return notices_damage(path, faults, lambda damaged: check('setup', damaged, windres))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--windres', default='i686-w64-mingw32-windres')
    parser.add_argument('--self-test', action='store_true')
    parser.add_argument('args', nargs='+', help='KIND PATH, or PATH with --self-test')
    options = parser.parse_args()
    if options.self_test:
        problems = self_test(options.args[0], options.windres)
        report('check_pe self-test', problems)
    else:
        if len(options.args) != 2 or options.args[0] not in EXPECTED:
            parser.error('give KIND (%s) and PATH' % ' or '.join(EXPECTED))
        problems = check(options.args[0], options.args[1], options.windres)
        report(options.args[1], problems)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
