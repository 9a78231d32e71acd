/* Small helpers shared by the Windows-side test tools. Test tools only: they use the normal
 * mingw C runtime and are never shipped. */
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Appends text to a file, creating it; one WriteFile call, so records written by two processes
 * at the same time do not interleave. Returns nonzero on success. */
static inline int AppendToFile(const char* path, const char* text) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD written = 0;
    DWORD length = (DWORD)strlen(text);
    BOOL ok = WriteFile(file, text, length, &written, NULL) && written == length;
    CloseHandle(file);
    return ok;
}

/* Prints to stdout (flushed at once, since tests read it while the tool runs) and, when
 * `copyPath` is given, appends the same text to that file. */
static inline void Report(const char* copyPath, const char* format, ...) {
    char text[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fputs(text, stdout);
    fflush(stdout);
    if (copyPath != NULL) {
        AppendToFile(copyPath, text);
    }
}

static inline int FileExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

/* Reads a whole file into a NUL-terminated heap buffer; NULL when it cannot be read or holds
 * more than `limit` bytes. */
static inline char* ReadWholeFile(const char* path, DWORD limit) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return NULL;
    }
    DWORD size = GetFileSize(file, NULL);
    char* data = NULL;
    DWORD got = 0;
    if (size != INVALID_FILE_SIZE && size <= limit) {
        data = (char*)malloc(size + 1);
        if (data != NULL && (!ReadFile(file, data, size, &got, NULL) || got != size)) {
            free(data);
            data = NULL;
        }
    }
    CloseHandle(file);
    if (data != NULL) {
        data[size] = '\0';
    }
    return data;
}

/* Copies `text` into `out` with CR, LF, tab and double quote escaped as \r \n \t \", so that a
 * message of several lines prints as one line. Backslashes stay as they are (paths read
 * naturally); the output is cut at `size` - 1 characters. */
static inline void EscapeLine(const char* text, char* out, size_t size) {
    size_t used = 0;
    for (; *text != '\0' && used + 3 < size; ++text) {
        char c = *text;
        char escaped = c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\t' ? 't' : c == '"' ? '"' : 0;
        if (escaped) {
            out[used++] = '\\';
            out[used++] = escaped;
        } else {
            out[used++] = c;
        }
    }
    out[used] = '\0';
}

/* Parses a decimal or 0x-prefixed number; the whole text must be a number. */
static inline int ParseNumber(const char* text, unsigned long* value) {
    char* end = NULL;
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    if (*text == '\0') {
        return 0;
    }
    *value = strtoul(text, &end, 0);
    while (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n') {
        ++end;
    }
    return *end == '\0';
}
