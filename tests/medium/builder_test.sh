#!/bin/bash
# The medium builder (scripts/make-medium.sh) on the payloads a publisher brings: a good one,
# twice, from copies made in another order and at other times (the same image); one missing
# two rows; one with rows in another case; one holding AUTORUN.INF and a SETUP.EXE of its own;
# and output paths that cannot be written. Each case checks the exit code, the report and
# that no partial image is left beside the output.
set -uo pipefail
source "$(dirname "$0")/../expect.sh"
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
SETUP_EXE=$ROOT/build/win32/bootstrap/setup.exe
AUTORUN_TEXT='[autorun]<CR><LF>open=setup.exe<CR><LF>icon=setup.exe,0<CR><LF>'

# The payload of a medium: every file of it but the launcher, which the build brings. Each
# holds its own name.
source "$(dirname "$0")/../medium_files.sh"
make_payload() {
    local file
    for file in $MEDIUM_FILES; do
        [ "$file" = Init/_zorp.ex_ ] && continue
        mkdir -p "$1/${file%/*}"
        printf '%s\r\n' "$file" >"$1/$file"
    done
}

# build NAME ARGUMENTS...: runs the builder; OUT and ERR hold what it printed, STATUS its exit
# code.
build() {
    bash "$ROOT/scripts/make-medium.sh" "${@:2}" >"$WORK/$1.out" 2>"$WORK/$1.err"
    STATUS=$?
    OUT=$(cat "$WORK/$1.out")
    ERR=$(cat "$WORK/$1.err")
}

# The image's file at PATH (a Joliet path), its bytes made readable as in escaped_bytes.
image_file() {
    isoinfo -J -x "$2" -i "$1" | perl -0777 -pe 's/\r/<CR>/g; s/\n/<LF>/g'
}

# ---- A good payload, twice: byte-identical images ------------------------------------------
make_payload "$WORK/good"
mkdir "$WORK/out"
build good "$WORK/good" "$WORK/out/good.iso"
expect_eq "good: exit 0" 0 "$STATUS"
expect_match "good: all rows found" '^  manifest: +21 of 21 rows found$' "$OUT"
expect_match "good: Panelkit2.dll is not 8.3" 'warning: .*not 8\.3.*Init\\Panelkit2\.dll' "$OUT"
expect_match "good: the report gives the image's SHA-256" \
    "^  SHA-256: +$(sha256sum "$WORK/out/good.iso" | cut -d' ' -f1)\$" "$OUT"
expect_eq "good: AUTORUN.INF starts setup with its icon, CR LF" "$AUTORUN_TEXT" \
    "$(image_file "$WORK/out/good.iso" /AUTORUN.INF)"
expect_eq "good: setup.exe is the build's" "$(sha256sum <"$SETUP_EXE")" \
    "$(isoinfo -J -x /setup.exe -i "$WORK/out/good.iso" | sha256sum)"
# The same payload copied in reverse order, with other dates, built again a second later.
mkdir "$WORK/again"
for file in $(printf '%s\n' $MEDIUM_FILES | sort -r | grep -vx Init/_zorp.ex_); do
    mkdir -p "$WORK/again/${file%/*}"
    cp "$WORK/good/$file" "$WORK/again/$file"
done
find "$WORK/again" -exec touch -d '2001-02-03 04:05' {} +
sleep 1
build again "$WORK/again" "$WORK/out/again.iso"
expect_eq "again: exit 0" 0 "$STATUS"
expect_eq "again: byte-identical to the first image" same \
    "$(cmp -s "$WORK/out/good.iso" "$WORK/out/again.iso" && echo same || echo different)"

# ---- Two rows missing: each listed, no image, an earlier output kept ------------------------
cp -a "$WORK/good" "$WORK/missing"
rm "$WORK/missing/Init/Clock" "$WORK/missing/Extra/dx6eng.exe"
echo earlier >"$WORK/out/missing.iso"
build missing "$WORK/missing" "$WORK/out/missing.iso"
expect_eq "missing: exit 1" 1 "$STATUS"
expect_eq "missing: each missing row listed, then the error" "make-medium: missing row Init\\Clock
make-medium: missing row Extra\\dx6eng.exe
make-medium: error: 2 of the 21 manifest rows are missing; no image written" "$ERR"
expect_eq "missing: the earlier output is as it was" earlier "$(cat "$WORK/out/missing.iso")"

