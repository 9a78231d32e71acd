#!/usr/bin/env python3
"""Checks the application manifest of each built program, as Windows reads it.

    check_manifest.py setup    path/to/setup.exe
    check_manifest.py launcher path/to/_zorp.ex_

The manifest (resource type 24, id 1) is taken from the program's resources and parsed with
Python's XML parser. Vista and later read it; 95 to 2000 ignore it. What matters:

- the execution level: setup requires an administrator, the launcher runs as its invoker
  and so inherits setup's token (one that asked for elevation could not be started by an
  unelevated setup: error 740);
- trustInfo declares one namespace, urn:schemas-microsoft-com:asm.v3, and no other in or
  under it: XP SP2 and Server 2003 restart on two declarations there, and XP reports a bad
  configuration for asm.v1;
- supportedOS names Vista, 7, 8, 8.1 and 10/11, and nothing else;
- no dpiAware (the dialog's bitmap font would clip when scaled) and no dependency at all,
  so no common controls 6 (the progress bar keeps its look).
"""

import io
import sys
import xml.etree.ElementTree as ElementTree

from check_pe import Pe, RT_MANIFEST, check_programs

ASM_V1 = 'urn:schemas-microsoft-com:asm.v1'
ASM_V3 = 'urn:schemas-microsoft-com:asm.v3'
COMPATIBILITY = 'urn:schemas-microsoft-com:compatibility.v1'
SUPPORTED_OS = {
    '{e2011457-1546-43c5-a5fe-008deee3d3f0}': 'Vista',
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}': '7',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}': '8',
    '{1f676c76-80e1-4239-95bb-83d0f6d0da78}': '8.1',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}': '10 and 11',
}
LEVELS = {'setup': 'requireAdministrator', 'launcher': 'asInvoker'}


def local(tag):
    return tag.rsplit('}', 1)[-1]


def parse(data):
    """(root element, {element: [(prefix, uri) declared on it]})."""
    declared, pending, root = {}, [], None
    for event, item in ElementTree.iterparse(io.BytesIO(data), events=('start-ns', 'start')):
        if event == 'start-ns':
            pending.append(item)
        else:
            root = item if root is None else root
            declared[item], pending = pending, []
    return root, declared


def check(kind, path):
    with open(path, 'rb') as f:
        resources = Pe(f.read()).resources()
    manifests = [data for (rtype, name, _), data in resources.items()
                 if rtype == RT_MANIFEST and name == 1]
    if len(manifests) != 1:
        return ['%d manifests with id 1, expected one' % len(manifests)]
    data = manifests[0]
    try:
        root, declared = parse(data)
    except ElementTree.ParseError as error:
        return ['the manifest is not well-formed XML: %s' % error]
    problems = []
    if not data.startswith(b'<?xml version="1.0" encoding="UTF-8"'):
        problems.append('the manifest does not begin with an XML declaration of UTF-8')
    if root.tag != '{%s}assembly' % ASM_V1 or root.get('manifestVersion') != '1.0':
        problems.append('the root is %s, manifestVersion %s; expected assembly in %s, 1.0' % (
            root.tag, root.get('manifestVersion'), ASM_V1))

    trust = [e for e in root if local(e.tag) == 'trustInfo']
    if len(trust) != 1:
        problems.append('%d trustInfo elements under assembly, expected one' % len(trust))
    else:
        declarations = [d for element in trust[0].iter() for d in declared[element]]
        if declarations != [('', ASM_V3)]:
            problems.append('trustInfo and what it holds declare %s; expected only the '
                            'default namespace %s' % (declarations, ASM_V3))
        levels = [e for e in trust[0].iter() if local(e.tag) == 'requestedExecutionLevel']
        path_tags = ['{%s}%s' % (ASM_V3, t) for t in ('security', 'requestedPrivileges',
                                                      'requestedExecutionLevel')]
        found = trust[0].find('/'.join(path_tags))
        if len(levels) != 1 or found is None:
            problems.append('expected one requestedExecutionLevel in trustInfo/security/'
                            'requestedPrivileges (asm.v3), found %d' % len(levels))
        else:
            level = (found.get('level'), found.get('uiAccess'))
            if level != (LEVELS[kind], 'false'):
                problems.append('execution level %s, uiAccess %s; expected %s, false' % (
                    level + (LEVELS[kind],)))

    found_os = [e.get('Id') for e in root.findall(
        '{%s}compatibility/{%s}application/{%s}supportedOS' % ((COMPATIBILITY,) * 3))]
    if sorted(found_os) != sorted(SUPPORTED_OS):
        problems.append('supportedOS %s; expected once each %s' % (
            [SUPPORTED_OS.get(i, i) for i in found_os], sorted(SUPPORTED_OS.values())))

    for element in root.iter():
        if local(element.tag) in ('dpiAware', 'dpiAwareness', 'dependency'):
            problems.append('the manifest holds %s' % local(element.tag))
    return problems


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in LEVELS:
        print('usage: check_manifest.py setup|launcher PROGRAM', file=sys.stderr)
        return 2
    kind, path = sys.argv[1:]
    summary = '%s, trustInfo in %s alone, supportedOS %s' % (
        LEVELS[kind], ASM_V3, ', '.join(SUPPORTED_OS.values()))
    return 0 if check_programs([path], lambda path: (check(kind, path), summary)) else 1


if __name__ == '__main__':
    sys.exit(main())
