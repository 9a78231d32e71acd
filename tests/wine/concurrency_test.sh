#!/bin/bash
# Several stages at once under Wine, in the 9x and the NT personality; every message box is
# answered and recorded by the session's box collector.
# 1. Eight copies of setup.exe started together from one medium (the recorder stands in for
#    the launcher): each ends with 1 or E_FAIL (never a crash), each E_FAIL came with the
#    guard's message, each 1 started one launcher, and once all have ended every staged file
#    equals the medium's. setup's guard waits 5 s, so a later copy may stage again after an
#    earlier one has released the mutex; that is allowed. Unhindered, each copy stages in well
#    under a second and all eight get through, so in the NT round the eight first queue
#    behind another stage (mutexholder) for 4 s, and the last of them are refused.
# 2. Two copies of the real launcher started together from that staging area, their installer
#    (the recorder) held until both are in: each ends with 1 or E_FAIL (with its guard's
#    message), both clean up at the same time, and the restart list survives: on 9x
#    WinInit.ini keeps every line it was seeded with and gains only entries for _zorp.ex_ in
#    its [Rename] section, at least one of them; on NT the pending deletions name only the
#    launcher's three files (Wine records the delayed deletion of a file already gone too).
# Boxes of several processes overlap on screen, so an icon may only be told as "shown".
source "$(dirname "$0")/lib.sh"

SETUP_GUARD='There is more than one copy of the Quillo Setup program running.'
LAUNCHER_GUARD='I aborted application startup because I detected another version of Setup'
LAUNCHER_GUARD+=' running.'
# The restart list before the launchers run: a section before and after [Rename], an entry of
# someone else's, and a blank line that ends the section. The launchers' entries go after that
# blank line, directly before [Other].
SEED_HEAD=('[boot]' 'shell=Explorer.exe' '' '[Rename]' 'NUL=C:\OTHER\LEFTOVER.TMP' '')
SEED_TAIL=('[Other]' 'key=value')
ENTRY='NUL=C:\windows\temp\Init\_zorp.ex_'

# repeat N LINE: LINE, N times.
repeat() {
    local i
    for ((i = 0; i < $1; i++)); do
        printf '%s\n' "$2"
    done
}

# restart_list ENTRIES: the seeded list with that many of the launchers' entries, LF ends.
restart_list() {
    printf '%s\n' "${SEED_HEAD[@]}"
    repeat "$1" "$ENTRY"
    printf '%s\n' "${SEED_TAIL[@]}"
}

make_prefix
make_medium "$WORK/cd" --launcher recorder
map_cdrom "$WORK/cd"
start_session 24
staging=$(hostpath 'C:\windows\TEMP')
tools=$WINEPREFIX/drive_c/tools

# start_all COUNT 'CMDLINE' CWD: starts COUNT runners of CMDLINE at once, each with its
# result in C:\tools\bg-N.txt (RESULT_FILES) and, on the host, what Wine itself said and the
# runner's Unix exit status in $WORK/bg-N.log.
start_all() {
    RESULT_FILES=()
    local i n
    for i in $(seq "$1"); do
        WINE_RUN_COUNT=$((WINE_RUN_COUNT + 1))
        n=$WINE_RUN_COUNT
        printf '%s' "$2" >"$tools/cmd-$n.txt"
        (
            WINE_RUN_TIMEOUT=300 wine_run 'C:\tools\runner.exe' -t 240 -d "$3" \
                -o "C:\\tools\\bg-$n.txt" "C:\\tools\\cmd-$n.txt" </dev/null
            echo "unix status $?"
        ) >"$WORK/bg-$n.log" 2>&1 &
        RESULT_FILES+=("$tools/bg-$n.txt")
    done
}

# wait_all SECONDS: waits for every runner of start_all; EXITS = their exit codes, one per
# line ("none" for a runner without a result).
wait_all() {
    local deadline=$((SECONDS + $1)) file done
    while [ "$SECONDS" -lt "$deadline" ]; do
        done=1
        for file in "${RESULT_FILES[@]}"; do
            grep -q '^exit=' "$file" 2>/dev/null || done=0
        done
        [ "$done" = 1 ] && break
        sleep 0.2
    done
    EXITS=$(for file in "${RESULT_FILES[@]}"; do
        code=$(tr -d '\r' 2>/dev/null <"$file" | sed -n 's/^exit=\(0x[0-9A-F]*\) .*/\1/p')
        echo "${code:-none}"
    done)
    if [ "$done" != 1 ]; then
        for file in "${RESULT_FILES[@]}"; do
            grep -qs '^exit=' "$file" && continue
            file=$(basename "$file" .txt)
            log "$file: no result; the runner's output:"
            sed 's/^/    /' "$WORK/$file.log"
        done
        log "not every runner ended within $1 s; Windows processes and windows now:"
        ps -eo pid,etime,stat,args | grep -iE '[.]exe|[.]ex_' | sed 's/^/    /'
        wine_run 'C:\tools\winhelper.exe' list 2>/dev/null | sed 's/^/    /'
    fi
}

# count LINES PATTERN: the lines of LINES that match the grep -E PATTERN.
count() {
    printf '%s\n' "$1" | grep -cE -- "$2"
}

