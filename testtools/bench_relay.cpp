// bench_relay.exe: the middle program of the chain benchmark's floor chain, in the launcher's
// place (staged as _zorp.ex_). It does the launcher's file work by the most direct calls:
// starts _zorp.exe from its working directory with its own command-line tail and waits for
// it, deletes the 20 staged files, removes the three staging directories beside Init, and
// schedules cfgmgr32.dll, setupapi.dll and _zorp.ex_ for deletion at restart: a
// MoveFileExA(MOVEFILE_DELAY_UNTIL_REBOOT) each on NT; on 95/98, one append to WinInit.ini of
// a [Rename] section with a NUL=<short path> line for each of them still there (a file
// already deleted has no short path, as in the launcher). The append replaces nothing and
// flushes nothing: the list's crash-safe replacement is what the launcher pays beyond it. The
// benchmark starts every run without a WinInit.ini, so the append makes the list the
// launcher would.
//
// No guard, no path building beyond the short paths, no second look at anything. A floor that
// skipped work would look fast, so it checks what each call reports: exit code 1 when all of
// it was done; 0 when _zorp.exe did not start; 2 when a file or a directory was not removed;
// 3 when a deletion at restart was not recorded. The chain's timer sees only the first
// program's exit code, so any other code is also written to bench_relay.err in the working
// directory, where the chain benchmark's check of the staging area finds it (a file that was
// never staged is not deleted either, and would otherwise go unseen); that check also
// compares the restart list with the real chain's.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "common/path.h"
#include "launcher/staging_cleanup.h"

namespace {

// The files are the launcher's own list (relative to Init, the working directory); of its
// directories, the three beside Init, which holds this program.
const char* const kSiblingDirectories[] = {"..\\Config", "..\\Extra", "..\\English"};
const char* const kDeleteAtRestart[] = {"cfgmgr32.dll", "setupapi.dll", "_zorp.ex_"};

bool StartAndWait(const char* directory, const char* tail) {
    char commandLine[2 * kMaxPath];
    if (!CopyText(commandLine, "\"") || !AppendText(commandLine, directory) ||
        !AppendText(commandLine, "\\_zorp.exe\" ") || !AppendText(commandLine, tail)) {
        return false;
    }
    STARTUPINFOA startup;
    ZeroBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool RemoveStagingArea() {
    bool removed = true;
    for (const char* file : kStagedFiles) {
        removed = DeleteFileA(file) && removed;
    }
    for (const char* directory : kSiblingDirectories) {
        removed = RemoveDirectoryA(directory) && removed;
    }
    return removed;
}

bool IsWindowsNT() {
    OSVERSIONINFOA info;
    ZeroBytes(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The [Rename] section with the entries for the files still in `directory`, appended to
// WinInit.ini in one write. 95/98 has no FILE_APPEND_DATA: the write goes at the end.
bool AppendRestartEntries(const char* directory) {
    char list[kMaxPath];
    UINT length = GetWindowsDirectoryA(list, kMaxPath);
    if (length == 0 || length >= kMaxPath) {
        return false;
    }
    StripTrailingBackslash(list);
    char section[4 * kMaxPath + 16];
    if (!AppendText(list, "\\WinInit.ini") || !CopyText(section, "[Rename]\r\n")) {
        return false;
    }
    for (const char* name : kDeleteAtRestart) {
        char path[kMaxPath];
        char shortPath[kMaxPath];
        if (!CopyText(path, directory) || !AppendText(path, "\\") || !AppendText(path, name)) {
            return false;
        }
        length = GetShortPathNameA(path, shortPath, kMaxPath);
        if (length != 0 && (length >= kMaxPath || !AppendText(section, "NUL=") ||
                            !AppendText(section, shortPath) || !AppendText(section, "\r\n"))) {
            return false;
        }
    }
    HANDLE file =
        CreateFileA(list, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD size = static_cast<DWORD>(TextLength(section));
    DWORD written = 0;
    bool appended = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                    WriteFile(file, section, size, &written, nullptr) && written == size;
    return CloseHandle(file) && appended;
}

bool ScheduleDeletionsAtRestart(const char* directory) {
    if (!IsWindowsNT()) {
        return AppendRestartEntries(directory);
    }
    bool scheduled = true;
    for (const char* name : kDeleteAtRestart) {
        scheduled = MoveFileExA(name, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) && scheduled;
    }
    return scheduled;
}

// Leaves the code where the benchmark looks: the exit code itself reaches no one.
int Fail(int code) {
    char text[] = "exit=0\r\n";
    text[5] = static_cast<char>('0' + code);
    HANDLE file = CreateFileA("bench_relay.err", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, text, sizeof text - 1, &written, nullptr);
    CloseHandle(file);
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
    char directory[kMaxPath];
    DWORD length = GetCurrentDirectoryA(kMaxPath, directory);
    if (length == 0 || length >= kMaxPath) {
        return Fail(0);
    }
    StripTrailingBackslash(directory);
    if (!StartAndWait(directory, tail)) {
        return Fail(0);
    }
    bool removed = RemoveStagingArea();
    bool scheduled = ScheduleDeletionsAtRestart(directory);
    return !removed ? Fail(2) : !scheduled ? Fail(3) : 1;
}