# ---- Rows in another case: found, kept as they are, reported --------------------------------
cp -a "$WORK/good" "$WORK/case"
mv "$WORK/case/Init/Clock" "$WORK/case/Init/CLOCK"
mv "$WORK/case/Config" "$WORK/case/config"
build case "$WORK/case" "$WORK/out/case.iso"
expect_eq "case: exit 0" 0 "$STATUS"
expect_match "case: all rows found" '^  manifest: +21 of 21 rows found$' "$OUT"
expect_match "case: the two reported in their own case" \
    '^  in another case: +2 rows, kept as they are: Init\\CLOCK, config\\Qcore\.cfg$' "$OUT"
expect_eq "case: the image holds them in their own case" "/Init/CLOCK
/config/Qcore.cfg" "$(isoinfo -J -f -i "$WORK/out/case.iso" | grep -iE '^/init/clock$|qcore')"

# ---- A payload with its own AUTORUN.INF and SETUP.EXE -------------------------------------
cp -a "$WORK/good" "$WORK/own"
printf '[AutoRun]\r\nopen=own.exe\r\n' >"$WORK/own/autorun.inf"
echo "not setup" >"$WORK/own/SETUP.EXE"
build own "$WORK/own" "$WORK/out/own.iso"
expect_eq "own: exit 0" 0 "$STATUS"
expect_match "own: AUTORUN.INF reported kept" '^  AUTORUN.INF: +the payload.s, kept' "$OUT"
expect_match "own: SETUP.EXE reported replaced" "^  replaced: +the payload's SETUP.EXE by" "$OUT"
expect_eq "own: the payload's AUTORUN.INF is the image's" '[AutoRun]<CR><LF>open=own.exe<CR><LF>' \
    "$(image_file "$WORK/out/own.iso" /autorun.inf)"
expect_eq "own: one setup.exe, the build's" "/setup.exe $(sha256sum <"$SETUP_EXE")" \
    "$(isoinfo -J -f -i "$WORK/out/own.iso" | grep -i '^/setup.exe$') $(
        isoinfo -J -x /setup.exe -i "$WORK/out/own.iso" | sha256sum)"

# ---- Names at the edges of every name check, then one past each ------------------------------
# x N: N characters.
x() { printf "%${2}s" "" | tr ' ' "$1"; }
cp -a "$WORK/good" "$WORK/edges"
mkdir -p "$WORK/edges/Extra/DIR.X" "$WORK/edges/Extra/$(x d 56)"
for file in Extra/ABCDEFGH.ABC Extra/ABCDEFGHI.ABC Extra/ABCDEFGH.ABCD Extra/DIR.X/F \
    "Extra/$(x n 60).txt" "Extra/$(x d 56)/$(x f 56)" Extra/COM10 Extra/CONSOLE.txt Extra/NULL \
    Extra/Read.txt Extra/Reaf.txt Config/Read.txt 'Extra/a#.txt' Extra/a_.txt; do
    echo "$file" >"$WORK/edges/$file"
done
build edges "$WORK/edges" "$WORK/out/edges.iso"
expect_eq "edges: exit 0" 0 "$STATUS"
# A 64-character name, a 120-character path (\Extra\ddd...\fff...), COM10 and the like, names
# that differ in one letter or folder pass; 8.3 is at most 8 and 3 characters, a folder
# without a dot. A reader without Joliet shows what the warning says.
expect_eq "edges: the names that are not 8.3, as a reader without Joliet shows them" \
    "  warning:         not 8.3: Windows reads the Joliet names; a reader without Joliet shows Extra\\ABCDEFGH.ABCD as ABCDEFGH.ABCD, Extra\\ABCDEFGHI.ABC as ABCDEFGHI.ABC, Extra\\DIR.X as DIR_X, Extra\\a#.txt as a numbered A_.TXT, Extra\\a_.txt as a numbered A_.TXT, Extra\\$(x d 56) as $(x D 31), Extra\\$(x d 56)\\$(x f 56) as $(x F 30)., Extra\\$(x n 60).txt as $(x N 27).TXT, Init\\Panelkit2.dll as PANELKIT2.DLL" \
    "$(grep 'not 8.3' "$WORK/edges.out")"
