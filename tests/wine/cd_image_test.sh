#!/bin/bash
# The chain from a CD image as a publisher ships it: scripts/make-medium.sh builds the image of
# a payload with the stand-in installer, its programs signed, the image becomes CD-ROM drive E:
# read-only (through fuseiso, or extracted onto a tmpfs remounted read-only where FUSE fails;
# the log says which), and the whole chain runs from it in the 9x and then the NT personality:
# while the installer runs, the 21 staged files equal the image's byte for byte; the
# installer's tail is E:\Init; after the restart _zorp.ex_ is gone.
source "$(dirname "$0")/lib.sh"

make_prefix
make_payload "$WORK/payload"
# Signed as a publisher signs them, with a certificate made here: Windows 95 ignores the
# certificate table, Wine's loader must take it in both personalities.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/key.pem" -out "$WORK/cert.pem" \
    -days 2 -subj "/CN=Quillo Test Publisher" >"$WORK/openssl.log" 2>&1
make_image "$WORK/payload" "$WORK/cd.iso" --sign "$WORK/key.pem" "$WORK/cert.pem" \
    >"$WORK/make-medium.log" 2>&1
expect_eq "make-medium.sh writes the image, signed" "0 1" \
    "$? $(grep -c '^  signed: .*both signatures verified' "$WORK/make-medium.log")"
mount_image "$WORK/cd.iso" "$WORK/cd"
expect_eq "the image's setup.exe and _zorp.ex_ carry their signatures" "Succeeded Succeeded" \
    "$(for program in setup.exe Init/_zorp.ex_; do
        osslsigncode verify -in "$WORK/cd/$program" -CAfile "$WORK/cert.pem" 2>&1 | tail -n1
    done | xargs)"
expect_eq "the image as mounted is read-only" refused \
    "$(touch "$WORK/cd/probe" 2>/dev/null && echo written || echo refused)"
map_cdrom "$WORK/cd"
export RECORDER_SHOW_MS=100  # the stand-in installer's window, a moment only
start_session 24

for personality in 9x nt; do
    run_chain "$personality" \
        'expect_staged "$personality: while the installer runs" "$CHAIN_STAGING"'
    check_chain "$personality"
    check_restart "$personality"
done

finish
