// Prints the manifest that setup is built with, one row a line, so that the medium builder
// checks a publisher's medium against the very table setup stages from.
#include <cstdio>

#include "bootstrap/manifest.h"

int main() {
    for (const char* row : kManifest) {
        if (std::printf("%s\n", row) < 0) {
            return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
