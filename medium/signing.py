"""Signs setup.exe and the launcher with Authenticode before they go into the image, with
osslsigncode, and verifies both signatures before the image is written.

The key and certificate come as two PEM files (--sign KEY CERT) or as one PKCS#12 file
(--sign-pkcs12 FILE); a password comes from MEDIUM_SIGN_PASSWORD, never from the command line,
and reaches openssl and osslsigncode through a file only this user can read. The signing time
is the image's date, so the same key, payload and build give the same signed programs: an RSA
signature depends on nothing else (an ECDSA signature holds a random number, and differs each
time). Windows 95 ignores the certificate table; later Windows check it."""
import calendar
import os
import re
import subprocess
import time

from report import MediumError

PASSWORD = "MEDIUM_SIGN_PASSWORD"
CA_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
PEM_CERTIFICATE = re.compile(r"-----BEGIN CERTIFICATE-----.+?-----END CERTIFICATE-----\s*",
                             re.DOTALL)


class Certificate:
    def __init__(self, pem, subject, sha256, not_before, not_after):
        self.pem = pem
        self.subject = subject
        self.sha256 = sha256  # "AB:CD:...", as openssl prints a fingerprint
        self.not_before = not_before
        self.not_after = not_after


class Signing:
    """What --sign or --sign-pkcs12 named."""

    def __init__(self, key=None, certificate=None, pkcs12=None):
        self.key = key
        self.certificate = certificate
        self.pkcs12 = pkcs12


def _run(command, what, input_text=None):
    """Runs an openssl or osslsigncode command; returns (status, standard output, the lines of
    all it printed)."""
    try:
        done = subprocess.run(command, input=input_text, capture_output=True, text=True,
                              errors="replace",
                              stdin=None if input_text is not None else subprocess.DEVNULL)
    except FileNotFoundError:
        raise MediumError(f"{command[0]} is not installed (scripts/install-deps.sh installs it)"
                          f", needed for {what}") from None
    messages = [line.strip() for line in (done.stderr + done.stdout).splitlines()
                if line.strip()]
    return done.returncode, done.stdout, messages


def _date(text):
    return calendar.timegm(time.strptime(text.strip(), "%b %d %H:%M:%S %Y GMT"))


def _day(epoch):
    return time.strftime("%Y-%m-%d", time.gmtime(epoch))


def _certificate(pem):
    status, out, _ = _run(["openssl", "x509", "-noout", "-subject", "-nameopt", "RFC2253",
                           "-fingerprint", "-sha256", "-startdate", "-enddate"],
                          "reading a certificate", pem)
    fields = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    if status != 0 or "notBefore" not in fields or "notAfter" not in fields:
        return None
    return Certificate(pem, fields.get("subject", "").strip(),
                       fields.get("sha256 Fingerprint", "").strip(),
                       _date(fields["notBefore"]), _date(fields["notAfter"]))


def _certificates(text, source):
    certificates = [_certificate(pem) for pem in PEM_CERTIFICATE.findall(text)]
    if not certificates or None in certificates:
        raise MediumError(f"{source} holds no PEM certificate that openssl can read")
    return certificates


def _readable(path, what):
    if not os.path.isfile(path):
        raise MediumError(f"the {what} {path} is not a file")
    try:
        with open(path, "rb"):
            pass
    except OSError as error:
        raise MediumError(f"cannot read the {what} {path}: {error.strerror}") from None


def _osslsigncode():
    """osslsigncode's version ("2.9"), and the options that keep its verify off line.

    The build checks no revocation: it does not go on line. Debian 12's osslsigncode 2.5
    prints where a certificate's revocation list is and fetches nothing. 2.9 fetches it, and
    with -ignore-cdp alone still wants one (from -CRLfile) for every certificate that names
    where its list is, which every certificate an authority issues does: -ignore-crl leaves
    the lists out."""
    _, out, _ = _run(["osslsigncode", "--version"], "signing")
    words = out.split()
    version = words[1].rstrip(",") if len(words) > 1 else "of unknown version"
    _, out, _ = _run(["osslsigncode", "verify", "--help"], "signing")
    options = set(out.split())
    offline = [option for option in ("-ignore-crl", "-ignore-cdp") if option in options][:1]
    return version, offline


