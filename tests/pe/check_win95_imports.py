#!/usr/bin/env python3
"""Checks that Windows 95 as first released exports every static import of the programs.

    check_win95_imports.py PROGRAM...
    check_win95_imports.py --self-test PROGRAM

Windows refuses to start a program that imports a name its DLL lacks, before any of the
program's code runs, and Wine shows nothing of it: its loader puts a stub in place. The names
95 exports are in win95-exports/ beside this script, one file per DLL (see its README.md for
the sources); USER32 and GDI32 are our own short lists, each name with its source, and a line
there without a source fails the check. An import by ordinal fails too: ordinals are not
the same from one Windows to the next.

--self-test renames imports in copies of a good setup.exe to names 95 lacks and fails unless
the check notices each one.
"""

import argparse
import functools
import os
import sys

from check_pe import Pe, check_programs, notices_damage, replace_once, report

EXPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'win95-exports')
# Lists of our own, which carry the source of each name on its line.
OWN_LISTS = ('USER32', 'GDI32')


def read_exports(folder):
    """({DLL base name: set of names}, [problems with the lists themselves])."""
    exports, problems = {}, []
    for file_name in sorted(os.listdir(folder)):
        if not file_name.endswith('.txt'):
            continue
        dll = file_name[:-4].upper()
        names = set()
        with open(os.path.join(folder, file_name)) as f:
            for number, line in enumerate(f, 1):
                words = line.split()
                if not words or words[0].startswith('#'):
                    continue
                if dll in OWN_LISTS and len(words) < 2:
                    problems.append('%s line %d: %s has no source' % (file_name, number,
                                                                      words[0]))
                names.add(words[0])
        exports[dll] = names
    return exports, problems


def check(path, exports):
    """(problems, summary) for one program."""
    with open(path, 'rb') as f:
        imports = Pe(f.read()).imports()
    problems, counts = [], []
    for dll, functions in imports:
        base = dll.upper()[:-4] if dll.upper().endswith('.DLL') else dll.upper()
        names = exports.get(base)
        if names is None:
            problems.append('%s: no list of the names Windows 95 exports from it (%s)' % (
                dll, ', '.join(functions)))
            continue
        for function in functions:
            if function.startswith('#'):
                problems.append('%s %s: imported by ordinal' % (dll, function))
            elif function not in names:
                problems.append('%s %s: Windows 95 does not export it; bind it at run time '
                                'with GetProcAddress and handle its absence' % (dll, function))
        counts.append('%s %d' % (base, len(functions)))
    return problems, '%d imports, each exported by Windows 95 (%s)' % (
        sum(len(f) for _, f in imports), ', '.join(counts))


# (what was done, the name in setup.exe, the name put in its place, the word the report must
# hold). The new name is no longer than the old, and NULs fill the rest of its entry.
SELF_TEST_RENAMES = [
    ('a KERNEL32 import from Windows 98', 'GetFileAttributesA', 'GetLongPathNameA',
     'KERNEL32.dll GetLongPathNameA'),
    ('a USER32 import from Windows 98', 'RedrawWindow', 'GetAncestor', 'USER32.dll GetAncestor'),
]


def self_test(path, exports):
    problems, summary = check(path, exports)
    if problems:
        report(path, problems, summary)
        return ['the self-test needs a setup.exe that passes the check']
    faults = []
    for label, old, new, word in SELF_TEST_RENAMES:
        entry = old.encode('ascii') + b'\0'
        faults.append(('%s (%s)' % (label, new), word, functools.partial(
            replace_once, old=entry, new=new.encode('ascii').ljust(len(entry), b'\0'))))
    return notices_damage(path, faults, lambda renamed: check(renamed, exports)[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--self-test', action='store_true')
    parser.add_argument('programs', nargs='+')
    options = parser.parse_args()
    exports, problems = read_exports(EXPORTS)
    if problems:
        report(EXPORTS, problems, '')
        return 1
    if options.self_test:
        failures = self_test(options.programs[0], exports)
        report('check_win95_imports self-test', failures, 'every rename noticed')
        return 1 if failures else 0
    return 0 if check_programs(options.programs, lambda path: check(path, exports)) else 1

if __name__ == '__main__':
    sys.exit(main())
