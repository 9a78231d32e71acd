"""Checks the laid-out medium before it becomes an image: the manifest's rows present as
Windows finds them (without regard to case), names that a CD can carry to Windows, and a size
that fits on a CD. Problems that would break the installation are errors and stop the build;
the rest is reported."""
import os
from collections import defaultdict

from report import MediumError, grouped, listing, windows_name

SECTOR = 2048
CD_WARNING_BYTES = 650 * 1024 * 1024  # a 74-minute disc
CD_LIMIT_BYTES = 737_280_000  # an 80-minute disc: 360,000 sectors
JOLIET_NAME_LIMIT = 64  # UCS-2 characters
NOT_IN_WINDOWS_NAMES = set('<>:"/\\|?*') | {chr(code) for code in range(32)}
D_CHARACTERS = set("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_")


def _is_8_3(name, folder):
    """What an ISO 9660 reader without Joliet shows unaltered, but for upper case, which
    Windows matches anyway: up to 8 characters, and for a file a dot and up to 3 more."""
    base, dot, extension = name.upper().partition(".")
    if folder and dot:
        return False
    return (0 < len(base) <= 8 and len(extension) <= 3 and "." not in extension
            and set(base + extension) <= D_CHARACTERS)


def _name_problem(name):
    if any(ord(character) > 126 for character in name):
        return "has characters outside ASCII, which Windows 95/98 may not read from a CD"
    if len(name) > JOLIET_NAME_LIMIT:
        return f"has {len(name)} characters, more than Joliet's {JOLIET_NAME_LIMIT}"
    if set(name) & NOT_IN_WINDOWS_NAMES or name.endswith((" ", ".")):
        return "is not a name Windows can open"
    return None


def check_manifest(medium, rows, report):
    """Every row present as Windows finds it; rows in another case and other files reported."""
    by_upper = {path.upper(): path for path in medium.files}
    found, other_case, missing = [], [], []
    for row in rows:
        path = row.replace("\\", "/")
        if path in medium.files:
            found.append(path)
        elif path.upper() in by_upper:
            found.append(by_upper[path.upper()])
            other_case.append(by_upper[path.upper()])
        else:
            missing.append(row)
    report.line("manifest", f"{len(rows) - len(missing)} of {len(rows)} rows found")
    if other_case:
        report.line("in another case", f"{len(other_case)} rows, kept as they are: "
                    f"{listing(other_case)}")
    others = sorted(path for path in medium.files
                    if path not in found and medium.from_payload(path))
    report.line("other files", f"{len(others)}: {listing(others)}" if others else "none")
    for row in missing:
        report.error(f"missing row {row}")
    if missing:
        raise MediumError(f"{len(missing)} of the {len(rows)} manifest rows are missing; "
                          "no image written")


def check_names(medium, report):
    """Names the CD carries to Windows as they are: within Joliet's limit, legal in Windows,
    one per folder without regard to case; names that are not 8.3 are warned about."""
    errors, not_8_3 = [], []
    siblings = defaultdict(list)
    entries = [(path, False) for path in medium.files] + [(path, True) for path in medium.dirs]
    for path, folder in sorted(entries):
        parent, _, name = path.rpartition("/")
        siblings[(parent, name.upper())].append(path)
        problem = _name_problem(name)
        if problem:
            errors.append(f"the name {windows_name(path)} {problem}")
        elif not _is_8_3(name, folder):
            not_8_3.append(path)
    for paths in siblings.values():
        if len(paths) > 1:
            errors.append(f"{listing(paths)} differ only in letter case: Windows reaches one")
    if not_8_3:
        report.warn(f"not 8.3, so a reader without Joliet shows other names: "
                    f"{listing(not_8_3)}")
    for error in errors:
        report.error(error)
    if errors:
        raise MediumError(f"{len(errors)} name(s) cannot go on the CD; no image written")


def check_files_fit(medium):
    """Before writing: the files alone, a sector each at least, must fit on an 80-minute CD."""
    need = sum(-(-os.path.getsize(host) // SECTOR) * SECTOR for host in medium.files.values())
    if need > CD_LIMIT_BYTES:
        raise MediumError(f"the medium's files need {grouped(need)} bytes, more than an "
                          f"80-minute CD holds ({grouped(CD_LIMIT_BYTES)}); no image written")


def check_image_size(size, report):
    """After writing: the image itself against a CD."""
    if size > CD_LIMIT_BYTES:
        raise MediumError(f"the image has {grouped(size)} bytes, more than an 80-minute CD "
                          f"holds ({grouped(CD_LIMIT_BYTES)}); no image written")
    if size > CD_WARNING_BYTES:
        report.warn(f"the image has {grouped(size)} bytes, more than a 650 MiB (74-minute) "
                    "CD holds: it needs an 80-minute disc")
