#include "common/command_line.h"

static bool IsBlankOrControl(char c) {
    return c != '\0' && static_cast<unsigned char>(c) <= ' ';
}

const char* CommandLineTail(const char* commandLine) {
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (*p != '\0' && !IsBlankOrControl(*p)) {
            ++p;
        }
    }
    while (IsBlankOrControl(*p)) {
        ++p;
    }
    return p;
}
