// The one seam between the programs and Windows.
//
// Every operating-system call that setup and the launcher make goes through a function
// declared here. platform_win.cpp forwards each one to the real ANSI Windows API;
// the simulated machine (sim/) implements the same functions for the native tests.
// Names, argument orders and results follow the Windows functions they stand for, so a
// reader can check a call against the Windows documentation; the types are our own so
// that the programs' code compiles unchanged where <windows.h> does not exist.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#define OS_CALLBACK __stdcall
#else
#define OS_CALLBACK
#endif

namespace os {

typedef void* Handle;  // HANDLE, HWND, HDC, HCURSOR, HINSTANCE alike
typedef uint32_t Dword;
typedef int Bool;
typedef intptr_t LongPtr;
typedef uintptr_t UintPtr;

// INVALID_HANDLE_VALUE; a function rather than a constant, so no initialiser runs at start.
inline Handle InvalidHandle() {
    return reinterpret_cast<Handle>(~static_cast<UintPtr>(0));
}

// Error numbers as GetLastError reports them.
enum : Dword {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorWriteProtect = 19,
    kErrorNotReady = 21,
    kErrorSharingViolation = 32,
    kErrorHandleDiskFull = 39,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorCallNotImplemented = 120,  // Windows 95/98's answer to the security functions
    kErrorInsufficientBuffer = 122,
    kErrorDirNotEmpty = 145,
    kErrorAlreadyExists = 183,
    kErrorFilenameTooLong = 206,  // ERROR_FILENAME_EXCED_RANGE
};

// Waits.
enum : Dword {
    kWaitObject0 = 0,
    kWaitAbandoned = 0x80,
    kWaitTimeout = 258,
    kWaitFailed = 0xFFFFFFFFu,
    kInfinite = 0xFFFFFFFFu,
};

// Drive types (GetDriveTypeA).
enum : unsigned {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdrom = 5,
    kDriveRamdisk = 6,
};

// File attributes.
enum : Dword {
    kAttrReadOnly = 0x1,
    kAttrHidden = 0x2,
    kAttrSystem = 0x4,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrNormal = 0x80,
    kAttrReparsePoint = 0x400,  // a junction or symbolic link, as itself (not followed)
    kInvalidFileAttributes = 0xFFFFFFFFu,
};

// CreateFileA.
enum : Dword {
    kGenericRead = 0x80000000u,
    kGenericWrite = 0x40000000u,
    kShareRead = 0x1,
    kShareWrite = 0x2,
    kShareDelete = 0x4,
    kCreateNew = 1,
    kCreateAlways = 2,
    kOpenExisting = 3,
    kOpenAlways = 4,
    kFlagWriteThrough = 0x80000000u,
    kFlagBackupSemantics = 0x02000000u,   // needed to open a directory
    kFlagOpenReparsePoint = 0x00200000u,  // open a link itself rather than what it names
    // FILE_TRAVERSE: a directory handle with this right takes part in sharing, so while it is
    // open without kShareDelete nobody can delete, rename or replace the directory.
    kFileTraverse = 0x20,
};

// MoveFileExA.
enum : Dword {
    kMoveReplaceExisting = 0x1,
    kMoveCopyAllowed = 0x2,
    kMoveDelayUntilReboot = 0x4,
    kMoveWriteThrough = 0x8,
};

// SHFileOperationA.
enum : unsigned {
    kFoMove = 1,
    kFoCopy = 2,
    kFoDelete = 3,
};
enum : uint16_t {
    kFofSilent = 0x4,
    kFofNoConfirmation = 0x10,
    kFofNoErrorUi = 0x400,
};

// Messages and window constants.
enum : unsigned {
    kPbmSetRange = 0x401,
    kPbmSetPos = 0x402,
    kPbmSetStep = 0x404,
    kPbmStepIt = 0x405,
    kMbOk = 0x0,
    kMbIconError = 0x10,
    kIdOk = 1,
    kIdcWait = 32514,
    kBitsPixel = 12,
    kPlanes = 14,
};

// Security: who owns a file or directory, and who runs this process.
enum : Dword {
    kOwnerSecurityInformation = 0x1,  // OWNER_SECURITY_INFORMATION
    kDaclSecurityInformation = 0x4,   // DACL_SECURITY_INFORMATION
    kTokenQuery = 0x8,                // TOKEN_QUERY
    kTokenUserClass = 1,              // TokenUser, for GetTokenInformation
    kFsPersistentAcls = 0x8,          // GetVolumeInformationA: the volume keeps owners
};

// SECURITY_ATTRIBUTES, for CreateDirectoryA and CreateFileA.
struct SecurityAttributes {
    Dword length;
    void* descriptor;  // a self-relative or absolute security descriptor
    Bool inheritHandle;
};

// TOKEN_USER (SID_AND_ATTRIBUTES): the user's SID, which points into the same buffer.
struct TokenUser {
    void* sid;
    Dword attributes;
};

// GetCurrentProcess(): a pseudo handle, never closed. A function, so no initialiser runs.
inline Handle CurrentProcess() {
    return reinterpret_cast<Handle>(~static_cast<UintPtr>(0));
}

// OSVERSIONINFOA.dwPlatformId.
enum : Dword {
    kPlatformWin32s = 0,
    kPlatformWindows = 1,  // Windows 95/98/Me
    kPlatformNt = 2,
};

// STARTUPINFOA with the 32-bit layout: every field is 32 bits wide there, so the record is
// 68 bytes in both builds. Only the size field is ever set by the programs.
struct StartupInfo {
    Dword cb;
    Dword reserved;
    Dword desktop;
    Dword title;
    Dword x, y, xSize, ySize, xCountChars, yCountChars, fillAttribute, flags;
    uint16_t showWindow;
    uint16_t reserved2Size;
    Dword reserved2;
    Dword stdInput, stdOutput, stdError;
};
static_assert(sizeof(StartupInfo) == 68, "STARTUPINFOA is 68 bytes");

struct ProcessInformation {
    Handle process;
    Handle thread;
    Dword processId;
    Dword threadId;
};

// OSVERSIONINFOA: 148 bytes.
struct OsVersionInfo {
    Dword size;
    Dword majorVersion;
    Dword minorVersion;
    Dword buildNumber;
    Dword platformId;
    char csdVersion[128];
};
static_assert(sizeof(OsVersionInfo) == 148, "OSVERSIONINFOA is 148 bytes");

// SHFILEOPSTRUCTA.
struct FileOperation {
    Handle hwnd;
    unsigned func;
    const char* from;  // double-NUL-terminated list
    const char* to;    // double-NUL-terminated list
    uint16_t flags;
    Bool anyOperationsAborted;
    void* nameMappings;
    const char* progressTitle;
};

typedef LongPtr(OS_CALLBACK* DialogProc)(Handle dialog, unsigned message, UintPtr wParam,
                                         LongPtr lParam);

// MAKEINTRESOURCE.
inline const char* IntResource(unsigned id) {
    return reinterpret_cast<const char*>(static_cast<UintPtr>(id));
}
// MAKELPARAM.
inline LongPtr MakeLParam(unsigned low, unsigned high) {
    return static_cast<LongPtr>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}

// ---- Errors
Dword GetLastError();
void SetLastError(Dword error);

// ---- Single instance
Handle CreateMutexA(void* security, Bool initialOwner, const char* name);
Dword WaitForSingleObject(Handle object, Dword milliseconds);
Bool ReleaseMutex(Handle mutex);
Bool CloseHandle(Handle object);

// ---- Processes
Bool CreateProcessA(const char* applicationName, char* commandLine, void* processSecurity,
                    void* threadSecurity, Bool inheritHandles, Dword creationFlags,
                    void* environment, const char* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation);

// ---- Directories
Dword GetCurrentDirectoryA(Dword bufferLength, char* buffer);
unsigned GetWindowsDirectoryA(char* buffer, unsigned size);
unsigned GetSystemDirectoryA(char* buffer, unsigned size);
Bool CreateDirectoryA(const char* path, void* security);
Bool RemoveDirectoryA(const char* path);
Dword GetFullPathNameA(const char* path, Dword bufferLength, char* buffer, char** filePart);

// ---- Drives
Dword GetLogicalDriveStringsA(Dword bufferLength, char* buffer);
unsigned GetDriveTypeA(const char* root);
Bool GetDiskFreeSpaceA(const char* root, Dword* sectorsPerCluster, Dword* bytesPerSector,
                       Dword* freeClusters, Dword* totalClusters);

// ---- Files
Dword GetFileAttributesA(const char* path);
Bool SetFileAttributesA(const char* path, Dword attributes);
int SHFileOperationA(FileOperation* operation);
Bool DeleteFileA(const char* path);
Bool MoveFileA(const char* existing, const char* newName);
Bool MoveFileExA(const char* existing, const char* newName, Dword flags);
Dword GetShortPathNameA(const char* longPath, char* shortPath, Dword bufferLength);
Handle CreateFileA(const char* path, Dword access, Dword shareMode, void* security,
                   Dword creationDisposition, Dword flagsAndAttributes, Handle templateFile);
Bool ReadFile(Handle file, void* buffer, Dword bytesToRead, Dword* bytesRead, void* overlapped);
Bool WriteFile(Handle file, const void* buffer, Dword bytesToWrite, Dword* bytesWritten,
               void* overlapped);
Dword GetFileSize(Handle file, Dword* sizeHigh);
Bool FlushFileBuffers(Handle file);
Bool GetVolumeInformationA(const char* root, char* volumeName, Dword volumeNameSize,
                           Dword* serialNumber, Dword* maximumComponentLength,
                           Dword* fileSystemFlags, char* fileSystemName, Dword fileSystemNameSize);

// ---- Security (Windows NT; Windows 95/98 fail each with kErrorCallNotImplemented)
// `descriptor` receives a self-relative security descriptor; `needed` its size.
Bool GetFileSecurityA(const char* path, Dword requested, void* descriptor, Dword length,
                      Dword* needed);
Bool OpenProcessToken(Handle process, Dword access, Handle* token);
Bool GetTokenInformation(Handle token, Dword infoClass, void* info, Dword length, Dword* needed);

// ---- Memory (process heap)
void* HeapAlloc(size_t bytes);  // GetProcessHeap() + HeapAlloc; nullptr when it fails
void HeapFree(void* block);

// ---- Version
Bool GetVersionExA(OsVersionInfo* info);

// ---- Display
Handle GetDesktopWindow();
Handle GetDC(Handle window);
int ReleaseDC(Handle window, Handle dc);
int GetDeviceCaps(Handle dc, int index);

// ---- Windows and dialogs
void InitCommonControls();
Handle CreateDialogParamA(Handle instance, const char* templateName, Handle parent, DialogProc proc,
                          LongPtr param);
Handle GetDlgItem(Handle dialog, int id);
LongPtr SendMessageA(Handle window, unsigned message, UintPtr wParam, LongPtr lParam);
Bool EndDialog(Handle dialog, LongPtr result);
int MessageBoxA(Handle owner, const char* text, const char* caption, unsigned type);
Handle LoadCursorA(Handle instance, const char* name);
Handle SetCursor(Handle cursor);
// Paints a window and its child windows at once (RedrawWindow with RDW_UPDATENOW and
// RDW_ALLCHILDREN): a program without a message loop would otherwise never receive WM_PAINT.
void UpdateWindow(Handle window);

// ---- ANSI text
char* CharUpperA(char* text);
int lstrlenA(const char* text);
int lstrcmpA(const char* a, const char* b);
int lstrcmpiA(const char* a, const char* b);

}  // namespace os
