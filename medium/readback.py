"""Reads the image back, under the Joliet names that Windows reads: the image must hold exactly
the medium's folders and files, each byte for byte equal to the host file it was laid out from.

The image is read as the writer writes it, from its first byte to its last: its volume
descriptors and folders come first, so the place of every file is known before its bytes
arrive; each file is compared as they do, and the image's SHA-256 taken on the way, after
which the image is flushed to the disk. Once the writer is done, isoinfo, a reader independent
of the writer and of this one, lists the Joliet tree, and its names, sizes and places must be
the ones compared."""
import hashlib
import os
import re
import threading
import time

import spawn
from report import MediumError, listing

BLOCK = 2048
CHUNK = 1 << 20
FIRST_DESCRIPTOR = 16
JOLIET_ESCAPES = (b"%/@", b"%/C", b"%/E")
# isoinfo -l: "----------   0    0    0   17920 Jan  1 2000 [  28243 00]  setup.exe ", a "d"
# first for a folder; the name follows the block number and flags, and a blank ends the line.
ENTRY = re.compile(r"^([-d])\S*\s+\d+\s+\d+\s+\d+\s+(\d+)\s+\S+\s+\d+\s+\d+\s+"
                   r"\[\s*(\d+)\s+[0-9a-fA-F]+\]  (.*) $")
FOLDER = re.compile(r"^Directory listing of /(.*)$")


class _Growing:
    """The image file as the writer grows it: reads wait for bytes the writer has yet to
    write, and find the end once the writer is done (writer None: the image is whole)."""

    def __init__(self, path, writer):
        self.file = open(path, "rb", buffering=0)
        self.writer = writer
        self.offset = 0

    def close(self):
        self.file.close()

    def readinto(self, view):
        """Fills view, waiting for the writer; returns fewer bytes only at the image's end.
        While the writer runs, it reads only once the whole of view is there, and between
        looks it sleeps a while: xorriso's two threads hand each other every sector, and a
        reader that keeps waking takes the processor from them."""
        want = self.offset + len(view)
        while self.writer is not None and os.fstat(self.file.fileno()).st_size < want:
            if not self.writer.running():
                self.writer = None  # written to the end: what is there is all there will be
            else:
                time.sleep(0.002)
        done = 0
        while done < len(view):
            count = self.file.readinto(view[done:])
            if not count:
                break
            done += count
        self.offset += done
        return done

    def read(self, size):
        data = bytearray(size)
        return bytes(data[:self.readinto(memoryview(data))])


def _record(data, at):
    """One directory record: (length, first block, size, is a folder, name bytes)."""
    length = data[at]
    name_length = data[at + 32]
    return (length, int.from_bytes(data[at + 2:at + 6], "little"),
            int.from_bytes(data[at + 10:at + 14], "little"), bool(data[at + 25] & 2),
            bytes(data[at + 33:at + 33 + name_length]))


def _joliet_root(head):
    """The Joliet root's (first block, size) and the volume's size in bytes, once head holds
    the volume descriptors; None while it does not."""
    block = FIRST_DESCRIPTOR
    while len(head) >= (block + 1) * BLOCK:
        descriptor = head[block * BLOCK:(block + 1) * BLOCK]
        if descriptor[1:6] != b"CD001":
            raise MediumError("the image read back has no ISO 9660 volume descriptors")
        if descriptor[0] == 255:
            raise MediumError("the image read back has no Joliet names")
        if descriptor[0] == 2 and descriptor[88:91] in JOLIET_ESCAPES:
            _, first, size, _, _ = _record(descriptor, 156)
            blocks = int.from_bytes(descriptor[80:84], "little")
            return (first, size), blocks * int.from_bytes(descriptor[128:130], "little")
        block += 1
    return None


