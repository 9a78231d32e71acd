// schedule_delete.exe: schedules files for deletion at the next start of Windows through the
// launcher's own DeleteAtRestart, so that a Wine test can watch that code write WinInit.ini
// (9x personality) or PendingFileRenameOperations (NT) and see a restart carry it out.
//
//   schedule_delete.exe PATH [PATH ...]
//
// Each PATH is passed to DeleteAtRestart exactly as given, relative ones too (they are taken
// against the working directory the runner gives). PATHs are separated by blanks; a PATH in
// double quotes may hold blanks. The exit code has bit N set when the call for the (N+1)th
// PATH reported false: 0 means every one was recorded. 0x80000000 means no PATH or more
// than 31 of them.
//
// Built like the programs (no C runtime, common_win's seam and entry point), since the code
// under test is theirs; the entry point hands WinMain the command-line tail.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "launcher/restart_deletion.h"

static const int kMostPaths = 31;
static const int kUsageError = static_cast<int>(0x80000000u);

static bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Cuts the next word off `*cursor` in place (the tail is the process's writable copy of its
// command line) and returns it; nullptr when no word is left.
static char* NextWord(char** cursor) {
    char* p = *cursor;
    while (IsBlank(*p)) {
        ++p;
    }
    if (*p == '\0') {
        return nullptr;
    }
    char end = ' ';
    if (*p == '"') {
        end = '"';
        ++p;
    }
    char* word = p;
    while (*p != '\0' && *p != end && !(end == ' ' && *p == '\t')) {
        ++p;
    }
    if (*p != '\0') {
        *p++ = '\0';
    }
    *cursor = p;
    return word;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
    char* cursor = tail;
    int failed = 0;
    int count = 0;
    for (char* path = NextWord(&cursor); path != nullptr; path = NextWord(&cursor)) {
        if (count == kMostPaths) {
            return kUsageError;
        }
        if (!DeleteAtRestart(path)) {
            failed |= 1 << count;
        }
        ++count;
    }
    return count == 0 ? kUsageError : failed;
}
