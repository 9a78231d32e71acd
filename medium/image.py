"""Writes the image with xorriso: ISO 9660 with Joliet names, volume QUILLO40, and the same
bytes for the same medium: every date fixed, the writer's sorted order, and no Rock Ridge
records, which would carry the host's owners and permissions (Windows reads Joliet only).

The image grows under a temporary name beside the output and takes the output's name only once
it has been read back whole, so a failed run leaves no partial image and an earlier output as
it was. A run that was killed cannot remove its partial image: the next run for the same
output removes it, and says so."""
import fcntl
import os
import stat
import time

import spawn

from report import MediumError

VOLUME_ID = "QUILLO40"
# The date of every file and of the volume (2000-01-01 00:00 UTC) unless SOURCE_DATE_EPOCH,
# the reproducible-builds convention, gives another.
DEFAULT_EPOCH = 946684800
# A folder or file record holds its year as years since 1900 in one byte: the last second it
# can write is 2155-12-31 23:59:59 UTC.
LAST_EPOCH = 5869583999
KINDS = {stat.S_IFDIR: "a folder", stat.S_IFCHR: "a character device",
         stat.S_IFBLK: "a block device", stat.S_IFIFO: "a FIFO (named pipe)",
         stat.S_IFSOCK: "a socket", stat.S_IFLNK: "a symbolic link"}


def _partial_name(path, pid):
    return os.path.join(os.path.dirname(path), f".{os.path.basename(path)}.partial-{pid}")


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except OSError:
        pass  # someone else's process
    return True


class Output:
    """The output path and the temporary file beside it. Creating that file at the start tells
    at once whether the output can be written, which access checks cannot tell root. The run
    holds a lock on it while it lives, which is how a later run tells a partial image left by
    a killed run from one that is still being written."""

    def __init__(self, path, payload_folders=()):
        self.path = os.path.abspath(path)
        folder = os.path.dirname(self.path)
        try:
            mode = os.lstat(self.path).st_mode
        except OSError:
            mode = None
        if mode is not None and not stat.S_ISREG(mode):
            what = KINDS.get(stat.S_IFMT(mode), "not a regular file")
            if stat.S_ISLNK(mode):
                what += f" (to {os.readlink(self.path)}): name the image itself"
            raise MediumError(f"cannot write {path}: it is {what}; nothing written")
        try:
            info = os.stat(folder)
        except OSError:
            info = None
        if info is None or not stat.S_ISDIR(info.st_mode):
            what = "is not a folder" if os.path.lexists(folder) else "does not exist"
            raise MediumError(f"cannot write {path}: {folder} {what}")
        if (info.st_dev, info.st_ino) in payload_folders:
            raise MediumError(f"cannot write {path}: it is inside the payload folder, so the "
                              "image would go onto its own CD; write it elsewhere")
        self.removed = self._remove_stale()
        self.temp = _partial_name(self.path, os.getpid())
        try:
            self.fd = os.open(self.temp, os.O_RDWR | os.O_CREAT | os.O_EXCL, 0o644)
        except OSError as error:
            raise MediumError(f"cannot write {path}: {error.strerror}") from None
        fcntl.flock(self.fd, fcntl.LOCK_EX)
        self.committed = False

    def _remove_stale(self):
        """Removes the partial images of this output left by runs that are no longer alive;
        returns their names."""
        folder = os.path.dirname(self.path)
        prefix = f".{os.path.basename(self.path)}.partial-"
        removed = []
        try:
            names = [name for name in os.listdir(folder) if name.startswith(prefix)]
        except OSError:
            return removed
        for name in sorted(names):
            pid = name[len(prefix):]
            if not (pid.isascii() and pid.isdigit()) or _alive(int(pid)):
                continue
            stale = os.path.join(folder, name)
            try:
                fd = os.open(stale, os.O_RDONLY | os.O_NOFOLLOW)
            except OSError:
                continue
            try:
                # A run that holds the lock is alive, whatever its process number says.
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                os.remove(stale)
                removed.append(name)
            except OSError:
                pass
            finally:
                os.close(fd)
        return removed

    def __enter__(self):
        return self

    def __exit__(self, *_):
        if not self.committed:
            try:
                os.remove(self.temp)
            except FileNotFoundError:
                pass
        os.close(self.fd)

    def commit(self):
        try:
            os.replace(self.temp, self.path)
        except OSError as error:
            raise MediumError(f"cannot write {self.path}: {error.strerror}") from None
        self.committed = True


