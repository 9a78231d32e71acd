"""Lays out the medium: the publisher's payload, setup.exe at the root and the launcher as
Init\\_zorp.ex_ from the build, and AUTORUN.INF unless the payload brings its own. Nothing is
copied: the layout names the host file behind every file of the medium, which is what the
image writer maps and what the read-back compares against.

Windows matches names without regard to case, so a payload file that Windows would take for
setup.exe or the launcher, in whatever case, gives way to the build's; one that it would take
for AUTORUN.INF is kept."""
import os
import stat

from report import MediumError, windows_name

SETUP = "setup.exe"
LAUNCHER = "_zorp.ex_"
INIT = "Init"
AUTORUN = "AUTORUN.INF"
# Inserting the disc starts setup, with setup's own icon. CR LF, as Windows writes INF files.
AUTORUN_TEXT = b"[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\n"


class Medium:
    def __init__(self, payload):
        self.payload = payload
        # Medium path ("Init/Clock") of every file, and the host file that fills it.
        self.files = {}
        self.dirs = set()
        # Payload files that give way to the build's, and the files added over the payload.
        self.replaced = []
        self.added = {}
        self.payload_bytes = 0
        # The payload's folders as (device, inode), links followed: no image goes into one.
        self.folder_ids = set()
        self.autorun = ""  # "written", "kept" (the payload's) or "left out"

    def from_payload(self, path):
        return path not in self.added


def _walk(host, medium_dir, medium, ancestors):
    try:
        with os.scandir(host) as entries:
            names = sorted(entry.name for entry in entries)
    except OSError as error:
        raise MediumError(f"cannot read payload folder {host}: {error.strerror}") from None
    for name in names:
        path = os.path.join(host, name)
        inside = f"{medium_dir}/{name}" if medium_dir else name
        try:
            info = os.stat(path)  # follows links: the writer takes what a link points to
        except OSError as error:
            raise MediumError(f"cannot read payload file {path}: {error.strerror}") from None
        if stat.S_ISDIR(info.st_mode):
            if (info.st_dev, info.st_ino) in ancestors:
                raise MediumError(f"payload folder {path} links back to a folder that holds it")
            medium.dirs.add(inside)
            medium.folder_ids.add((info.st_dev, info.st_ino))
            _walk(path, inside, medium, ancestors | {(info.st_dev, info.st_ino)})
        elif stat.S_ISREG(info.st_mode):
            try:
                with open(path, "rb"):
                    pass
            except OSError as error:
                raise MediumError(f"cannot read payload file {path}: {error.strerror}") from None
            medium.files[inside] = path
            medium.payload_bytes += info.st_size
        else:
            raise MediumError(f"payload entry {path} is neither a file nor a folder")


def read_payload(folder):
    """The payload's files and folders, checked readable before anything is written."""
    if not os.path.exists(folder):
        raise MediumError(f"payload folder {folder} does not exist")
    if not os.path.isdir(folder):
        raise MediumError(f"payload {folder} is not a folder")
    root = os.path.abspath(folder)
    medium = Medium(payload=root)
    info = os.stat(root)
    medium.folder_ids.add((info.st_dev, info.st_ino))
    _walk(root, "", medium, {(info.st_dev, info.st_ino)})
    return medium


def _same_name(path, wanted):
    return path.upper() == wanted.upper()


def _place(medium, wanted, host):
    """Puts host on the medium as wanted; payload files of that name in another case give way."""
    for path in sorted(medium.files):
        if _same_name(path, wanted):
            del medium.files[path]
            medium.replaced.append(path)
    medium.files[wanted] = host
    medium.added[wanted] = host


def lay_out(medium, programs, autorun_file):
    """Adds the build's programs and, given autorun_file (a scratch path), AUTORUN.INF."""
    for path in medium.dirs:
        if _same_name(path, SETUP) or _same_name(path, f"{INIT}/{LAUNCHER}"):
            raise MediumError(f"the payload holds a folder {windows_name(path)}, where the "
                              "build's program goes")
    _place(medium, SETUP, programs.setup)
    # Into the payload's Init folder, in whatever case it is; Windows finds it all the same.
    init = next((path for path in sorted(medium.dirs) if _same_name(path, INIT)), INIT)
    medium.dirs.add(init)
    _place(medium, f"{init}/{LAUNCHER}", programs.launcher)
    if any(_same_name(path, AUTORUN) for path in medium.files):
        medium.autorun = "kept"
    elif autorun_file is None:
        medium.autorun = "left out"
    elif any(_same_name(path, AUTORUN) for path in medium.dirs):
        # A folder of that name keeps Windows from starting anything: kept with --no-autorun.
        folder = next(path for path in sorted(medium.dirs) if _same_name(path, AUTORUN))
        raise MediumError(f"the payload holds a folder {folder}, where {AUTORUN} goes: remove "
                          "it, or give --no-autorun")
    else:
        with open(autorun_file, "wb") as out:
            out.write(AUTORUN_TEXT)
        medium.files[AUTORUN] = autorun_file
        medium.added[AUTORUN] = autorun_file
        medium.autorun = "written"
    return medium
