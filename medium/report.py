"""What the medium builder tells the publisher: a short report on standard output as the work
goes on, and errors on standard error, each on a line of its own."""
import os
import sys

PROGRAM = "make-medium"
# Long listings (other files, names that are not 8.3) name this many and count the rest.
LISTING_LIMIT = 12


class MediumError(Exception):
    """A problem that stops the build before an image takes the output's name. Its text is the
    one-line error the publisher reads."""


def windows_name(path):
    """A medium path ("Init/Clock") as Windows names it (Init\\Clock)."""
    return path.replace("/", "\\")


def listing(paths, limit=LISTING_LIMIT):
    names = [windows_name(path) for path in paths]
    if len(names) <= limit:
        return ", ".join(names)
    return ", ".join(names[:limit]) + f" and {len(names) - limit} more"


def grouped(number):
    return f"{number:,}"


class Report:
    def __init__(self, out=sys.stdout, err=sys.stderr):
        self.out = out
        self.err = err
        self.warnings = 0

    def _print(self, text, stream):
        try:
            print(text, file=stream, flush=True)
        except BrokenPipeError:
            # Whoever reads the report stopped reading (`| head`): the image is still made,
            # and nothing more is printed there.
            os.dup2(os.open(os.devnull, os.O_WRONLY), stream.fileno())

    def title(self, text):
        self._print(f"{PROGRAM}: {text}", self.out)

    def line(self, label, text):
        self._print(f"  {label + ':':<16} {text}", self.out)

    def warn(self, text):
        self.warnings += 1
        self.line("warning", text)

    def error(self, text):
        self._print(f"{PROGRAM}: {text}", self.err)
