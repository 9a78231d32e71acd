"""Reads the written image back with isoinfo, a reader independent of the writer, under the
Joliet names that Windows reads: the image must hold exactly the medium's folders and files,
each byte for byte equal to the host file it was laid out from.

isoinfo lists the Joliet tree once, with each file's size and the block where its bytes start;
the bytes are then compared where isoinfo says they are, all through one mapping of the image,
rather than through one isoinfo process per file."""
import mmap
import os
import re
import subprocess

from report import MediumError, listing

BLOCK = 2048
CHUNK = 1 << 20
# isoinfo -l: "----------   0    0    0   17920 Jan  1 2000 [  28243 00]  setup.exe ", a "d"
# first for a folder; the name follows the block number and flags, and a blank ends the line.
ENTRY = re.compile(r"^([-d])\S*\s+\d+\s+\d+\s+\d+\s+(\d+)\s+\S+\s+\d+\s+\d+\s+"
                   r"\[\s*(\d+)\s+[0-9a-fA-F]+\]  (.*) $")
FOLDER = re.compile(r"^Directory listing of /(.*)$")


def _tree(image):
    """The folders, and the files with their (first block, size), as isoinfo reads them."""
    try:
        listed = subprocess.run(["isoinfo", "-J", "-l", "-i", image], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, errors="replace")
    except FileNotFoundError:
        raise MediumError("isoinfo is not installed (scripts/install-deps.sh installs it)") \
            from None
    if listed.returncode != 0:
        raise MediumError("isoinfo cannot read the image's Joliet tree")
    folders, files, folder = set(), {}, None
    for line in listed.stdout.splitlines():
        heading = FOLDER.match(line)
        if heading:
            folder = heading.group(1)
            continue
        entry = ENTRY.match(line)
        if entry is None or folder is None or entry.group(4) in (".", ".."):
            continue
        path = folder + entry.group(4)
        if entry.group(1) == "d":
            folders.add(path)
        else:
            files[path] = (int(entry.group(3)), int(entry.group(2)))
    return folders, files


def _equal(view, place, host):
    block, size = place
    start = block * BLOCK
    if start + size > len(view) or os.path.getsize(host) != size:
        return False
    with open(host, "rb") as source:
        for offset in range(0, size, CHUNK):
            part = source.read(CHUNK)
            if part != view[start + offset:start + offset + len(part)] or not part:
                return False
    return True


def verify(image, medium):
    """Returns the number of files compared; raises when the image is not the medium."""
    folders, files = _tree(image)
    names = folders | set(files)
    expected = set(medium.files) | medium.dirs
    if names != expected:
        problems = []
        if expected - names:
            problems.append(f"missing {listing(sorted(expected - names))}")
        if names - expected:
            problems.append(f"unexpected {listing(sorted(names - expected))}")
        raise MediumError(f"the image read back holds other names: {'; '.join(problems)}")
    with open(image, "rb") as opened, mmap.mmap(opened.fileno(), 0, access=mmap.ACCESS_READ) \
            as view:
        differing = [path for path, host in sorted(medium.files.items())
                     if not _equal(view, files[path], host)]
    if differing:
        raise MediumError(f"the image read back differs in {listing(differing)}")
    return len(medium.files)
