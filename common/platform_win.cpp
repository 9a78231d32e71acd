// The seam on real Windows: each os:: function forwards to the ANSI Windows API.
//
// Most calls pass straight through, since our types have the same sizes as the Windows ones.
// The records are converted instead of cast: STARTUPINFOA and SHFILEOPSTRUCTA differ from our
// layouts on x86_64 (pointers are 64 bits there), and SHFILEOPSTRUCTA is byte-packed on i686.
//
// Each function stands in its own #ifdef SEAM_<name> block because the build compiles this
// file once per function (add_seam_functions in cmake/windows-programs.cmake). A program must
// import only the Windows functions it calls, and the linker cannot do that for us: once an
// object file is taken from the library, every import it names stays in the import table,
// even when --gc-sections drops the code that called it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>

#include "common/platform.h"

namespace {

inline HWND Window(os::Handle handle) {
    return static_cast<HWND>(handle);
}

}  // namespace

namespace os {

// ---- Errors
#ifdef SEAM_GetLastError
Dword GetLastError() {
    return ::GetLastError();
}
#endif

#ifdef SEAM_SetLastError
void SetLastError(Dword error) {
    ::SetLastError(error);
}
#endif

// ---- Single instance
#ifdef SEAM_CreateMutexA
Handle CreateMutexA(void* security, Bool initialOwner, const char* name) {
    return ::CreateMutexA(static_cast<SECURITY_ATTRIBUTES*>(security), initialOwner, name);
}
#endif

#ifdef SEAM_WaitForSingleObject
Dword WaitForSingleObject(Handle object, Dword milliseconds) {
    return ::WaitForSingleObject(object, milliseconds);
}
#endif

#ifdef SEAM_ReleaseMutex
Bool ReleaseMutex(Handle mutex) {
    return ::ReleaseMutex(mutex);
}
#endif

#ifdef SEAM_CloseHandle
Bool CloseHandle(Handle object) {
    return ::CloseHandle(object);
}
#endif

// ---- Processes
#ifdef SEAM_CreateProcessA
// Our StartupInfo is the 32-bit STARTUPINFOA. On x86_64 its pointer and handle fields are 64
// bits wide, so the record is rebuilt there, and cb, which the programs set to the 32-bit
// size 68, becomes the x86_64 size so that CreateProcessA reads the record we built.
static void ToStartupInfo(const StartupInfo& from, STARTUPINFOA* to) {
#ifdef _WIN64
    ZeroMemory(to, sizeof(*to));
    to->cb = sizeof(STARTUPINFOA);
    to->dwX = from.x;
    to->dwY = from.y;
    to->dwXSize = from.xSize;
    to->dwYSize = from.ySize;
    to->dwXCountChars = from.xCountChars;
    to->dwYCountChars = from.yCountChars;
    to->dwFillAttribute = from.fillAttribute;
    to->dwFlags = from.flags;
    to->wShowWindow = from.showWindow;
    // lpReserved, lpDesktop, lpTitle, lpReserved2 and the std handles cannot be carried in
    // 32-bit fields here; the programs leave them zero.
#else
    static_assert(sizeof(STARTUPINFOA) == sizeof(os::StartupInfo), "STARTUPINFOA layout");
    CopyMemory(to, &from, sizeof(*to));
#endif
}

Bool CreateProcessA(const char* applicationName, char* commandLine, void* processSecurity,
                    void* threadSecurity, Bool inheritHandles, Dword creationFlags,
                    void* environment, const char* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation) {
    STARTUPINFOA startup;
    ToStartupInfo(*startupInfo, &startup);
    PROCESS_INFORMATION started;
    ZeroMemory(&started, sizeof(started));
    BOOL ok = ::CreateProcessA(applicationName, commandLine,
                               static_cast<SECURITY_ATTRIBUTES*>(processSecurity),
                               static_cast<SECURITY_ATTRIBUTES*>(threadSecurity), inheritHandles,
                               creationFlags, environment, currentDirectory, &startup, &started);
    processInformation->process = started.hProcess;
    processInformation->thread = started.hThread;
    processInformation->processId = started.dwProcessId;
    processInformation->threadId = started.dwThreadId;
    return ok;
}
#endif

// ---- Directories
#ifdef SEAM_GetCurrentDirectoryA
Dword GetCurrentDirectoryA(Dword bufferLength, char* buffer) {
    return ::GetCurrentDirectoryA(bufferLength, buffer);
}
#endif

#ifdef SEAM_GetWindowsDirectoryA
unsigned GetWindowsDirectoryA(char* buffer, unsigned size) {
    return ::GetWindowsDirectoryA(buffer, size);
}
#endif

#ifdef SEAM_GetSystemDirectoryA
unsigned GetSystemDirectoryA(char* buffer, unsigned size) {
    return ::GetSystemDirectoryA(buffer, size);
}
#endif

#ifdef SEAM_CreateDirectoryA
static_assert(sizeof(SecurityAttributes) == sizeof(SECURITY_ATTRIBUTES), "SECURITY_ATTRIBUTES");
Bool CreateDirectoryA(const char* path, void* security) {
    return ::CreateDirectoryA(path, static_cast<SECURITY_ATTRIBUTES*>(security));
}
#endif

#ifdef SEAM_RemoveDirectoryA
Bool RemoveDirectoryA(const char* path) {
    return ::RemoveDirectoryA(path);
}
#endif

#ifdef SEAM_GetFullPathNameA
Dword GetFullPathNameA(const char* path, Dword bufferLength, char* buffer, char** filePart) {
    return ::GetFullPathNameA(path, bufferLength, buffer, filePart);
}
#endif

// ---- Drives
#ifdef SEAM_GetLogicalDriveStringsA
Dword GetLogicalDriveStringsA(Dword bufferLength, char* buffer) {
    return ::GetLogicalDriveStringsA(bufferLength, buffer);
}
#endif

#ifdef SEAM_GetDriveTypeA
unsigned GetDriveTypeA(const char* root) {
    return ::GetDriveTypeA(root);
}
#endif

#ifdef SEAM_GetDiskFreeSpaceA
Bool GetDiskFreeSpaceA(const char* root, Dword* sectorsPerCluster, Dword* bytesPerSector,
                       Dword* freeClusters, Dword* totalClusters) {
    DWORD sectors = 0, bytes = 0, free = 0, total = 0;
    BOOL ok = ::GetDiskFreeSpaceA(root, &sectors, &bytes, &free, &total);
    // Callers may pass nullptr for a figure they do not need, as Windows allows.
    if (sectorsPerCluster != nullptr) {
        *sectorsPerCluster = sectors;
    }
    if (bytesPerSector != nullptr) {
        *bytesPerSector = bytes;
    }
    if (freeClusters != nullptr) {
        *freeClusters = free;
    }
    if (totalClusters != nullptr) {
        *totalClusters = total;
    }
    return ok;
}
#endif

// ---- Files
#ifdef SEAM_GetFileAttributesA
Dword GetFileAttributesA(const char* path) {
    return ::GetFileAttributesA(path);
}
#endif

#ifdef SEAM_SetFileAttributesA
Bool SetFileAttributesA(const char* path, Dword attributes) {
    return ::SetFileAttributesA(path, attributes);
}
#endif

#ifdef SEAM_SHFileOperationA
int SHFileOperationA(FileOperation* operation) {
    SHFILEOPSTRUCTA shell;
    ZeroMemory(&shell, sizeof(shell));
    shell.hwnd = Window(operation->hwnd);
    shell.wFunc = operation->func;
    shell.pFrom = operation->from;
    shell.pTo = operation->to;
    shell.fFlags = operation->flags;
    shell.fAnyOperationsAborted = operation->anyOperationsAborted;
    shell.hNameMappings = operation->nameMappings;
    shell.lpszProgressTitle = operation->progressTitle;
    int result = ::SHFileOperationA(&shell);
    operation->anyOperationsAborted = shell.fAnyOperationsAborted;
    operation->nameMappings = shell.hNameMappings;
    return result;
}
#endif

#ifdef SEAM_DeleteFileA
Bool DeleteFileA(const char* path) {
    return ::DeleteFileA(path);
}
#endif

#ifdef SEAM_MoveFileA
Bool MoveFileA(const char* existing, const char* newName) {
    return ::MoveFileA(existing, newName);
}
#endif

#ifdef SEAM_MoveFileExA
Bool MoveFileExA(const char* existing, const char* newName, Dword flags) {
    return ::MoveFileExA(existing, newName, flags);
}
#endif

#ifdef SEAM_GetShortPathNameA
Dword GetShortPathNameA(const char* longPath, char* shortPath, Dword bufferLength) {
    return ::GetShortPathNameA(longPath, shortPath, bufferLength);
}
#endif

#ifdef SEAM_CreateFileA
Handle CreateFileA(const char* path, Dword access, Dword shareMode, void* security,
                   Dword creationDisposition, Dword flagsAndAttributes, Handle templateFile) {
    return ::CreateFileA(path, access, shareMode, static_cast<SECURITY_ATTRIBUTES*>(security),
                         creationDisposition, flagsAndAttributes, templateFile);
}
#endif

#ifdef SEAM_ReadFile
Bool ReadFile(Handle file, void* buffer, Dword bytesToRead, Dword* bytesRead, void* overlapped) {
    DWORD read = 0;
    BOOL ok = ::ReadFile(file, buffer, bytesToRead, &read, static_cast<OVERLAPPED*>(overlapped));
    if (bytesRead != nullptr) {
        *bytesRead = read;
    }
    return ok;
}
#endif

#ifdef SEAM_WriteFile
Bool WriteFile(Handle file, const void* buffer, Dword bytesToWrite, Dword* bytesWritten,
               void* overlapped) {
    DWORD written = 0;
    BOOL ok =
        ::WriteFile(file, buffer, bytesToWrite, &written, static_cast<OVERLAPPED*>(overlapped));
    if (bytesWritten != nullptr) {
        *bytesWritten = written;
    }
    return ok;
}
#endif

#ifdef SEAM_GetFileSize
Dword GetFileSize(Handle file, Dword* sizeHigh) {
    DWORD high = 0;
    DWORD low = ::GetFileSize(file, &high);
    if (sizeHigh != nullptr) {
        *sizeHigh = high;
    }
    return low;
}
#endif

#ifdef SEAM_FlushFileBuffers
Bool FlushFileBuffers(Handle file) {
    return ::FlushFileBuffers(file);
}
#endif

#ifdef SEAM_GetVolumeInformationA
Bool GetVolumeInformationA(const char* root, char* volumeName, Dword volumeNameSize,
                           Dword* serialNumber, Dword* maximumComponentLength,
                           Dword* fileSystemFlags, char* fileSystemName, Dword fileSystemNameSize) {
    DWORD serial = 0, longest = 0, flags = 0;
    BOOL ok = ::GetVolumeInformationA(root, volumeName, volumeNameSize, &serial, &longest, &flags,
                                      fileSystemName, fileSystemNameSize);
    if (serialNumber != nullptr) {
        *serialNumber = serial;
    }
    if (maximumComponentLength != nullptr) {
        *maximumComponentLength = longest;
    }
    if (fileSystemFlags != nullptr) {
        *fileSystemFlags = flags;
    }
    return ok;
}
#endif

// ---- Security
#ifdef SEAM_GetFileSecurityA
Bool GetFileSecurityA(const char* path, Dword requested, void* descriptor, Dword length,
                      Dword* needed) {
    DWORD size = 0;
    BOOL ok = ::GetFileSecurityA(path, requested, descriptor, length, &size);
    if (needed != nullptr) {
        *needed = size;
    }
    return ok;
}
#endif

#ifdef SEAM_OpenProcessToken
Bool OpenProcessToken(Handle process, Dword access, Handle* token) {
    return ::OpenProcessToken(process, access, token);
}
#endif

#ifdef SEAM_GetTokenInformation
Bool GetTokenInformation(Handle token, Dword infoClass, void* info, Dword length, Dword* needed) {
    DWORD size = 0;
    BOOL ok = ::GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(infoClass), info,
                                    length, &size);
    if (needed != nullptr) {
        *needed = size;
    }
    return ok;
}
#endif

