/* fileholder.exe: keeps a file open for reading, as another user's program would, so that
 * nobody can write, replace or delete it meanwhile.
 *
 *   fileholder.exe FILE [-t SECONDS] [-s STOPFILE] [-r READYFILE]
 *
 * Opens FILE for reading, letting others read it too (FILE_SHARE_READ only), prints "held"
 * and creates READYFILE, then keeps it open until STOPFILE exists or SECONDS (default 60)
 * have passed, and prints "closed". Exit 0, or 1 when FILE could not be opened ("failed"). */
#include "tool_util.h"

int main(int argc, char** argv) {
    const char* path = NULL;
    const char* stopPath = NULL;
    const char* readyPath = NULL;
    unsigned long seconds = 60;
    for (int i = 1; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (value != NULL && strcmp(argv[i], "-s") == 0) {
            stopPath = argv[++i];
        } else if (value != NULL && strcmp(argv[i], "-r") == 0) {
            readyPath = argv[++i];
        } else if (value != NULL && strcmp(argv[i], "-t") == 0 && ParseNumber(value, &seconds)) {
            ++i;
        } else if (path == NULL && argv[i][0] != '-') {
            path = argv[i];
        } else {
            path = NULL;
            break;
        }
    }
    if (path == NULL) {
        fprintf(stderr, "usage: fileholder.exe FILE [-t S] [-s STOP] [-r READY]\n");
        return 2;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        Report(NULL, "failed %lu\n", GetLastError());
        return 1;
    }
    Report(NULL, "held\n");
    if (readyPath != NULL) {
        AppendToFile(readyPath, "held\n");
    }
    DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000 && !(stopPath && FileExists(stopPath))) {
        Sleep(50);
    }
    CloseHandle(file);
    Report(NULL, "closed\n");
    return 0;
}