expect_eq "edges: so the image's ISO 9660 tree names them" "/EXTRA/ABCDEFGH.ABC;1
/EXTRA/ABCDEFGH.ABCD;1
/EXTRA/ABCDEFGHI.ABC;1
/EXTRA/A_0.TXT;1
/EXTRA/A_1.TXT;1
/EXTRA/$(x D 31)
/EXTRA/$(x D 31)/$(x F 30).;1
/EXTRA/DIR_X
/EXTRA/DIR_X/F.;1
/EXTRA/$(x N 27).TXT;1
/INIT/PANELKIT2.DLL;1" "$(isoinfo -f -i "$WORK/out/edges.iso" |
    grep -E 'ABCD|ABC;|A_[01]|DIR_X|DDD|NNN|PANELKIT' | sort)"
expect_eq "edges: every name on the image under Joliet" "$( (cd "$WORK/edges" && find . -mindepth 1 |
    cut -c2-; echo /setup.exe; echo /Init/_zorp.ex_; echo /AUTORUN.INF) | sort)" \
    "$(isoinfo -J -f -i "$WORK/out/edges.iso" | sort)"

cp -a "$WORK/edges" "$WORK/over"
for file in "Extra/$(x o 61).txt" "Extra/$(x d 56)/$(x f 57)" Extra/READ.TXT 'Extra/a;b.txt' \
    Extra/nul.txt Extra/AUX.dat Extra/COM9 Extra/lpt1 'Init/Ft0042k#.ttf'; do
    echo "$file" >"$WORK/over/$file"
done
build over "$WORK/over" "$WORK/out/over.iso"
expect_eq "over: exit 1" 1 "$STATUS"
expect_eq "over: a line for each name one past a check, then the error" "make-medium: the name Extra\\AUX.dat is a device's name, which Windows opens instead of the file
make-medium: the name Extra\\COM9 is a device's name, which Windows opens instead of the file
make-medium: the name Extra\\a;b.txt has a ';', which Joliet cannot carry
make-medium: the name Extra\\$(x d 56)\\$(x f 57) is a path too long: 121 characters, more than the 120 of a Joliet path
make-medium: the name Extra\\lpt1 is a device's name, which Windows opens instead of the file
make-medium: the name Extra\\nul.txt is a device's name, which Windows opens instead of the file
make-medium: the name Extra\\$(x o 61).txt has 65 characters, more than Joliet's 64
make-medium: Extra\\READ.TXT, Extra\\Read.txt differ only in letter case: Windows reaches one
make-medium: Init\\Ft0042k#.ttf would take the ISO 9660 name FT0042K_.TTF of the manifest row Init\\Ft0042k_.ttf, which a reader without Joliet then does not find: rename it
make-medium: error: 9 name(s) cannot go on the CD; no image written" "$ERR"

# ---- A folder where AUTORUN.INF goes: refused, unless there is to be none ------------------
cp -a "$WORK/good" "$WORK/autorun"
mkdir "$WORK/autorun/autorun.inf"
build autorun "$WORK/autorun" "$WORK/out/autorun.iso"
expect_eq "autorun folder: one line, exit 1" "1 make-medium: error: the payload holds a folder autorun.inf, where AUTORUN.INF goes: remove it, or give --no-autorun" "$STATUS $ERR"
build autorun-none "$WORK/autorun" "$WORK/out/autorun.iso" --no-autorun
expect_eq "autorun folder with --no-autorun: the folder on the image" "0 /autorun.inf" \
    "$STATUS $(isoinfo -J -f -i "$WORK/out/autorun.iso" | grep -i autorun)"

# ---- SOURCE_DATE_EPOCH: zero and the last second ISO 9660 can write, then one past it --------
# The dates of every entry, and the volume's creation date (17 bytes at 813 of sector 16).
dates() {
    isoinfo -l -i "$1" | awk '/^[-d]/ { print $6, $7, $8 }' | sort -u
    isoinfo -J -l -i "$1" | awk '/^[-d]/ { print $6, $7, $8 }' | sort -u
    dd if="$1" bs=1 skip=$((16 * 2048 + 813)) count=16 status=none
}
SOURCE_DATE_EPOCH=0 build epoch0 "$WORK/good" "$WORK/out/epoch0.iso"
expect_eq "SOURCE_DATE_EPOCH=0: every date 1970-01-01 00:00" "0 Jan 1 1970
Jan 1 1970
1970010100000000" "$STATUS $(dates "$WORK/out/epoch0.iso")"
SOURCE_DATE_EPOCH=5869583999 build epoch-last "$WORK/good" "$WORK/out/epoch-last.iso"
expect_eq "SOURCE_DATE_EPOCH 2155-12-31 23:59:59: every date then" "0 Dec 31 2155
Dec 31 2155
2155123123595900" "$STATUS $(dates "$WORK/out/epoch-last.iso")"
SOURCE_DATE_EPOCH=5869584000 build epoch-over "$WORK/good" "$WORK/out/epoch-over.iso"
expect_eq "SOURCE_DATE_EPOCH one second later: one line, no image" "1 make-medium: error: SOURCE_DATE_EPOCH 5869584000 is after 2155-12-31 23:59:59 UTC, the last date ISO 9660 can write no" \
    "$STATUS $ERR $([ -e "$WORK/out/epoch-over.iso" ] && echo yes || echo no)"

