"""The medium builder: from a publisher's payload folder to a checked CD image. Run it as
scripts/make-medium.sh, whose head says what it does and how it answers."""
import os
import signal
import sys
import tempfile

import checks
import deliverables
import image
import layout
import readback
from report import MediumError, Report, grouped, listing

USAGE = "make-medium.sh PAYLOAD_DIR OUTPUT.iso [--no-autorun]"


class Arguments:
    def __init__(self, payload, output, no_autorun):
        self.payload = payload
        self.output = output
        self.no_autorun = no_autorun


def arguments(argv):
    """PAYLOAD_DIR OUTPUT.iso and --no-autorun anywhere; anything else is bad usage."""
    flags = [arg for arg in argv if arg.startswith("-") and arg != "-"]
    positional = [arg for arg in argv if arg not in flags]
    problem = None
    if any(flag != "--no-autorun" for flag in flags):
        problem = f"unknown option {next(f for f in flags if f != '--no-autorun')}"
    elif len(positional) != 2:
        problem = "give the payload folder and the image to write"
    if problem:
        print(f"usage: {USAGE}\nmake-medium: {problem}", file=sys.stderr)
        sys.exit(2)
    return Arguments(positional[0], positional[1], bool(flags))


def _stop(signum, _frame):
    # Turns a termination into an exception, so that the temporary image is removed.
    raise SystemExit(128 + signum)


def build(args, report):
    medium = layout.read_payload(args.payload)
    report.title(f"the medium of {medium.payload}: {len(medium.files)} payload files, "
                 f"{grouped(medium.payload_bytes)} bytes")
    with image.Output(args.output) as output, tempfile.TemporaryDirectory() as scratch:
        programs = deliverables.programs()
        rows = deliverables.manifest_rows()
        autorun = None if args.no_autorun else os.path.join(scratch, layout.AUTORUN)
        layout.lay_out(medium, programs, autorun)
        report.line("from the build", f"setup.exe, Init\\_zorp.ex_ ({programs.machine}, "
                    f"{programs.folder}, {programs.state})")
        if medium.replaced:
            report.line("replaced", f"the payload's {listing(medium.replaced)} by the build's")
        report.line(layout.AUTORUN, {
            "written": "written: " + layout.AUTORUN_TEXT.decode().replace("\r\n", " ").strip(),
            "kept": "the payload's, kept as it is",
            "left out": "left out (--no-autorun)"}[medium.autorun])
        checks.check_manifest(medium, rows, report)
        checks.check_names(medium, report)
        checks.check_files_fit(medium)
        image.write(medium, output.temp)
        size = os.path.getsize(output.temp)
        checks.check_image_size(size, report)
        digest = image.Digest(output.temp)
        compared = readback.verify(output.temp, medium)
        sha256 = digest.result()
        output.commit()
    share = 100 * size / checks.CD_LIMIT_BYTES
    report.line("image", f"{output.path}, {grouped(size)} bytes ({size / 1048576:.1f} MiB, "
                f"{share:.1f}% of an 80-minute CD), ISO 9660 + Joliet, volume {image.VOLUME_ID}")
    report.line("read back", f"{compared} files byte-equal under their Joliet names (isoinfo)")
    report.line("warnings", str(report.warnings))
    report.line("SHA-256", sha256)


def main(argv):
    args = arguments(argv)
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, _stop)
    report = Report()
    try:
        build(args, report)
    except MediumError as error:
        report.error(f"error: {error}")
        return 1
    except KeyboardInterrupt:
        report.error("error: interrupted; no image written")
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
