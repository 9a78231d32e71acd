"""Starts the builder's helper programs (xorriso, isoinfo, the manifest printer) with
os.posix_spawn, and a scratch folder of its own: Python's subprocess and tempfile modules, with
all they bring in, take a tenth as long to load as a small image takes to write."""
import _thread
import os


class Process:
    """A program started with standard input from /dev/null, standard output into a pipe
    (capture=True, read with output()) or to a file or /dev/null, standard error to a file or
    to the builder's own."""

    def __init__(self, command, capture=False, stdout=os.devnull, stderr=None, env=None):
        actions, opened, self.pipe = [], [], None
        null = os.open(os.devnull, os.O_RDONLY)
        opened.append(null)
        actions.append((os.POSIX_SPAWN_DUP2, null, 0))
        if capture:
            self.pipe, write_end = os.pipe()
            opened.append(write_end)
            actions.append((os.POSIX_SPAWN_DUP2, write_end, 1))
        else:
            out = os.open(stdout, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
            opened.append(out)
            actions.append((os.POSIX_SPAWN_DUP2, out, 1))
        if stderr is not None:
            err = os.open(stderr, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
            opened.append(err)
            actions.append((os.POSIX_SPAWN_DUP2, err, 2))
        try:
            self.pid = os.posix_spawnp(command[0], command,
                                       os.environ if env is None else env,
                                       file_actions=actions)
        except OSError:
            if self.pipe is not None:
                os.close(self.pipe)
            raise
        finally:
            for fd in opened:
                os.close(fd)
        self.status = None
        # Two threads may ask whether the writer still runs. _thread's lock: the threading
        # module loads several others, 4 ms before xorriso can start.
        self.lock = _thread.allocate_lock()

    def output(self):
        """All the program wrote to its standard output (capture=True)."""
        chunks = []
        while chunk := os.read(self.pipe, 1 << 16):
            chunks.append(chunk)
        os.close(self.pipe)
        return b"".join(chunks).decode(errors="replace")

    def poll(self):
        """The exit code, or None while the program runs."""
        with self.lock:
            if self.status is None:
                pid, status = os.waitpid(self.pid, os.WNOHANG)
                if pid:
                    self.status = os.waitstatus_to_exitcode(status)
            return self.status

    def wait(self):
        with self.lock:
            if self.status is None:
                self.status = os.waitstatus_to_exitcode(os.waitpid(self.pid, 0)[1])
            return self.status

    def kill(self):
        if self.poll() is None:
            try:
                os.kill(self.pid, 9)
            except ProcessLookupError:
                pass
            self.wait()


def run(command):
    """Runs a program to its end; returns (exit code, its standard output)."""
    process = Process(command, capture=True)
    text = process.output()
    return process.wait(), text


class Scratch:
    """A folder only this user can read, for the files the builder makes on the way (the
    AUTORUN.INF it writes, signed programs, xorriso's messages), removed at the end."""

    def __init__(self):
        base = os.environ.get("TMPDIR") or "/tmp"
        self.path = os.path.join(base, f"make-medium-{os.getpid()}-{os.urandom(4).hex()}")
        os.mkdir(self.path, 0o700)

    def __enter__(self):
        return self.path

    def __exit__(self, *_):
        _remove_tree(self.path)


def _remove_tree(path):
    with os.scandir(path) as entries:
        for entry in entries:
            if entry.is_dir(follow_symlinks=False):
                _remove_tree(entry.path)
            else:
                os.remove(entry.path)
    os.rmdir(path)
