# Expectations of the shell tests (tests/wine/lib.sh, tests/medium/): each says ok or FAIL with
# what it saw, under the test's name, and counts the failures in EXPECT_FAILURES.

EXPECT_NAME=$(basename "${0%.sh}")
EXPECT_FAILURES=0

log() { printf '[%s] %s\n' "$EXPECT_NAME" "$*"; }

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
    if [ "$2" = "$3" ]; then
        log "ok: $1"
    else
        log "FAIL: $1: expected '$2', got '$3'"
        EXPECT_FAILURES=$((EXPECT_FAILURES + 1))
    fi
}

# expect_match WHAT PATTERN TEXT (a grep -E pattern that must match a line of TEXT)
expect_match() {
    if printf '%s\n' "$3" | grep -qE -- "$2"; then
        log "ok: $1"
    else
        log "FAIL: $1: no line matches '$2' in:"
        printf '%s\n' "$3" | sed 's/^/    /'
        EXPECT_FAILURES=$((EXPECT_FAILURES + 1))
    fi
}

# Ends the test: exit 0 when every expectation held, 1 otherwise (an EXIT trap cleans up).
finish() {
    if [ "$EXPECT_FAILURES" -gt 0 ]; then
        log "$EXPECT_FAILURES expectation(s) failed"
        exit 1
    fi
    log "passed"
    exit 0
}