// ---- Memory (process heap)
#ifdef SEAM_HeapAlloc
void* HeapAlloc(size_t bytes) {
    return ::HeapAlloc(::GetProcessHeap(), 0, bytes);
}
#endif

#ifdef SEAM_HeapFree
void HeapFree(void* block) {
    if (block != nullptr) {
        ::HeapFree(::GetProcessHeap(), 0, block);
    }
}
#endif

// ---- Version
#ifdef SEAM_GetVersionExA
Bool GetVersionExA(OsVersionInfo* info) {
    // Windows reads the size field to tell which record it was given, and a larger one
    // (OSVERSIONINFOEXA) would be written past our record: only the plain record is accepted,
    // with the error Windows gives for a size it does not know.
    if (info->size != sizeof(OSVERSIONINFOA)) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    BOOL ok = ::GetVersionExA(&version);
    if (ok) {
        info->majorVersion = version.dwMajorVersion;
        info->minorVersion = version.dwMinorVersion;
        info->buildNumber = version.dwBuildNumber;
        info->platformId = version.dwPlatformId;
        CopyMemory(info->csdVersion, version.szCSDVersion, sizeof(info->csdVersion));
    }
    return ok;
}
#endif

// ---- Display
#ifdef SEAM_GetDesktopWindow
Handle GetDesktopWindow() {
    return ::GetDesktopWindow();
}
#endif

