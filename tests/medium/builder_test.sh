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

# build NAME PAYLOAD OUTPUT: runs the builder; OUT and ERR hold what it printed, STATUS its
# exit code.
build() {
    bash "$ROOT/scripts/make-medium.sh" "$2" "$3" >"$WORK/$1.out" 2>"$WORK/$1.err"
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

expect_eq "no run left a partial image" "" "$(find "$WORK/out" -name '.*partial*')"
finish
