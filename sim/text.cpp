// Text in code page 1252: the case rules names are compared by, copies of text into the
// programs' buffers, and the ANSI text functions of the seam.
#include <string.h>

#include "common/platform.h"
#include "sim/model.h"

namespace sim {
namespace model {

unsigned char UpperChar(unsigned char c) {
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned char>(c - 32);
    }
    // Code page 1252: the accented small letters sit 32 above their capitals (but for the
    // division sign 0xF7), and four capitals live elsewhere.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return static_cast<unsigned char>(c - 32);
    }
    switch (c) {
        case 0x9A:
            return 0x8A;
        case 0x9C:
            return 0x8C;
        case 0x9E:
            return 0x8E;
        case 0xFF:
            return 0x9F;
        default:
            return c;
    }
}

std::string Upper(const std::string& text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(UpperChar(static_cast<unsigned char>(c)));
    }
    return result;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return Upper(a) == Upper(b);
}

std::string Text(const char* text) {
    return text == nullptr ? std::string() : text;
}

// Copies the `size` characters of `text` and a NUL when `capacity` holds them; returns the
// Windows result: the length without NUL, or the needed size with NUL when it doesn't fit.
os::Dword CopyOut(const std::string& text, char* buffer, os::Dword capacity) {
    os::Dword length = static_cast<os::Dword>(text.size());
    if (buffer == nullptr || capacity < length + 1) {
        return length + 1;
    }
    memcpy(buffer, text.c_str(), length + 1);
    return length;
}

os::Dword DirectoryOut(const std::string& directory, char* buffer, os::Dword capacity) {
    if (directory.empty()) {
        SetError(os::kErrorFileNotFound);
        return 0;
    }
    return CopyOut(directory, buffer, capacity);
}

}  // namespace model
}  // namespace sim

using namespace sim::model;

namespace os {

char* CharUpperA(char* text) {
    uintptr_t value = reinterpret_cast<uintptr_t>(text);
    // A "pointer" below 64K is a single character in its low byte.
    if (value < 0x10000) {
        Log("CharUpperA", "");
        return reinterpret_cast<char*>(static_cast<uintptr_t>(UpperChar(value & 0xFF)));
    }
    Log("CharUpperA", text);
    for (char* p = text; *p != '\0'; ++p) {
        *p = static_cast<char>(UpperChar(static_cast<unsigned char>(*p)));
    }
    return text;
}

int lstrlenA(const char* text) {
    Log("lstrlenA", Text(text));
    return text == nullptr ? 0 : static_cast<int>(strlen(text));
}

static int Compare(const char* a, const char* b, bool ignoreCase) {
    if (a == nullptr || b == nullptr) {
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    }
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a);
        unsigned char y = static_cast<unsigned char>(*b);
        if (ignoreCase) {
            x = UpperChar(x);
            y = UpperChar(y);
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
        if (x == 0) {
            return 0;
        }
    }
}

int lstrcmpA(const char* a, const char* b) {
    Log("lstrcmpA", Text(a));
    return Compare(a, b, false);
}

int lstrcmpiA(const char* a, const char* b) {
    Log("lstrcmpiA", Text(a));
    return Compare(a, b, true);
}

}  // namespace os