class Signer:
    """Checks the key and certificates, then signs and verifies programs."""

    def __init__(self, signing, scratch, epoch):
        self.signing = signing
        self.epoch = epoch
        self.scratch = scratch
        password = os.environ.get(PASSWORD)
        self.password_file = None
        if password is not None:
            self.password_file = os.path.join(scratch, "password")
            fd = os.open(self.password_file, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
            with os.fdopen(fd, "w") as out:
                out.write(password + "\n")
        self.passin = f"file:{self.password_file}" if self.password_file else "pass:"
        if signing.pkcs12:
            self._open_pkcs12()
        else:
            self._open_pem()
        self._check_dates()
        self.trust = os.path.join(scratch, "trust.pem")
        with open(self.trust, "w") as out:
            out.write("".join(certificate.pem for certificate in self.certificates))
            if os.path.isfile(CA_BUNDLE):
                with open(CA_BUNDLE) as bundle:
                    out.write(bundle.read())
        self.version, self.offline = _osslsigncode()

    def _open_pem(self):
        key, certificate = self.signing.key, self.signing.certificate
        _readable(key, "key")
        _readable(certificate, "certificate")
        with open(certificate, errors="replace") as text:
            self.certificates = _certificates(text.read(), f"the certificate {certificate}")
        status, public, messages = _run(["openssl", "pkey", "-in", key, "-passin", self.passin,
                                         "-pubout"], "reading the key")
        if status != 0:
            if any("bad decrypt" in line or "password" in line.lower() for line in messages):
                raise MediumError(f"cannot read the key {key}: the password in {PASSWORD} is "
                                  "wrong" if self.password_file else
                                  f"cannot read the key {key}: it needs its password in "
                                  f"{PASSWORD}")
            raise MediumError(f"{key} is not a private key openssl can read")
        status, certified, _ = _run(["openssl", "x509", "-noout", "-pubkey"], "reading the "
                                    "certificate", self.certificates[0].pem)
        if public != certified:
            raise MediumError(f"the key {key} does not match the certificate {certificate}")
        self.sign_with = ["-certs", certificate, "-key", key]

    def _open_pkcs12(self):
        bundle = self.signing.pkcs12
        _readable(bundle, "PKCS#12 file")
        parts = []
        for which in ("-clcerts", "-cacerts"):
            status, out, messages = _run(["openssl", "pkcs12", "-in", bundle, "-passin",
                                          self.passin, "-nokeys", which], "reading the "
                                         "PKCS#12 file")
            if status != 0:
                if any("mac verify" in line.lower() for line in messages):
                    raise MediumError(f"cannot open {bundle}: the password in {PASSWORD} is "
                                      "wrong" if self.password_file else f"cannot open "
                                      f"{bundle}: it needs its password in {PASSWORD}")
                raise MediumError(f"cannot open {bundle}: {messages[-1] if messages else ''}")
            parts.append(out)
        # The certificate of the key first, then the chain.
        self.certificates = _certificates(parts[0], bundle)[:1] + \
            (_certificates(parts[1], bundle) if "CERTIFICATE" in parts[1] else [])
        self.sign_with = ["-pkcs12", bundle]

    def _check_dates(self):
        now = time.time()
        source = self.signing.pkcs12 or self.signing.certificate
        for certificate in self.certificates:
            if certificate.not_after < now:
                raise MediumError(f"the certificate {certificate.subject} in {source} expired "
                                  f"on {_day(certificate.not_after)}")
            if certificate.not_before > now:
                raise MediumError(f"the certificate {certificate.subject} in {source} is valid "
                                  f"only from {_day(certificate.not_before)}")

    def sign(self, program, signed):
        """Writes program, signed, as signed, and verifies the signature."""
        password = ["-readpass", self.password_file] if self.password_file else []
        status, _, messages = _run(["osslsigncode", "sign"] + self.sign_with + password +
                                   ["-h", "sha256", "-time", str(self.epoch), "-in", program,
                                    "-out", signed], "signing")
        name = os.path.basename(program)
        if status != 0 or not os.path.isfile(signed):
            reason = next((line for line in messages if "Failed" not in line), "no reason")
            raise MediumError(f"signing {name} failed: {reason}")
        leaf = self.certificates[0].sha256.replace(":", "")
        status, _, messages = _run(["osslsigncode", "verify", "-in", signed, "-CAfile",
                                    self.trust, "-require-leaf-hash", f"sha256:{leaf}"] +
                                   self.offline, "verifying a signature")
        if status != 0:
            raise MediumError(f"the signature of {name} does not verify: "
                              f"{_verify_failure(messages)}")


def _verify_failure(messages):
    """Why osslsigncode verify failed. 2.9 says it on a line of its own ("Error: unable to get
    local issuer certificate"); both 2.5 and 2.9 print OpenSSL's error, which ends with it
    ("...:Verify error: unable to get local issuer certificate")."""
    for line in messages:
        if line.startswith("Error:"):
            return line.split(":", 1)[1].strip()
    for line in messages:
        if "Verify error:" in line:
            return line.split("Verify error:", 1)[1].strip()
    return "osslsigncode verify failed"
