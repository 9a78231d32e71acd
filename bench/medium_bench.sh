#!/bin/bash
# Medium builder benchmark: scripts/make-medium.sh making the image of a 55 MB payload, the
# whole command as a publisher runs it (the deliverables' up-to-date check, layout, checks,
# xorriso, the read-back of every file and the SHA-256), against plain xorriso writing the same
# tree (the payload with setup.exe, Init\_zorp.ex_ and AUTORUN.INF laid out in a folder) with
# the options the builder gives it (-pacifier interval=0.1 and -stdio_sync end too, which
# spare plain xorriso its waits as they spare the builder's: see medium/image.py). Runs
# alternate, after one untimed warm-up of each; both write their image anew into the same
# folder: first a tmpfs, where the work alone shows, then the disk, as a publisher writes an
# image. No Wine runs; the test bed only makes the payload.
# Goal: on the disk, the builder takes at most 1.3 times plain xorriso (medians).
#
#   bench/medium_bench.sh          (BENCH_ROOT, BENCH_RUNS (default 9 here): see bench_lib.sh)
set -uo pipefail
BENCH_RUNS=${BENCH_RUNS:-9}  # cheap runs, and a shared disk's flushes make them noisy
source "$(dirname "$0")/bench_lib.sh"
WINE_TEST_NAME=medium_bench
WORK=$WINE_TEST_ROOT/work/medium_bench
PROGRAMS=$BENCH_REPO/build/win32
rm -rf "$WORK"
mkdir -p "$WORK/out"

make_payload "$WORK/payload" 55
cp -a "$WORK/payload" "$WORK/tree"
cp "$PROGRAMS/bootstrap/setup.exe" "$WORK/tree/setup.exe"
cp "$PROGRAMS/launcher/_zorp.ex_" "$WORK/tree/Init/_zorp.ex_"
printf '[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\n' >"$WORK/tree/AUTORUN.INF"

# now_us: a monotonic clock in microseconds.
now_us() { echo $(($(date +%s%N) / 1000)); }

# run_side NAME FOLDER: writes one image into FOLDER and sets BENCH_US.
run_side() {
    local start status
    rm -f "$2/$1.iso"
    start=$(now_us)
    case "$1" in
    builder) bash "$BENCH_REPO/scripts/make-medium.sh" "$WORK/payload" "$2/builder.iso" \
        >"$WORK/builder.out" 2>&1 ;;
    xorriso) TZ=UTC xorriso -no_rc -report_about SORRY -joliet on -rockridge off \
        -compliance no_emul_toc -padding included -pacifier interval=0.1 -stdio_sync end \
        -volid QUILLO40 -volume_date uuid 2000010100000000 -iso_nowtime =946684800 \
        -outdev "stdio:$2/xorriso.iso" -map "$WORK/tree" / -alter_date_r b =946684800 / -- \
        -commit >/dev/null 2>&1 ;;
    esac
    status=$?
    BENCH_US=$(($(now_us) - start))
    [ "$status" = 0 ] || { echo "   $1 failed:" && cat "$WORK/builder.out"; exit 1; } >&2
}

# The two sides, writing into OUT_FOLDER.
run_builder() { run_side builder "$OUT_FOLDER"; }
run_xorriso() { run_side xorriso "$OUT_FOLDER"; }

# compare FOLDER WHERE: alternating runs into FOLDER; sets RATIO.
compare() {
    OUT_FOLDER=$1
    alternate run_builder run_xorriso
    local builder_us=("${A_US[@]}") xorriso_us=("${B_US[@]}") folder=$1
    local builder_median xorriso_median
    builder_median=$(median "${builder_us[@]}")
    xorriso_median=$(median "${xorriso_us[@]}")
    RATIO=$(ratio "$builder_median" "$xorriso_median")
    echo "   $2"
    echo "     make-medium.sh, ms:$(list "${builder_us[@]}")  median $(ms "$builder_median")"
    echo "     plain xorriso,  ms:$(list "${xorriso_us[@]}")  median $(ms "$xorriso_median")"
    echo "     the two images are $(cmp -s "$folder/builder.iso" "$folder/xorriso.iso" &&
        echo byte-identical || echo different); make-medium.sh / plain xorriso = $RATIO"
    # xorriso ends only once it has looked and found its writing done: 0.1 s after starting
    # it, then every 0.1 s. The runs in which the first look came too early took 0.05 s or
    # more over the side's fastest; the lower quartiles compare the runs it did not.
    echo "     lower quartiles $(ms "$(quartile "${builder_us[@]}")") and" \
        "$(ms "$(quartile "${xorriso_us[@]}")") ms: $(ratio "$(quartile "${builder_us[@]}")" \
            "$(quartile "${xorriso_us[@]}")"); runs 0.05 s or more over the side's fastest:" \
        "$(waited "${builder_us[@]}") and $(waited "${xorriso_us[@]}")"
}

# quartile MICROSECONDS...: the lower quartile (the value a quarter of the way up).
quartile() {
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 3) / 4)] }'
}

# waited MICROSECONDS...: how many runs took 50 ms or more over the fastest.
waited() {
    printf '%s\n' "$@" | sort -n |
        awk 'NR == 1 { low = $1 } $1 >= low + 50000 { n++ } END { print n + 0 }'
}

echo "== Medium builder benchmark: the image of a $(($(du -sb "$WORK/payload" | cut -f1) / 1048576)) MB" \
    "payload, make-medium.sh against plain xorriso"
echo "   $(xorriso -version 2>/dev/null | head -n1), $(nproc) cores; medians of $BENCH_RUNS runs"
# In memory, the builder's own work shows: the read-back and the SHA-256 read the image again.
if mkdir -p "$WORK/memory" && mount -t tmpfs -o size=256m tmpfs "$WORK/memory" 2>/dev/null; then
    compare "$WORK/memory" "into a tmpfs (the work alone, no disk):"
    umount "$WORK/memory"
fi
# On the disk, as a publisher writes an image; xorriso flushes the image as it writes it.
compare "$WORK/out" "into $WORK/out (on the disk, as a publisher writes it):"
within "$RATIO" 1.30
echo "   on the disk: make-medium.sh / plain xorriso = $RATIO  (goal <= 1.30: $VERDICT)"
exit "$BENCH_STATUS"
