#!/bin/bash
# Makes the CD image a publisher ships: from PAYLOAD_DIR (the product: the installer and its
# support files in Init, Config and Extra, and whatever else the CD holds) to OUTPUT.iso.
#
#   scripts/make-medium.sh [--no-autorun] [--sign KEY CERT | --sign-pkcs12 FILE] [--]
#                          PAYLOAD_DIR OUTPUT.iso
#
# 1. Builds the i686 deliverables when missing or out of date and lays out the medium: the
#    payload, setup.exe at the root and Init\_zorp.ex_ from the build (a payload file of either
#    name, in any case, gives way to the build's, and the report says so). With --sign (PEM
#    key and certificate chain) or --sign-pkcs12, signs both programs with Authenticode
#    (osslsigncode 2.5 or 2.9; a password in MEDIUM_SIGN_PASSWORD), signed at the image's
#    date, and verifies both signatures (no revocation lists: the build stays off line).
# 2. Checks the medium against the manifest setup is built with (a native program linked with
#    bootstrap/manifest.cpp prints it): every row present, matched without regard to case;
#    rows in another case and other files reported; names that are not 8.3 warned about, with
#    what a reader without Joliet shows; names longer than Joliet's 64 characters, paths
#    longer than its 120, names Windows cannot open or opens as a device, a ';', names that
#    differ only in case and a name that would take a row's ISO 9660 name are errors; more
#    than 650 MiB is a warning, more than 737,280,000 bytes an error.
# 3. Writes AUTORUN.INF (open=setup.exe, icon=setup.exe,0; CR LF) unless the payload has one
#    or --no-autorun is given (a payload folder of that name is an error without it).
# 4. Writes the image with xorriso while the checks run: ISO 9660 with Joliet, volume
#    QUILLO40, reproducible (every date 2000-01-01 or SOURCE_DATE_EPOCH, 0 to 2155-12-31
#    23:59:59), under a temporary name beside OUTPUT.iso (which must be a new name or a
#    regular file, outside the payload); a partial image a killed run left is removed.
# 5. Reads it back as it is written and compares every file, under its Joliet name, byte for
#    byte, taking the SHA-256 on the way, then flushes it to the disk; isoinfo must list the
#    same names and places; only then does the image take the name OUTPUT.iso.
# 6. Prints a report: rows found, warnings, certificates, the image's size and SHA-256.
#
# Exit codes: 0 image written; 1 a check or a step failed (a line for each problem and a last
# one on standard error, no image written, an earlier OUTPUT.iso left as it was); 2 bad usage.
# MEDIUM_PROGRAMS_DIR=DIR takes setup.exe and _zorp.ex_ from another Windows build as they are
# (the Wine tests use the x86_64 build where the host cannot run 32-bit programs).
set -euo pipefail
# The folder of this script, without starting a process for it.
case $0 in */*) HERE=${0%/*} ;; *) HERE=. ;; esac
# Debian's own python3 (scripts/install-deps.sh installs it), not a version manager's shim on
# PATH, which can take longer to start than a small image takes to write.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3
# -E: no PYTHON* variable of the machine applies (PYTHONDONTWRITEBYTECODE, set on some, would
# have Python compile the builder's modules again at every run instead of keeping them in
# medium/__pycache__, which git ignores); -S: no site packages, which the builder does not use
# and which take a while to look through.
exec "$PYTHON" -S -E "$HERE/../medium/make_medium.py" "$@"
