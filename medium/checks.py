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
# A Joliet path holds 240 bytes, two a character: 120 characters as Windows writes the path
# from the root of the CD, each backslash counted, the first one too (\Init\Clock: 11).
JOLIET_PATH_LIMIT = 120
NOT_IN_WINDOWS_NAMES = set('<>:"/\\|?*') | {chr(code) for code in range(32)}
# Windows opens the device, not the file, for these names, whatever follows a dot.
DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{port}{digit}" for port in ("COM", "LPT")
                                                for digit in "123456789"}
D_CHARACTERS = set("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_")
ISO_NAME_LIMIT = 31  # characters of a name in the writer's ISO 9660 tree (level 2)


def _is_8_3(name, folder):
    """What an ISO 9660 reader without Joliet shows unaltered, but for upper case, which
    Windows matches anyway: up to 8 characters, and for a file a dot and up to 3 more."""
    base, dot, extension = name.upper().partition(".")
    if folder and dot:
        return False
    return (0 < len(base) <= 8 and len(extension) <= 3 and "." not in extension
            and set(base + extension) <= D_CHARACTERS)


def _d_characters(text):
    return "".join(character if character in D_CHARACTERS else "_" for character in text)


def iso_name(name, folder):
    """The name the writer gives an entry in the ISO 9660 tree, which readers without Joliet
    show (unless it clashes with another entry's, when both get numbered names): in capitals,
    other characters than A-Z, 0-9 and _ as _, cut to 31 characters, shortening the extension
    first down to three; a file's name keeps one dot, before its extension, or at its end."""
    upper = name.upper()
    if folder:
        return _d_characters(upper[:ISO_NAME_LIMIT])
    base, dot, extension = upper.rpartition(".")
    if not dot or not extension:
        return _d_characters(upper[:ISO_NAME_LIMIT - 1]) + "."
    if len(upper) > ISO_NAME_LIMIT:
        if len(extension) > 3:
            extension = extension[:ISO_NAME_LIMIT - 1 - len(base) if len(base) < 27 else 3]
        base = base[:ISO_NAME_LIMIT - 1 - len(extension)]
    return f"{_d_characters(base)}.{_d_characters(extension)}"


def _name_problem(name):
    if any(ord(character) > 126 for character in name):
        return "has characters outside ASCII, which Windows 95/98 may not read from a CD"
    if len(name) > JOLIET_NAME_LIMIT:
        return f"has {len(name)} characters, more than Joliet's {JOLIET_NAME_LIMIT}"
    if set(name) & NOT_IN_WINDOWS_NAMES or name.endswith((" ", ".")):
        return "is not a name Windows can open"
    if name.split(".")[0].rstrip(" ").upper() in DEVICE_NAMES:
        return "is a device's name, which Windows opens instead of the file"
    if ";" in name:
        return "has a ';', which Joliet cannot carry"
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


def _path_problem(path):
    length = len(path) + 1  # Windows writes it from the root: \\Init\\Clock
    if length > JOLIET_PATH_LIMIT:
        return (f"is a path too long: {length} characters, more than the {JOLIET_PATH_LIMIT} "
                "of a Joliet path")
    return None


def check_names(medium, rows, report):
    """Names the CD carries to Windows as they are: within Joliet's limits, legal in Windows,
    one per folder without regard to case; the manifest's rows under their own ISO 9660 names
    too. The names that a reader without Joliet shows otherwise are warned about."""
    errors, not_8_3 = [], []
    siblings, iso_siblings = defaultdict(list), defaultdict(list)
    entries = [(path, False) for path in medium.files] + [(path, True) for path in medium.dirs]
    for path, folder in sorted(entries):
        parent, _, name = path.rpartition("/")
        siblings[(parent, name.upper())].append(path)
        problem = _name_problem(name) or _path_problem(path)
        if problem:
            errors.append(f"the name {windows_name(path)} {problem}")
            continue
        iso_siblings[(parent, iso_name(name, folder))].append((path, folder))
        if not _is_8_3(name, folder):
            not_8_3.append((path, folder))
    for paths in siblings.values():
        if len(paths) > 1:
            errors.append(f"{listing(paths)} differ only in letter case: Windows reaches one")
    rows = {row.replace("\\", "/").upper() for row in rows}
    shown = {path: iso_name(path.rpartition("/")[2], folder) for path, folder in not_8_3}
    for (_, name), clashing in iso_siblings.items():
        paths = [path for path, _ in clashing]
        if len({path.upper() for path in paths}) < 2:
            continue  # one name in several cases: an error above already
        # The writer numbers every name of the clash, a manifest row's too.
        shown.update((path, f"a numbered {name}") for path in paths)
        taken = [path for path in paths if path.upper() in rows]
        if taken:
            others = [path for path in paths if path not in taken]
            errors.append(f"{listing(others)} would take the ISO 9660 name {name} of the "
                          f"manifest row {listing(taken)}, which a reader without Joliet "
                          "then does not find: rename it")
    if shown:
        report.warn("not 8.3: Windows reads the Joliet names; a reader without Joliet shows "
                    + listing([f"{path} as {shown[path]}" for path in sorted(shown)]))
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