#ifdef SEAM_GetDC
Handle GetDC(Handle window) {
    return ::GetDC(Window(window));
}
#endif

#ifdef SEAM_ReleaseDC
int ReleaseDC(Handle window, Handle dc) {
    return ::ReleaseDC(Window(window), static_cast<HDC>(dc));
}
#endif

#ifdef SEAM_GetDeviceCaps
int GetDeviceCaps(Handle dc, int index) {
    return ::GetDeviceCaps(static_cast<HDC>(dc), index);
}
#endif

// ---- Windows and dialogs
#ifdef SEAM_InitCommonControls
// Registers "msctls_progress32". Windows 95 has only this form (InitCommonControlsEx came
// with later versions of the library), and the import also makes the loader map comctl32.
void InitCommonControls() {
    ::InitCommonControls();
}
#endif

#ifdef SEAM_CreateDialogParamA
Handle CreateDialogParamA(Handle instance, const char* templateName, Handle parent, DialogProc proc,
                          LongPtr param) {
    // Our DialogProc has the same arguments as DLGPROC, but spelled with our own types; the
    // detour through a plain function pointer type tells the compiler the cast is meant.
    DLGPROC windowsProc = reinterpret_cast<DLGPROC>(reinterpret_cast<void (*)()>(proc));
    return ::CreateDialogParamA(static_cast<HINSTANCE>(instance), templateName, Window(parent),
                                windowsProc, param);
}
#endif

