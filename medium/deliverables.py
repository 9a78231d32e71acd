"""What the medium takes from the build: setup.exe and the launcher from the i686 deliverables,
built when missing or out of date, and the manifest rows, printed by a small native program
linked with the bootstrap's own table, so that the rows checked are the rows setup stages."""
import fcntl
import os
import struct
import time

import spawn
from report import MediumError

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOLS = os.path.join(ROOT, "build", "medium")
LOG = os.path.join(TOOLS, "build.log")
PRINTER = os.path.join(TOOLS, "manifest-rows")
PRINTER_SOURCES = ["medium/manifest_rows.cpp", "bootstrap/manifest.cpp", "bootstrap/manifest.h"]
# What the two programs are built from. When nothing of it is newer than both programs, or than
# the last time CMake found them up to date (the stamp), CMake would find nothing to do, and
# asking it takes longer than writing a small image.
PROGRAM_SOURCES = ["CMakeLists.txt", "cmake", "common", "bootstrap", "launcher"]
STAMP = os.path.join(TOOLS, "win32-checked.stamp")
MACHINES = {0x14C: "i686", 0x8664: "x86_64"}


class Programs:
    def __init__(self, folder, setup, launcher, state):
        self.folder = folder
        self.setup = setup
        self.launcher = launcher
        self.state = state  # how they came to be: built now, up to date, or taken as given

    @property
    def machine(self):
        """The processor the programs are built for, read from setup.exe's PE header."""
        try:
            with open(self.setup, "rb") as exe:
                head = exe.read(4096)
            offset = struct.unpack_from("<I", head, 0x3C)[0]
            return MACHINES.get(struct.unpack_from("<H", head, offset + 4)[0], "unknown")
        except (OSError, struct.error):
            return "unknown"


def _locked(work):
    """Runs work() while this process alone builds: two publishers' runs may start together.
    A checkout this user cannot write (another user's, or a read-only one) still has the
    lock file its owner's runs left, which locks as well when opened for reading; without it,
    there is nothing to lock, and work() tells whether something needs building there."""
    lock = os.path.join(TOOLS, ".lock")
    try:
        os.makedirs(TOOLS, exist_ok=True)
        fd = os.open(lock, os.O_RDWR | os.O_CREAT, 0o666)
    except OSError:
        try:
            fd = os.open(lock, os.O_RDONLY)
        except OSError:
            fd = None
    try:
        if fd is not None:
            fcntl.flock(fd, fcntl.LOCK_EX)
        return work()
    finally:
        if fd is not None:
            os.close(fd)


def _shown(path):
    """A path as the report names it: from the current folder when it lies below it."""
    relative = os.path.relpath(path)
    return path if relative.startswith("..") else relative


def _unwritable(what, error):
    return MediumError(f"{what} is needed, but {_shown(TOOLS)} cannot be written: "
                       f"{error.strerror}")


def _run_logged(command, what):
    import subprocess  # only to build, which takes longer than loading it

    try:
        log = open(LOG, "a")
    except OSError as error:
        raise _unwritable(what, error) from None
    with log:
        try:
            status = subprocess.run(command, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL).returncode
        except FileNotFoundError:
            status = 127
    if status != 0:
        raise MediumError(f"{what} failed; see {_shown(LOG)}")


def _mtime(path):
    try:
        return os.stat(path).st_mtime_ns
    except OSError:
        return None


def _newest_source():
    newest = 0
    for name in PROGRAM_SOURCES:
        top = os.path.join(ROOT, name)
        newest = max(newest, _mtime(top) or 0)
        for folder, _, files in os.walk(top):
            newest = max([newest] + [_mtime(os.path.join(folder, file)) or 0 for file in files])
    return newest


def programs():
    """The Windows programs of the medium. MEDIUM_PROGRAMS_DIR names a Windows build to take as
    it is (the Wine tests give the x86_64 one where the host cannot run 32-bit programs);
    otherwise build/win32, built when missing or out of date."""
    given = os.environ.get("MEDIUM_PROGRAMS_DIR")
    folder = os.path.abspath(given or os.path.join(ROOT, "build", "win32"))
    setup = os.path.join(folder, "bootstrap", "setup.exe")
    launcher = os.path.join(folder, "launcher", "_zorp.ex_")
    if given:
        state = "as given in MEDIUM_PROGRAMS_DIR"
    else:
        def build():
            before = (_mtime(setup), _mtime(launcher))
            if None not in before and max(min(before), _mtime(STAMP) or 0) >= _newest_source():
                return "up to date"
            started = time.time_ns()
            if os.path.exists(os.path.join(folder, "CMakeCache.txt")):
                _run_logged(["cmake", "--build", folder, "--target", "setup", "launcher"],
                            "building the deliverables")
            else:
                _run_logged(["bash", os.path.join(ROOT, "scripts", "build.sh"), "win32"],
                            "building the deliverables")
            # As of the build's start: a source changed while it ran is newer than the stamp.
            try:
                open(STAMP, "w").close()
                os.utime(STAMP, ns=(started, started))
            except OSError as error:
                raise _unwritable("building the deliverables", error) from None
            return "up to date" if before == (_mtime(setup), _mtime(launcher)) else "built now"
        state = _locked(build)
    for path in (setup, launcher):
        if not os.path.isfile(path):
            raise MediumError(f"the build has no {path}")
    return Programs(folder, setup, launcher, state)


def manifest_rows():
    """The manifest's rows as setup holds them ("Init\\Cfgmgr32.dll"), in its order."""
    def build():
        built = _mtime(PRINTER)
        sources = [os.path.join(ROOT, source) for source in PRINTER_SOURCES]
        if built is None or any((_mtime(source) or 0) > built for source in sources):
            partial = f"{PRINTER}.{os.getpid()}"
            _run_logged(["c++", "-std=c++17", "-O1", "-Wall", "-Wextra", "-Werror", "-I", ROOT,
                         "-o", partial] + [s for s in sources if s.endswith(".cpp")],
                        "building the manifest printer")
            os.replace(partial, PRINTER)
    _locked(build)
    try:
        status, printed = spawn.run([PRINTER])
    except OSError:
        status, printed = 127, ""
    rows = printed.splitlines()
    if status != 0 or not rows:
        raise MediumError(f"the manifest printer {PRINTER} gave no rows")
    return rows