# ---- The partial image of a killed run: removed by the next run; a live run's kept ---------
dead=$(bash -c 'echo $$')
touch "$WORK/out/.again.iso.partial-$dead" "$WORK/out/.again.iso.partial-$$"
build stale "$WORK/good" "$WORK/out/again.iso"
expect_eq "stale partial: the dead run's removed, and said" "0   removed:         .again.iso.partial-$dead, the partial image of a run that ended before it was done" \
    "$STATUS $(grep removed: "$WORK/stale.out")"
expect_eq "stale partial: a live run's kept" ".again.iso.partial-$$" \
    "$(cd "$WORK/out" && ls -A | grep partial)"
rm "$WORK/out/.again.iso.partial-$$"

# ---- Usage ----------------------------------------------------------------------------------
build help --help
expect_eq "--help: the usage on standard output, exit 0" "0 usage: make-medium.sh" \
    "$STATUS $(head -c 21 "$WORK/help.out")"
build h -h
expect_eq "-h: the same" "0 $(cat "$WORK/help.out")" "$STATUS $OUT"
(cd "$WORK/out" && build dashes -- "$WORK/good" -dash.iso)
expect_eq "--: a name that starts with - after it is the image" "0 yes" \
    "$STATUS $([ -s "$WORK/out/-dash.iso" ] && echo yes || echo no)"
build empty "$WORK/good" ""
expect_eq "an empty OUTPUT: bad usage" "2 make-medium: the image to write has an empty name" \
    "$STATUS $(tail -n1 "$WORK/empty.err")"

# ---- Signed with a self-signed certificate made here: twice the same image -----------------
keys=$WORK/keys
mkdir "$keys"
(
    cd "$keys" || exit 1
    openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 30 \
        -subj "/CN=Quillo Test Publisher/O=Test" &&
        openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out other.pem &&
        openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.p12 -passout pass:sesame &&
        # The same key, certified for 2020 only.
        touch index.txt && echo 01 >serial &&
        printf '[ca]\ndefault_ca = d\n[d]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\ndefault_md = sha256\npolicy = p\n[p]\ncommonName = supplied\n' >ca.cnf &&
        openssl req -new -key key.pem -subj "/CN=Quillo Expired" -out expired.csr &&
        openssl ca -batch -notext -config ca.cnf -selfsign -keyfile key.pem -in expired.csr \
            -startdate 20200101000000Z -enddate 20210101000000Z -out expired.pem &&
        # The same key certified by an authority that is neither given nor known here.
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 \
            -subj "/CN=Quillo Unknown Authority" &&
        openssl req -new -key key.pem -subj "/CN=Quillo Issued" -out issued.csr &&
        openssl x509 -req -in issued.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
            -out issued.pem &&
        # As an authority issues one: naming where its revocation list is (nobody answers
        # there), given with its chain.
        printf 'crlDistributionPoints=URI:http://127.0.0.1:9/quillo.crl\n' >cdp.ext &&
        openssl x509 -req -in issued.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 \
            -extfile cdp.ext -out chain.pem && cat ca.pem >>chain.pem
) >"$WORK/keys.log" 2>&1 || { log "openssl could not make the test's keys:"; cat "$WORK/keys.log"; }
fingerprint=$(openssl x509 -in "$keys/cert.pem" -noout -fingerprint -sha256 | cut -d= -f2)
build signed "$WORK/good" "$WORK/out/signed.iso" --sign "$keys/key.pem" "$keys/cert.pem"
expect_eq "signed: exit 0" 0 "$STATUS"
expect_eq "signed: the report says so, and names the certificate" "  signed:          setup.exe, Init\\_zorp.ex_: Authenticode, SHA-256, signing time 2000-01-01 00:00:00 UTC; both signatures verified (osslsigncode $(osslsigncode --version | head -n1 | cut -d' ' -f2 | tr -d ,))
  signed by:       O=Test,CN=Quillo Test Publisher, SHA-256 $fingerprint" "$(grep '^  signed' "$WORK/signed.out")"