#ifdef SEAM_GetDlgItem
Handle GetDlgItem(Handle dialog, int id) {
    return ::GetDlgItem(Window(dialog), id);
}
#endif

#ifdef SEAM_SendMessageA
LongPtr SendMessageA(Handle window, unsigned message, UintPtr wParam, LongPtr lParam) {
    return ::SendMessageA(Window(window), message, wParam, lParam);
}
#endif

#ifdef SEAM_EndDialog
Bool EndDialog(Handle dialog, LongPtr result) {
    return ::EndDialog(Window(dialog), result);
}
#endif

#ifdef SEAM_MessageBoxA
// USER32 is loaded only when a box is shown. The launcher needs nothing else of it, and
// loading it, and the window system with it, is a good part of a small program's start; the
// launcher shows a box only when another stage holds the mutex.
int MessageBoxA(Handle owner, const char* text, const char* caption, unsigned type) {
    typedef int(WINAPI * MessageBoxProc)(HWND, LPCSTR, LPCSTR, UINT);
    HMODULE user32 = ::LoadLibraryA("USER32.DLL");
    FARPROC proc = user32 != nullptr ? ::GetProcAddress(user32, "MessageBoxA") : nullptr;
    if (proc == nullptr) {
        return 0;  // what MessageBoxA answers when it cannot show the box
    }
    // Through void (*)(void), which GCC lets stand for any function type.
    MessageBoxProc messageBox =
        reinterpret_cast<MessageBoxProc>(reinterpret_cast<void (*)(void)>(proc));
    return messageBox(Window(owner), text, caption, type);
}
#endif

#ifdef SEAM_LoadCursorA
Handle LoadCursorA(Handle instance, const char* name) {
    return ::LoadCursorA(static_cast<HINSTANCE>(instance), name);
}
#endif

#ifdef SEAM_SetCursor
Handle SetCursor(Handle cursor) {
    return ::SetCursor(static_cast<HCURSOR>(cursor));
}
#endif

#ifdef SEAM_UpdateWindow
void UpdateWindow(Handle window) {
    ::RedrawWindow(static_cast<HWND>(window), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}
#endif

// ---- ANSI text
#ifdef SEAM_CharUpperA
char* CharUpperA(char* text) {
    return ::CharUpperA(text);
}
#endif

#ifdef SEAM_lstrlenA
int lstrlenA(const char* text) {
    return ::lstrlenA(text);
}
#endif

#ifdef SEAM_lstrcmpA
int lstrcmpA(const char* a, const char* b) {
    return ::lstrcmpA(a, b);
}
#endif

#ifdef SEAM_lstrcmpiA
int lstrcmpiA(const char* a, const char* b) {
    return ::lstrcmpiA(a, b);
}
#endif

}  // namespace os