for personality in 9x nt; do
    set_personality "$personality"
    remove_staging "$staging"
    launchers=$tools/launchers-$personality.txt
    installers=$tools/installers-$personality.txt
    windows=$(hostpath 'C:\windows')
    if [ "$personality" = 9x ]; then
        rm -f "$windows/WinInit.tmp" "$windows/WinInit.old"
        restart_list 0 | sed 's/$/\r/' >"$windows/WinInit.ini"
    else
        wine_run reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager' \
            /v PendingFileRenameOperations /f >/dev/null 2>&1
    fi

    # 1. Eight setups at once.
    before=$(boxes_seen | wc -l)
    if [ "$personality" = nt ]; then
        hold_mutex 60 || EXPECT_FAILURES=$((EXPECT_FAILURES + 1))
        RECORDER_LOG=$(winpath "$launchers") start_all 8 'E:\setup.exe' 'E:\'
        sleep 4.5
        release_mutex
    else
        RECORDER_LOG=$(winpath "$launchers") start_all 8 'E:\setup.exe' 'E:\'
    fi
    wait_all 60
    wait_process setup.exe 30
    wait_process _zorp.ex_ 30
    boxes=$(boxes_after "$before")
    launched=$(count "$EXITS" '^0x00000001$')
    refused=$(count "$EXITS" '^0x80004005$')
    log "$personality, eight setups: $launched launched, $refused refused"
    expect_eq "$personality, eight setups: every exit code is 1 or E_FAIL" "" \
        "$(printf '%s\n' "$EXITS" | grep -vxE '0x00000001|0x80004005')"
    expect_eq "$personality, eight setups: one guard message per E_FAIL" "$refused" \
        "$(count "$boxes" "^box caption=\"ERROR\" icon=(error|shown) text=\"$SETUP_GUARD\"\$")"
    expect_eq "$personality, eight setups: no other message" "" \
        "$(printf '%s\n' "$boxes" | grep -vF "text=\"$SETUP_GUARD\"")"
    # A setup that starts while an earlier stage's launcher still runs cannot overwrite that
    # running _zorp.ex_; it does not start a file it did not copy, and stages on the best
    # fixed drive instead (C:\TEMP here).
    cwds=$(record_field cwd "$launchers")
    expect_eq "$personality, eight setups: one launcher per setup that launched" "$launched" \
        "$(count "$cwds" '^C:\\(windows\\)?TEMP\\Init$')"
    expect_staged "$personality, eight setups" "$staging"
    if grep -qxF 'C:\TEMP\Init' <<<"$cwds"; then
        expect_staged "$personality, eight setups, fallback" "$WINEPREFIX/drive_c/TEMP"
    fi
    rm -rf "$WINEPREFIX/drive_c/TEMP"

    # 2. Two launchers at once from the staging area, installer held until both are in.
    cp "$(program_path _zorp.ex_)" "$staging/Init/_zorp.ex_"
    rm -f "$tools/go"
    before=$(boxes_seen | wc -l)
    RECORDER_LOG=$(winpath "$installers") RECORDER_WAIT_FILE='C:\tools\go' \
        RECORDER_WAIT_SECONDS=30 start_all 2 '"C:\windows\TEMP\Init\_zorp.ex_" E:\Init' \
        'C:\windows\TEMP\Init'
    # Both installers started, or one launcher has already ended (refused, or no installer).
    for i in $(seq 150); do
        [ "$(record_field cwd "$installers" | wc -l)" -ge 2 ] && break
        grep -qs '^exit=' "${RESULT_FILES[@]}" && break
        sleep 0.1
    done
    touch "$tools/go"
    wait_all 60
    boxes=$(boxes_after "$before")
    done_count=$(count "$EXITS" '^0x00000001$')
    refused=$(count "$EXITS" '^0x80004005$')
    log "$personality, two launchers: $done_count done, $refused refused"
    expect_eq "$personality, two launchers: every exit code is 1 or E_FAIL" "" \
        "$(printf '%s\n' "$EXITS" | grep -vxE '0x00000001|0x80004005')"
    expect_eq "$personality, two launchers: one guard message per E_FAIL" "$refused" \
        "$(count "$boxes" "^box caption=\"ERROR\" icon=(error|shown) text=\"$LAUNCHER_GUARD\"\$")"
    expect_eq "$personality, two launchers: no other message" "" \
        "$(printf '%s\n' "$boxes" | grep -vF "text=\"$LAUNCHER_GUARD\"")"
    expect_eq "$personality, two launchers: one installer per launcher that ran" \
        "$(repeat "$done_count" 'C:\windows\TEMP\Init')" "$(record_field cwd "$installers")"
    expect_eq "$personality, two launchers: only the launcher itself is left" \
        "Init Init/_zorp.ex_" \
        "$(cd "$staging" && find Config Init Extra English 2>/dev/null | sort | paste -sd ' ')"

    if [ "$personality" = 9x ]; then
        list=$(tr -d '\r' 2>/dev/null <"$windows/WinInit.ini")
        entries=$(printf '%s\n' "$list" | grep -cxF "$ENTRY")
        # Both launchers schedule the same file: one edit may replace the other's, but each
        # launcher that got this far ran to its end, so at least one entry must be there.
        least=$((done_count > 0 ? 1 : 0))
        expect_eq "$personality, two launchers: WinInit.ini has $least to $done_count entries" \
            yes "$([ "$entries" -ge "$least" ] && [ "$entries" -le "$done_count" ] && echo yes ||
                echo "$entries")"
        expect_eq "$personality, two launchers: WinInit.ini keeps its lines, entries in [Rename]" \
            "$(restart_list "$entries")" "$list"
    else
        pending=$(pending_renames)
        expect_match "$personality, two launchers: _zorp.ex_ is scheduled for deletion" \
            '^C:\\windows\\TEMP\\Init\\_zorp\.ex_ -> $' "$pending"
        expect_eq "$personality, two launchers: only the launcher's files are scheduled" "" \
            "$(printf '%s\n' "$pending" |
                grep -vxE 'C:\\windows\\TEMP\\Init\\(cfgmgr32\.dll|setupapi\.dll|_zorp\.ex_) -> ')"
    fi
done

finish
