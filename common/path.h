// Path buffers and the bounded text helpers that fill them.
//
// Every copy into a fixed buffer goes through CopyText or AppendText. They never write past
// the buffer and never cut a text short: when the result would not fit, they report false
// and leave the buffer exactly as it was, so a caller cannot go on with a shortened path.
#pragma once

#include <stddef.h>

// The platform's maximum path, terminating NUL included.
constexpr size_t kMaxPath = 260;
typedef char PathBuffer[kMaxPath];

size_t TextLength(const char* text);

// dst = src. False, and dst untouched, when src and its NUL need more than capacity.
bool CopyText(char* dst, size_t capacity, const char* src);
// dst += src. False, and dst untouched, when the result and its NUL need more than capacity.
bool AppendText(char* dst, size_t capacity, const char* src);

template <size_t N>
inline bool CopyText(char (&dst)[N], const char* src) {
    return CopyText(dst, N, src);
}
template <size_t N>
inline bool AppendText(char (&dst)[N], const char* src) {
    return AppendText(dst, N, src);
}

// Removes one trailing backslash: C:\ becomes C:, C:\TEMP\ becomes C:\TEMP. An empty path
// stays empty.
void StripTrailingBackslash(char* path);

// Fills `bytes` bytes at dst with zero.
void ZeroBytes(void* dst, size_t bytes);