def source_date_epoch():
    """SOURCE_DATE_EPOCH as seconds, zero included; out of what ISO 9660 can write, an error."""
    text = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not text:
        return DEFAULT_EPOCH
    if not (text.isascii() and text.isdigit()):
        raise MediumError(f"SOURCE_DATE_EPOCH must be a number of seconds, not '{text}'")
    epoch = int(text)
    if epoch > LAST_EPOCH:
        raise MediumError(f"SOURCE_DATE_EPOCH {text} is after {utc(LAST_EPOCH)}, the last "
                          "date ISO 9660 can write")
    return epoch


def utc(epoch):
    return time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(epoch))


def _mapping(medium):
    """xorriso commands that build the medium's tree: the payload, less what gives way to the
    build's files, then those files."""
    commands = ["-map", medium.payload, "/"]
    for path in medium.replaced:
        commands += ["-rm", f"/{path}", "--"]
    for path, host in sorted(medium.added.items()):
        commands += ["-map", host, f"/{path}"]
    return commands


def _reason(messages):
    """The one line of xorriso's messages that says why it failed."""
    lines = [line.strip() for line in messages.splitlines() if line.strip()]
    for line in lines:
        if "No space left on device" in line or "exceeds free space" in line:
            return f"the disk is full ({line.split(' : ')[-1]})"
    for line in lines:
        for level in (" : FATAL : ", " : FAILURE : ", " : SORRY : "):
            if level in line:
                return line.split(level, 1)[1]
    return lines[-1] if lines else "xorriso gave no reason"


class Writer:
    """xorriso writing the image at path, started at once; finish() waits for it. The image is
    written from its first byte to its last, in order and once (no emulated table of contents
    at its head, which xorriso writes last), so that it can be read back while it grows, and
    its volume holds all of it (the 300 KiB of padding that xorriso adds for old CD drives
    too), so that its volume descriptor tells where it ends.

    xorriso ends only when its main thread sees the writing done. It looks 0.1 s after the
    writing starts, and then once per -pacifier interval: by default a second, so a writing
    that took a little longer than 0.1 s (as it does when the image is read back as it grows)
    kept xorriso up to a second more. The shortest interval, 0.1 s, bounds that wait. And
    xorriso's flushes to the disk (every 16 MiB by default, or once at the end) hold its
    writing up, past that first look whenever the disk is slow: with -stdio_sync off it writes
    without them, and the read-back flushes the image once it holds the last byte, while
    xorriso waits for its look. The image is on the disk before it takes its name."""

    def __init__(self, medium, path, messages):
        epoch = source_date_epoch()
        # Every date given here, none from the environment: xorriso takes a SOURCE_DATE_EPOCH
        # of 0 for none. UTC, so that no time zone enters the dates.
        env = dict(os.environ, TZ="UTC")
        env.pop("SOURCE_DATE_EPOCH", None)
        stamp = time.strftime("%Y%m%d%H%M%S00", time.gmtime(epoch))
        command = ["xorriso", "-no_rc", "-report_about", "SORRY", "-abort_on", "FAILURE",
                   "-return_with", "SORRY", "32", "-follow", "link:mount",
                   "-joliet", "on", "-rockridge", "off", "-compliance", "no_emul_toc",
                   "-padding", "included", "-pacifier", "interval=0.1", "-stdio_sync", "off",
                   "-volid", VOLUME_ID, "-volume_date", "uuid", stamp,
                   "-iso_nowtime", f"={epoch}", "-outdev", f"stdio:{path}"] + \
            _mapping(medium) + ["-alter_date_r", "b", f"={epoch}", "/", "--", "-commit"]
        self.messages = messages
        self.path = path
        try:
            self.process = spawn.Process(command, stderr=messages, env=env)
        except FileNotFoundError:
            raise MediumError("xorriso is not installed (scripts/install-deps.sh installs it)") \
                from None

    def running(self):
        return self.process.poll() is None

    def wait_for_bytes(self):
        """Sleeps until the image has its first bytes, or xorriso has ended. Right after it
        starts the writing, xorriso looks whether the writing is still starting, and if so
        looks again 0.1 s later; if it finds it already under way, it looks only at its own
        pace, up to a -pacifier interval later. With the builder busy at that moment (loading
        the checks), xorriso found the writing under way in about half the runs; with the
        builder asleep until the first bytes, by when xorriso has looked, in about a quarter."""
        while os.stat(self.path).st_size == 0 and self.running():
            time.sleep(0.001)

    def finish(self):
        if self.process.wait() != 0:
            with open(self.messages, errors="replace") as log:
                raise MediumError(f"writing the image failed: {_reason(log.read())}")

    def stop(self):
        self.process.kill()


def write(medium, path, messages=None):
    """Writes the image and waits for it (the tests' way; the builder reads it as it grows)."""
    writer = Writer(medium, path, messages or f"{path}.messages")
    writer.finish()
