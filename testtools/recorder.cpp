/* recorder.exe: a stand-in program that writes down how it was started.
 *
 * Used as a test medium's Init\_zorp.exe (the installer) and, where a test needs it, as
 * Init\_zorp.ex_ (the launcher). Each run appends one record to the file named by the
 * environment variable RECORDER_LOG (default C:\record.txt); the environment reaches it
 * through setup and the launcher, which both pass their own on:
 *
 *   [record]
 *   module=C:\windows\TEMP\Init\_zorp.exe
 *   cmdline=C:\windows\TEMP\Init\_zorp.exe E:\Init
 *   cwd=C:\windows\TEMP\Init
 *   parent=C:\windows\TEMP\Init\_zorp.ex_ E:\Init   (the starting process's command line)
 *   mutex=free            (free, held, abandoned or none: could it own "MutexToProtectSetup"
 *                          at once? It releases it again at once.)
 *   exit=0
 *   file=Init\Arrows.dll 4   (only with RECORDER_LIST=1: the staging area around the cwd)
 *   [end]
 *
 * The exit code comes from, in this order: a file beside the program named like it plus
 * ".exit" (C:\...\_zorp.exe.exit), the variable RECORDER_EXIT_<NAME> (NAME is the program's
 * file name upper-cased with every other character turned into '_': RECORDER_EXIT__ZORP_EXE),
 * the variable RECORDER_EXIT; default 0. Numbers may be decimal or 0x-hex.
 * After writing the record it waits until the file RECORDER_WAIT_FILE exists (at most
 * RECORDER_WAIT_SECONDS, default 60) and sleeps RECORDER_SLEEP_MS, so a test can act while
 * it runs. Built with STANDIN_WINDOW (standin_installer.exe), it also shows a window saying
 * how it was started for RECORDER_SHOW_MS (default 1500 ms), for the demo. */
#include "tool_util.h"

#include <tlhelp32.h>
#include <winternl.h>

static char gRecord[16384];

static void Add(const char* format, ...) {
    size_t used = strlen(gRecord);
    va_list args;
    va_start(args, format);
    vsnprintf(gRecord + used, sizeof gRecord - used, format, args);
    va_end(args);
}

static const char* FileName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') {
            name = p + 1;
        }
    }
    return name;
}

static int EnvNumber(const char* name, unsigned long* value) {
    char text[64];
    DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    return length > 0 && length < sizeof text && ParseNumber(text, value);
}

static unsigned long ChosenExitCode(const char* module) {
    unsigned long code = 0;
    char path[MAX_PATH + 8];
    snprintf(path, sizeof path, "%s.exit", module);
    char* text = ReadWholeFile(path, 64);
    int found = text != NULL && ParseNumber(text, &code);
    free(text);
    if (found) {
        return code;
    }
    char variable[MAX_PATH + 16] = "RECORDER_EXIT_";
    size_t used = strlen(variable);
    for (const char* p = FileName(module); *p != '\0' && used + 1 < sizeof variable; ++p) {
        char c = *p;
        variable[used++] = (c >= 'a' && c <= 'z')                               ? (char)(c - 32)
                           : ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) ? c
                                                                                : '_';
    }
    variable[used] = '\0';
    if (EnvNumber(variable, &code) || EnvNumber("RECORDER_EXIT", &code)) {
        return code;
    }
    return 0;
}

static const char* MutexState(void) {
    HANDLE mutex = CreateMutexA(NULL, FALSE, "MutexToProtectSetup");
    if (mutex == NULL) {
        return "none";
    }
    DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        ReleaseMutex(mutex);
    }
    CloseHandle(mutex);
    return wait == WAIT_OBJECT_0 ? "free" : wait == WAIT_ABANDONED ? "abandoned" : "held";
}

/* The four staging directories beside the current (staging Init) directory. */
static void ListStagingArea(void) {
    static const char* kDirectories[] = {"Config", "Init", "Extra", "English"};
    for (size_t i = 0; i < sizeof kDirectories / sizeof kDirectories[0]; ++i) {
        char pattern[MAX_PATH];
        snprintf(pattern, sizeof pattern, "..\\%s\\*", kDirectories[i]);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search == INVALID_HANDLE_VALUE) {
            Add("missing=%s\n", kDirectories[i]);
            continue;
        }
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                Add("file=%s\\%s %lu\n", kDirectories[i], found.cFileName, found.nFileSizeLow);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
}

