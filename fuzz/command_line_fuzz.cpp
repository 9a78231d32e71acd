// Fuzzes the command-line tail parsing shared by both programs' entry points.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/command_line.h"

static bool BlankOrControl(char c) {
    return c != '\0' && static_cast<unsigned char>(c) <= ' ';
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    line = line.c_str();  // a command line ends at its first NUL
    const char* start = line.c_str();
    const char* tail = CommandLineTail(start);
    size_t offset = static_cast<size_t>(tail - start);

    // The tail lies inside the line and never starts with a blank or control character.
    if (offset > line.size() || BlankOrControl(*tail)) {
        abort();
    }
    // Whatever was skipped is the program name followed only by blanks and control characters.
    size_t nameEnd = offset;
    while (nameEnd > 0 && BlankOrControl(line[nameEnd - 1])) {
        --nameEnd;
    }
    std::string name = line.substr(0, nameEnd);
    if (!name.empty() && name[0] == '"') {
        // A quoted name holds no quote but its closing one, which ends it.
        size_t close = name.find('"', 1);
        if (close != std::string::npos && close != name.size() - 1) {
            abort();
        }
    } else {
        for (char c : name) {
            if (BlankOrControl(c)) {
                abort();
            }
        }
    }
    return 0;
}
