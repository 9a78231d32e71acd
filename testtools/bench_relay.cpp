// bench_relay.exe: the middle one of the chain benchmark's three trivial programs, in the
// launcher's place (staged as _zorp.ex_). It starts _zorp.exe from its working directory with
// its own command-line tail, as the launcher does, waits for it and ends with exit code 1
// (0 when it could not start it). Nothing else: no guard, no cleanup, no restart entries.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "common/path.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
    char directory[kMaxPath];
    DWORD length = GetCurrentDirectoryA(kMaxPath, directory);
    if (length == 0 || length >= kMaxPath) {
        return 0;
    }
    StripTrailingBackslash(directory);
    char commandLine[2 * kMaxPath];
    if (!CopyText(commandLine, "\"") || !AppendText(commandLine, directory) ||
        !AppendText(commandLine, "\\_zorp.exe\" ") || !AppendText(commandLine, tail)) {
        return 0;
    }
    STARTUPINFOA startup;
    ZeroBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}
