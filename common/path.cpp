#include "common/path.h"

size_t TextLength(const char* text) {
    size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

bool CopyText(char* dst, size_t capacity, const char* src) {
    size_t length = TextLength(src);
    if (length >= capacity) {
        return false;
    }
    for (size_t i = 0; i <= length; ++i) {
        dst[i] = src[i];
    }
    return true;
}

bool AppendText(char* dst, size_t capacity, const char* src) {
    size_t start = 0;
    // A dst without a NUL inside its capacity is already broken; refuse rather than scan on.
    while (start < capacity && dst[start] != '\0') {
        ++start;
    }
    if (start >= capacity) {
        return false;
    }
    return CopyText(dst + start, capacity - start, src);
}

void StripTrailingBackslash(char* path) {
    size_t length = TextLength(path);
    if (length > 0 && path[length - 1] == '\\') {
        path[length - 1] = '\0';
    }
}

void ZeroBytes(void* dst, size_t bytes) {
    volatile unsigned char* p = static_cast<unsigned char*>(dst);
    for (size_t i = 0; i < bytes; ++i) {
        p[i] = 0;
    }
}
