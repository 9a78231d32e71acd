"""The medium builder: from a publisher's payload folder to a checked CD image. Run it as
scripts/make-medium.sh, whose head says what it does and how it answers."""
import os
import sys

# The C half of the signal module: the module itself loads the enum module, which takes longer
# than all the builder's own checks. The checks and the read-back are loaded once xorriso runs.
import _signal
import deliverables
import image
import layout
import spawn
from report import MediumError, Report, grouped, listing

USAGE = ("make-medium.sh [--no-autorun] [--sign KEY CERT | --sign-pkcs12 FILE] [--] "
         "PAYLOAD_DIR OUTPUT.iso")


class Arguments:
    def __init__(self):
        self.positional = []
        self.no_autorun = False
        self.signing = None


def _usage(problem):
    print(f"usage: {USAGE}\nmake-medium: {problem}", file=sys.stderr)
    sys.exit(2)


def arguments(argv):
    """PAYLOAD_DIR OUTPUT.iso, and the options anywhere before a "--"; anything else is bad
    usage. --help prints the usage."""
    args = Arguments()
    position = 0
    while position < len(argv):
        arg = argv[position]
        position += 1
        if arg == "--":
            args.positional += argv[position:]
            break
        if arg in ("-h", "--help"):
            print(f"usage: {USAGE}\n(scripts/make-medium.sh and the README tell more)")
            sys.exit(0)
        if arg == "--no-autorun":
            args.no_autorun = True
        elif arg in ("--sign", "--sign-pkcs12"):
            count = 2 if arg == "--sign" else 1
            given = argv[position:position + count]
            if len(given) < count:
                _usage(f"{arg} takes {'a key and a certificate' if count == 2 else 'a file'}")
            if args.signing:
                _usage("give one key to sign with")
            args.signing = (given[0], given[1], None) if count == 2 else (None, None, given[0])
            position += count
        elif arg.startswith("-") and arg != "-":
            _usage(f"unknown option {arg}")
        else:
            args.positional.append(arg)
    if len(args.positional) != 2:
        _usage("give the payload folder and the image to write")
    args.payload, args.output = args.positional
    if not args.output:
        _usage("the image to write has an empty name")
    return args


def _stop(signum, _frame):
    # Turns a termination into an exception, so that the temporary image is removed.
    raise SystemExit(128 + signum)


def _sign(programs, args, scratch, report):
    """The programs signed, in scratch; the report names the certificates."""
    import signing  # only to sign: it loads more than the builder needs otherwise

    signer = signing.Signer(signing.Signing(*args.signing), scratch, image.source_date_epoch())
    signed = os.path.join(scratch, "signed")
    os.mkdir(signed)
    for attribute, name in (("setup", layout.SETUP), ("launcher", layout.LAUNCHER)):
        signer.sign(getattr(programs, attribute), os.path.join(signed, name))
        setattr(programs, attribute, os.path.join(signed, name))
    report.line("signed", f"setup.exe, Init\\_zorp.ex_: Authenticode, SHA-256, signing time "
                f"{image.utc(signer.epoch)}; both signatures verified (osslsigncode {signer.version})")
    for number, certificate in enumerate(signer.certificates):
        report.line("signed by" if number == 0 else "its issuer",
                    f"{certificate.subject}, SHA-256 {certificate.sha256}")


def build(args, report):
    medium = layout.read_payload(args.payload)
    report.title(f"the medium of {medium.payload}: {len(medium.files)} payload files, "
                 f"{grouped(medium.payload_bytes)} bytes")
    image.source_date_epoch()  # a wrong date stops the run before anything is written
    with image.Output(args.output, medium.folder_ids) as output, spawn.Scratch() as scratch:
        for name in output.removed:
            report.line("removed", f"{name}, the partial image of a run that ended before "
                        "it was done")
        programs = deliverables.programs()
        report.line("from the build", f"setup.exe, Init\\_zorp.ex_ ({programs.machine}, "
                    f"{programs.folder}, {programs.state})")
        if args.signing:
            _sign(programs, args, scratch, report)
        autorun = None if args.no_autorun else os.path.join(scratch, layout.AUTORUN)
        layout.lay_out(medium, programs, autorun)
        # xorriso writes the image under its temporary name while the medium is checked: a
        # check that fails stops it, and no image is left.
        writer = image.Writer(medium, output.temp, os.path.join(scratch, "xorriso.log"))
        try:
            writer.wait_for_bytes()
            import checks
            import readback

            rows = deliverables.manifest_rows()
            if medium.replaced:
                report.line("replaced", f"the payload's {listing(medium.replaced)} by the "
                            "build's")
            report.line(layout.AUTORUN, {
                "written": "written: " + layout.AUTORUN_TEXT.decode().replace("\r\n", " ")
                .strip(),
                "kept": "the payload's, kept as it is",
                "left out": "left out (--no-autorun)"}[medium.autorun])
            checks.check_manifest(medium, rows, report)
            checks.check_names(medium, rows, report)
            checks.check_files_fit(medium)
            compared, sha256 = readback.follow(output.temp, medium, writer)
        finally:
            writer.stop()
        size = os.path.getsize(output.temp)
        checks.check_image_size(size, report)
        output.commit()
    share = 100 * size / checks.CD_LIMIT_BYTES
    report.line("image", f"{output.path}, {grouped(size)} bytes ({size / 1048576:.1f} MiB, "
                f"{share:.1f}% of an 80-minute CD), ISO 9660 + Joliet, volume {image.VOLUME_ID}")
    report.line("read back", f"{compared} files byte-equal under their Joliet names (isoinfo)")
    report.line("warnings", str(report.warnings))
    report.line("SHA-256", sha256)


def main(argv):
    args = arguments(argv)
    for signum in (_signal.SIGTERM, _signal.SIGHUP):
        _signal.signal(signum, _stop)
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