def _joliet_tree(head):
    """The Joliet tree as head holds it: (folders, {path: (first block, size)}, the volume's
    size), or None while head does not reach the last folder's records yet."""
    found = _joliet_root(head)
    if found is None:
        return None
    root, volume = found
    folders, files, pending = set(), {}, [("", root)]
    while pending:
        folder, (first, size) = pending.pop()
        if len(head) < first * BLOCK + size:
            return None
        at, end = first * BLOCK, first * BLOCK + size
        while at < end:
            if head[at] == 0:  # records do not cross a block: the rest of this one is empty
                at = (at // BLOCK + 1) * BLOCK
                continue
            length, start, extent, is_folder, raw = _record(head, at)
            at += length
            if raw in (b"\0", b"\1"):
                continue
            name = raw.decode("utf-16-be", errors="replace")
            if not is_folder and name.endswith(";1"):
                name = name[:-2]
            path = folder + name
            if is_folder:
                folders.add(path)
                pending.append((path + "/", (start, extent)))
            else:
                files[path] = (start, extent)
    return folders, files, volume


def _isoinfo_tree(image):
    """The folders, and the files with their (first block, size), as isoinfo reads them."""
    try:
        status, listed = spawn.run(["isoinfo", "-J", "-l", "-i", image])
    except FileNotFoundError:
        raise MediumError("isoinfo is not installed (scripts/install-deps.sh installs it)") \
            from None
    if status != 0:
        raise MediumError("isoinfo cannot read the image's Joliet tree")
    folders, files, folder = set(), {}, None
    for line in listed.splitlines():
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


def _check_names(folders, files, medium):
    names = folders | set(files)
    expected = set(medium.files) | medium.dirs
    if names != expected:
        problems = []
        if expected - names:
            problems.append(f"missing {listing(sorted(expected - names))}")
        if names - expected:
            problems.append(f"unexpected {listing(sorted(names - expected))}")
        raise MediumError(f"the image read back holds other names: {'; '.join(problems)}")


class _Hasher(threading.Thread):
    """The image's SHA-256, taken on a thread of its own as the image grows, up to the end of
    its volume (hashlib lets go of the interpreter lock while it hashes). With a writer, it then
    flushes the image to the disk, the writer's last byte being in: xorriso, which would do it
    itself, runs with -stdio_sync off (see image.Writer)."""

    def __init__(self, image, writer, head, volume):
        super().__init__(daemon=True)
        self.image = _Growing(image, writer)
        self.flush = writer is not None
        self.head = head
        self.volume = volume
        self.sha = hashlib.sha256(head)
        self.error = None
        self.start()

    def run(self):
        try:
            buffer = memoryview(bytearray(CHUNK))
            self.image.file.seek(len(self.head))
            self.image.offset = len(self.head)
            while self.image.offset < self.volume:
                count = self.image.readinto(buffer[:min(CHUNK, self.volume - self.image.offset)])
                if count == 0:
                    break
                self.sha.update(buffer[:count])
        except OSError as error:
            self.error = f"cannot read the image back: {error.strerror}"
        else:
            if self.flush and self.image.offset == self.volume:
                try:
                    os.fdatasync(self.image.file.fileno())
                except OSError as error:
                    self.error = f"cannot write the image to the disk: {error.strerror}"
        finally:
            self.image.close()

    def result(self):
        """The SHA-256 of the whole volume; raises when it ends early."""
        self.join()
        if self.error:
            raise MediumError(self.error)
        if self.image.offset != self.volume:
            raise MediumError("the image read back ends before its volume does")
        return self.sha.hexdigest()


class _Comparer:
    """Reads the files' bytes in order as the image grows, comparing each with its host
    file."""

    def __init__(self, image, writer, head):
        self.image = _Growing(image, writer)
        self.head = head
        self.image.file.seek(len(head))
        self.image.offset = len(head)
        self.buffer = bytearray(CHUNK)
        self.host_buffer = bytearray(CHUNK)

    def skip_to(self, offset):
        view = memoryview(self.buffer)
        while self.image.offset < offset:
            if not self.image.readinto(view[:min(CHUNK, offset - self.image.offset)]):
                return

    def same(self, host, start, size):
        """Whether the size bytes at start are the host file's bytes, the file no longer."""
        if size == 0:
            return os.path.getsize(host) == 0
        view, host_view = memoryview(self.buffer), memoryview(self.host_buffer)
        with open(host, "rb", buffering=0) as source:
            remaining, same = size, True
            if start < self.image.offset:
                held = min(size, self.image.offset - start)
                # Bytes read past the head belong to an earlier file: the two would overlap.
                same = start + held <= len(self.head) and \
                    source.read(held) == self.head[start:start + held]
                remaining -= held
            else:
                self.skip_to(start)
                same = self.image.offset == start
            while remaining > 0 and same:
                part = self.image.readinto(view[:min(CHUNK, remaining)])
                got = source.readinto(host_view[:part])
                if part == 0 or got != part:
                    same = False
                elif part == CHUNK:
                    same = self.buffer == self.host_buffer  # whole buffers: one memcmp
                else:
                    same = bytearray(view[:part]) == host_view[:part]
                remaining -= part
            # One byte more in the host file is a difference too.
            return same and source.readinto(host_view[:1]) == 0


def follow(image, medium, writer=None):
    """Reads the image back while writer (None: nobody, the image is whole) writes it; returns
    (the number of files compared, the image's SHA-256). Raises when the image is not the
    medium, and when the writer fails.

    The image ends where its volume descriptor says: once it is read that far, isoinfo reads
    it while the writer makes an end (xorriso looks at its writing only every tenth of a
    second), and then the image must still be what was read."""
    try:
        head, volume, folders, files = _head(image, writer)
        _check_names(folders, files, medium)
        hasher = _Hasher(image, writer, head, volume)
        comparer = _Comparer(image, writer, head)
        try:
            differing = [path for path, (block, size) in
                         sorted(files.items(), key=lambda item: item[1])
                         if not comparer.same(medium.files[path], block * BLOCK, size)]
        finally:
            comparer.image.close()
        sha256 = hasher.result()
        listed = _isoinfo_tree(image)
        if writer is not None:
            writer.finish()
        with open(image, "rb") as whole:
            if os.fstat(whole.fileno()).st_size != volume or whole.read(len(head)) != head:
                raise MediumError("the image changed while it was read back")
    except MediumError:
        if writer is not None:
            if not writer.running():
                writer.finish()  # a writer that failed says why better than what it left
            writer.stop()
        raise
    if differing:
        raise MediumError(f"the image read back differs in {listing(sorted(differing))}")
    _check_names(*listed, medium)
    if listed[1] != files:
        moved = sorted(path for path in files if listed[1].get(path) != files[path])
        raise MediumError(f"isoinfo finds other places or sizes for {listing(moved)}")
    return len(medium.files), sha256


def _head(image, writer):
    """The image's head, read as it grows: its volume descriptors and folders, and what
    followed them in the same reads; the volume's size and the Joliet tree."""
    reader = _Growing(image, writer)
    try:
        head = bytearray()
        tree = None
        while tree is None:
            more = reader.read(64 * BLOCK)
            if not more:
                raise MediumError("the image read back ends before its Joliet folders")
            head += more
            tree = _joliet_tree(head)
    finally:
        reader.close()
    folders, files, volume = tree
    return bytes(head), volume, folders, files


def verify(image, medium):
    """Reads a whole image back; returns the number of files compared."""
    return follow(image, medium)[0]
