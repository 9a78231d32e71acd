"""Reads the written image back with isoinfo, a reader independent of the writer, under the
Joliet names that Windows reads: the image must hold exactly the medium's folders and files,
each byte for byte equal to the host file it was laid out from."""
import subprocess

from report import MediumError, listing

CHUNK = 1 << 20


def _isoinfo(image, *arguments, **options):
    command = ["isoinfo", "-J", "-i", image, *arguments]
    try:
        return subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, **options)
    except FileNotFoundError:
        raise MediumError("isoinfo is not installed (scripts/install-deps.sh installs it)") \
            from None


def _names(image):
    with _isoinfo(image, "-f", text=True, errors="replace") as reader:
        names = {line[1:] for line in reader.stdout.read().splitlines() if line.startswith("/")}
    if reader.returncode != 0:
        raise MediumError("isoinfo cannot read the image's Joliet tree")
    return names


def _equal(image, path, host):
    with open(host, "rb") as source, _isoinfo(image, "-x", f"/{path}") as reader:
        while True:
            read = reader.stdout.read(CHUNK)
            if read != source.read(len(read) or CHUNK):
                reader.kill()
                return False
            if not read:
                break
    return reader.returncode == 0


def verify(image, medium):
    """Returns the number of files compared; raises when the image is not the medium."""
    names = _names(image)
    expected = set(medium.files) | medium.dirs
    if names != expected:
        problems = []
        if expected - names:
            problems.append(f"missing {listing(sorted(expected - names))}")
        if names - expected:
            problems.append(f"unexpected {listing(sorted(names - expected))}")
        raise MediumError(f"the image read back holds other names: {'; '.join(problems)}")
    differing = [path for path, host in sorted(medium.files.items())
                 if not _equal(image, path, host)]
    if differing:
        raise MediumError(f"the image read back differs in {listing(differing)}")
    return len(medium.files)