for program in /setup.exe /Init/_zorp.ex_; do
    isoinfo -J -x "$program" -i "$WORK/out/signed.iso" >"$WORK/program.exe"
    expect_eq "signed: the image's $program verifies, signed at the image's date" "Signing time: Jan  1 00:00:00 2000 GMT
Succeeded" "$(osslsigncode verify -in "$WORK/program.exe" -CAfile "$keys/cert.pem" 2>&1 |
        grep -E '^Succeeded|Signing time' | sed 's/^[[:space:]]*//')"
done
expect_eq "signed: setup.exe is the build's, signed" "different" \
    "$(cmp -s "$WORK/program.exe" "$SETUP_EXE" && echo same || echo different)"
MEDIUM_SIGN_PASSWORD=sesame build pkcs12 "$WORK/good" "$WORK/out/pkcs12.iso" \
    --sign-pkcs12 "$keys/cert.p12"
expect_eq "signed again, from the PKCS#12 file of the same key: the same image" "0 same" \
    "$STATUS $(cmp -s "$WORK/out/signed.iso" "$WORK/out/pkcs12.iso" && echo same || echo different)"
build chain "$WORK/good" "$WORK/out/chain.iso" --sign "$keys/key.pem" "$keys/chain.pem"
expect_eq "signed by a certificate an authority issued, its revocation list not fetched" \
    "0 CN=Quillo Issued CN=Quillo Unknown Authority" \
    "$STATUS $(grep -E '^  (signed by|its issuer):' "$WORK/chain.out" |
        sed -E 's/^[^:]+: +//; s/, SHA-256 .*//' | xargs)"
# What cannot sign: one line each, no image.
MEDIUM_SIGN_PASSWORD=open build wrong "$WORK/good" "$WORK/out/wrong.iso" \
    --sign-pkcs12 "$keys/cert.p12"
expect_eq "a wrong password" "1 make-medium: error: cannot open $keys/cert.p12: the password in MEDIUM_SIGN_PASSWORD is wrong" \
    "$STATUS $ERR"
build other "$WORK/good" "$WORK/out/other.iso" --sign "$keys/other.pem" "$keys/cert.pem"
expect_eq "a key that does not match" "1 make-medium: error: the key $keys/other.pem does not match the certificate $keys/cert.pem" \
    "$STATUS $ERR"
build expired "$WORK/good" "$WORK/out/expired.iso" --sign "$keys/key.pem" "$keys/expired.pem"
expect_eq "an expired certificate" "1 make-medium: error: the certificate CN=Quillo Expired in $keys/expired.pem expired on 2021-01-01" \
    "$STATUS $ERR"
build issued "$WORK/good" "$WORK/out/issued.iso" --sign "$keys/key.pem" "$keys/issued.pem"
expect_eq "a chain that does not verify" "1 make-medium: error: the signature of setup.exe does not verify: unable to get local issuer certificate" \
    "$STATUS $ERR"
expect_eq "no image from what cannot sign" "" \
    "$(cd "$WORK/out" && ls wrong.iso other.iso expired.iso issued.iso 2>/dev/null)"

