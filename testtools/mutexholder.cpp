/* mutexholder.exe: owns the setup mutex for a while, standing in for another running stage.
 *
 *   mutexholder.exe [-m NAME] [-t SECONDS] [-s STOPFILE] [-r READYFILE] [-a]
 *
 * Creates NAME (default "MutexToProtectSetup"), waits up to 5 s to own it, prints "owned" and
 * creates READYFILE, then holds it until STOPFILE exists or SECONDS (default 30) have passed.
 * Then it releases it ("released"), or with -a ends without releasing, so the mutex becomes
 * abandoned ("abandoned"). Exit 0, or 1 when it could not own the mutex ("busy"). */
#include "tool_util.h"

int main(int argc, char** argv) {
    const char* name = "MutexToProtectSetup";
    const char* stopPath = NULL;
    const char* readyPath = NULL;
    unsigned long seconds = 30;
    int abandon = 0;
    for (int i = 1; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (strcmp(argv[i], "-a") == 0) {
            abandon = 1;
        } else if (value != NULL && strcmp(argv[i], "-m") == 0) {
            name = argv[++i];
        } else if (value != NULL && strcmp(argv[i], "-s") == 0) {
            stopPath = argv[++i];
        } else if (value != NULL && strcmp(argv[i], "-r") == 0) {
            readyPath = argv[++i];
        } else if (value != NULL && strcmp(argv[i], "-t") == 0 && ParseNumber(value, &seconds)) {
            ++i;
        } else {
            fprintf(stderr, "usage: mutexholder.exe [-m NAME] [-t S] [-s STOP] [-r READY] [-a]\n");
            return 2;
        }
    }
    HANDLE mutex = CreateMutexA(NULL, FALSE, name);
    DWORD wait = mutex != NULL ? WaitForSingleObject(mutex, 5000) : WAIT_FAILED;
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        Report(NULL, "busy\n");
        return 1;
    }
    Report(NULL, "owned\n");
    if (readyPath != NULL) {
        AppendToFile(readyPath, "owned\n");
    }
    DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000 && !(stopPath && FileExists(stopPath))) {
        Sleep(50);
    }
    if (abandon) {
        Report(NULL, "abandoned\n");
        ExitProcess(0);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    Report(NULL, "released\n");
    return 0;
}