/* The command line of the process that started this one, read from its process parameters:
 * the launcher's command line as Windows handed it over, which nothing else shows. */
static void ParentCommandLine(char* out, size_t size) {
    snprintf(out, size, "?");
    DWORD self = GetCurrentProcessId(), parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32 entry;
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more;
             more = Process32Next(snapshot, &entry)) {
            if (entry.th32ProcessID == self) {
                parent = entry.th32ParentProcessID;
            }
        }
        CloseHandle(snapshot);
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parent);
    if (process == NULL) {
        return;
    }
    PROCESS_BASIC_INFORMATION basic;
    PEB peb;
    RTL_USER_PROCESS_PARAMETERS parameters;
    WCHAR wide[4096];
    SIZE_T got = 0;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, NULL) ==
            0 &&
        ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, &got) &&
        ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, &got) &&
        parameters.CommandLine.Length < sizeof wide &&
        ReadProcessMemory(process, parameters.CommandLine.Buffer, wide,
                          parameters.CommandLine.Length, &got)) {
        int length = parameters.CommandLine.Length / 2;
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide, length, out, (int)size - 1, NULL, NULL);
        out[bytes > 0 ? bytes : 0] = '\0';
    }
    CloseHandle(process);
}

#ifdef STANDIN_WINDOW
static LRESULT CALLBACK StandinProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_TIMER || message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

static void ShowStandinWindow(const char* commandLine, const char* directory) {
    unsigned long milliseconds = 1500;
    EnvNumber("RECORDER_SHOW_MS", &milliseconds);
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = StandinProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "QuilloStandinInstaller";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Quillo 4.0 Installer (stand-in)",
                                  WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 100, 100, 520, 140, NULL,
                                  NULL, windowClass.hInstance, NULL);
    char text[2 * MAX_PATH + 64];
    snprintf(text, sizeof text, "Started as:\n%s\nin %s", commandLine, directory);
    CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE, 10, 10, 490, 80, window, NULL,
                    windowClass.hInstance, NULL);
    SetTimer(window, 1, milliseconds, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
#endif

int main(void) {
    char module[MAX_PATH], directory[MAX_PATH], logPath[MAX_PATH], text[MAX_PATH];
    module[0] = directory[0] = '\0';
    GetModuleFileNameA(NULL, module, sizeof module);
    GetCurrentDirectoryA(sizeof directory, directory);
    DWORD length = GetEnvironmentVariableA("RECORDER_LOG", logPath, sizeof logPath);
    if (length == 0 || length >= sizeof logPath) {
        strcpy(logPath, "C:\\record.txt");
    }
    const char* commandLine = GetCommandLineA();
    unsigned long exitCode = ChosenExitCode(module);

    char parent[4096];
    ParentCommandLine(parent, sizeof parent);
    Add("[record]\nmodule=%s\ncmdline=%s\ncwd=%s\nparent=%s\nmutex=%s\nexit=%lu\n", module,
        commandLine, directory, parent, MutexState(), exitCode);
    length = GetEnvironmentVariableA("RECORDER_LIST", text, sizeof text);
#ifdef STANDIN_WINDOW
    length = 1;
#endif
    if (length > 0) {
        ListStagingArea();
    }
    Add("[end]\n");
    AppendToFile(logPath, gRecord);

    unsigned long seconds = 60, milliseconds = 0;
    EnvNumber("RECORDER_WAIT_SECONDS", &seconds);
    length = GetEnvironmentVariableA("RECORDER_WAIT_FILE", text, sizeof text);
    if (length > 0 && length < sizeof text) {
        DWORD start = GetTickCount();
        while (!FileExists(text) && GetTickCount() - start < seconds * 1000) {
            Sleep(50);
        }
    }
    if (EnvNumber("RECORDER_SLEEP_MS", &milliseconds)) {
        Sleep(milliseconds);
    }
#ifdef STANDIN_WINDOW
    ShowStandinWindow(commandLine, directory);
#endif
    return (int)exitCode;
}