# ---- Another user's checkout: a run that needs to build nothing there works ----------------
# A copy of the builder and its manifest printer, built, as root owns it; nobody runs it with
# the programs given in MEDIUM_PROGRAMS_DIR, before any run has left a lock file there.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    checkout=$WORK/checkout
    mkdir -p "$checkout/scripts" "$checkout/medium" "$checkout/bootstrap" \
        "$checkout/build/medium" "$WORK/theirs"
    cp -p "$ROOT/scripts/make-medium.sh" "$checkout/scripts/"
    cp -p "$ROOT"/medium/*.py "$ROOT/medium/manifest_rows.cpp" "$checkout/medium/"
    cp -p "$ROOT"/bootstrap/manifest.* "$checkout/bootstrap/"
    cp -p "$ROOT/build/medium/manifest-rows" "$checkout/build/medium/"
    mkdir -p "$checkout/programs/bootstrap" "$checkout/programs/launcher"
    cp "$SETUP_EXE" "$checkout/programs/bootstrap/"
    cp "$ROOT/build/win32/launcher/_zorp.ex_" "$checkout/programs/launcher/"
    chmod -R a+rX "$WORK"
    chown nobody "$WORK/theirs"
    as_nobody() {
        MEDIUM_PROGRAMS_DIR=$checkout/programs setpriv --reuid=nobody --regid=nogroup \
            --clear-groups bash "$checkout/scripts/make-medium.sh" "$WORK/good" "$WORK/theirs/$1" \
            >"$WORK/$1.out" 2>"$WORK/$1.err"
        STATUS=$?
    }
    as_nobody cd.iso
    expect_eq "another user's checkout: the image written, no lock file needed" "0 yes" \
        "$STATUS $([ -s "$WORK/theirs/cd.iso" ] && echo yes || echo no)"
    touch "$checkout/bootstrap/manifest.cpp"
    as_nobody rebuilt.iso
    expect_eq "another user's checkout, the printer to build: one line" "1 make-medium: error: building the manifest printer is needed, but $checkout/build/medium cannot be written: Permission denied" \
        "$STATUS $(cat "$WORK/rebuilt.iso.err")"
else
    log "not root, or no setpriv: the other user's checkout is left out"
fi

# ---- Output paths that cannot be written: one clear line, nothing written -------------------
build folder "$WORK/good" "$WORK/good/Init/Clock/out.iso"
expect_eq "not a folder: exit 1" 1 "$STATUS"
expect_eq "not a folder: one line" "make-medium: error: cannot write $WORK/good/Init/Clock/out.iso: $WORK/good/Init/Clock is not a folder" "$ERR"
# Root may write anywhere it can reach; a read-only mount it cannot.
if mkdir "$WORK/ro" && mount -t tmpfs -o size=1m,ro tmpfs "$WORK/ro" 2>/dev/null; then
    build readonly "$WORK/good" "$WORK/ro/out.iso"
    umount "$WORK/ro"
    expect_eq "read-only: exit 1" 1 "$STATUS"
    expect_eq "read-only: one line" "make-medium: error: cannot write $WORK/ro/out.iso: Read-only file system" "$ERR"
else
    log "no read-only mount here (not root?): that case is left out"
fi
# What is at OUTPUT and is no file is named, and left as it was: a FIFO, a device node (root
# makes one in the scratch folder, never /dev's), a symbolic link; OUTPUT inside the payload.
mkfifo "$WORK/out/fifo.iso"
ln -s fifo.iso "$WORK/out/link.iso"
outputs=("fifo.iso:a FIFO (named pipe)" "link.iso:a symbolic link (to fifo.iso): name the image itself")
if mknod "$WORK/out/null.iso" c 1 3 2>/dev/null; then
    outputs+=("null.iso:a character device")
else
    log "no device node here (not root?): that case is left out"
fi
for output in "${outputs[@]}"; do
    name=${output%%:*}
    before=$(stat -c '%F %N' "$WORK/out/$name")
    build kind "$WORK/good" "$WORK/out/$name"
    expect_eq "$name: one line, exit 1, left as it was" "1 make-medium: error: cannot write $WORK/out/$name: it is ${output#*:}; nothing written $before" \
        "$STATUS $ERR $(stat -c '%F %N' "$WORK/out/$name")"
done
rm "$WORK/out/fifo.iso" "$WORK/out/link.iso" "$WORK/out/null.iso" 2>/dev/null
build inside "$WORK/good" "$WORK/good/Extra/cd.iso"
expect_eq "inside the payload: one line, exit 1, nothing there" "1 make-medium: error: cannot write $WORK/good/Extra/cd.iso: it is inside the payload folder, so the image would go onto its own CD; write it elsewhere " \
    "$STATUS $ERR $(cd "$WORK/good/Extra" && ls -A | grep -i iso)"

# xorriso ending before it writes a byte (a stand-in that fails at once): its reason, and no
# wait for bytes that never come.
mkdir "$WORK/bin"
printf '#!/bin/sh\necho "xorriso : FAILURE : Cannot open the output" >&2\nexit 32\n' \
    >"$WORK/bin/xorriso"
chmod +x "$WORK/bin/xorriso"
PATH=$WORK/bin:$PATH timeout 60 bash "$ROOT/scripts/make-medium.sh" "$WORK/good" \
    "$WORK/out/failed.iso" >/dev/null 2>"$WORK/failed.err"
expect_eq "xorriso failing before its first byte: its reason, exit 1" "1 make-medium: error: writing the image failed: Cannot open the output" \
    "$? $(cat "$WORK/failed.err")"

expect_eq "no run left a partial image" "" "$(find "$WORK/out" -name '.*partial*')"
finish
