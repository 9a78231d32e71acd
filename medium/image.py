"""Writes the image with xorriso: ISO 9660 with Joliet names, volume QUILLO40, and the same
bytes for the same medium: every date fixed, the writer's sorted order, and no Rock Ridge
records, which would carry the host's owners and permissions (Windows reads Joliet only).

The image grows under a temporary name beside the output and takes the output's name only once
it has been read back whole, so a failed run leaves no partial image and an earlier output as
it was."""
import hashlib
import os
import subprocess
import threading

from report import MediumError

VOLUME_ID = "QUILLO40"
# The date of every file and of the volume (2000-01-01 00:00 UTC) unless SOURCE_DATE_EPOCH,
# the reproducible-builds convention, gives another.
DEFAULT_EPOCH = 946684800


class Output:
    """The output path and the temporary file beside it. Creating that file at the start tells
    at once whether the output can be written, which access checks cannot tell root."""

    def __init__(self, path):
        self.path = os.path.abspath(path)
        folder = os.path.dirname(self.path)
        if os.path.isdir(self.path):
            raise MediumError(f"cannot write {path}: it is a folder")
        if not os.path.isdir(folder):
            what = "is not a folder" if os.path.exists(folder) else "does not exist"
            raise MediumError(f"cannot write {path}: {folder} {what}")
        self.temp = os.path.join(folder, f".{os.path.basename(self.path)}.partial-{os.getpid()}")
        try:
            os.close(os.open(self.temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644))
        except OSError as error:
            raise MediumError(f"cannot write {path}: {error.strerror}") from None
        self.committed = False

    def __enter__(self):
        return self

    def __exit__(self, *_):
        if not self.committed:
            try:
                os.remove(self.temp)
            except FileNotFoundError:
                pass

    def commit(self):
        try:
            os.replace(self.temp, self.path)
        except OSError as error:
            raise MediumError(f"cannot write {self.path}: {error.strerror}") from None
        self.committed = True


def source_date_epoch():
    text = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not text:
        return DEFAULT_EPOCH
    if not text.isdigit():
        raise MediumError(f"SOURCE_DATE_EPOCH must be a number of seconds, not '{text}'")
    return int(text)


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


def write(medium, path):
    epoch = source_date_epoch()
    # UTC, so that no time zone enters the dates.
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch), TZ="UTC")
    command = ["xorriso", "-no_rc", "-report_about", "SORRY", "-abort_on", "FAILURE",
               "-return_with", "SORRY", "32", "-follow", "link:mount",
               "-joliet", "on", "-rockridge", "off", "-volid", VOLUME_ID,
               "-volume_date", "all_file_dates", f"={epoch}",
               "-outdev", f"stdio:{path}"] + _mapping(medium) + ["-commit"]
    try:
        result = subprocess.run(command, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                text=True, errors="replace")
    except FileNotFoundError:
        raise MediumError("xorriso is not installed (scripts/install-deps.sh installs it)") \
            from None
    if result.returncode != 0:
        raise MediumError(f"writing the image failed: {_reason(result.stderr)}")


class Digest(threading.Thread):
    """The image's SHA-256, taken on a thread of its own while the image is read back (hashlib
    lets go of the interpreter lock while it hashes)."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.path = path
        self.hexdigest = None
        self.error = None
        self.start()

    def run(self):
        sha = hashlib.sha256()
        try:
            with open(self.path, "rb") as image:
                while chunk := image.read(1 << 20):
                    sha.update(chunk)
            self.hexdigest = sha.hexdigest()
        except OSError as error:
            self.error = error.strerror

    def result(self):
        self.join()
        if self.hexdigest is None:
            raise MediumError(f"cannot read the image back: {self.error}")
        return self.hexdigest
