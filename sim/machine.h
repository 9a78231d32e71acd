// The simulated Windows machine: what the native tests drive and inspect.
//
// sim/ implements every function of common/platform.h against this model, one concern a file
// (files, paths, drives, processes, mutexes, security, the screen ...), so setup, the launcher
// and a stand-in installer run unchanged inside one test process. The model is deterministic,
// runs programs synchronously, and can fail any platform call.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "common/platform.h"

namespace sim {

// A program the machine can run. A file whose content is ProgramImage(name) is that
// program's executable; `main` runs in-process, as a new simulated process. `tail` is the
// command-line tail of the started command line (common/command_line.h); `instance` is a module
// handle of the process.
typedef int (*ProgramMain)(os::Handle instance, const char* tail);

// ---- The machine as a whole
// Forgets everything: no drives, no files, no processes, no faults, no records. The Windows
// and system directories and the current directory are empty; the version query reports NT
// (platform 2, 5.0); the display has 32 bits per pixel and 1 plane.
void Reset();

// A typical machine: fixed C: (the system drive, `cFreeMb` megabytes free) holding C:\WINDOWS,
// C:\WINDOWS\SYSTEM and C:\WINDOWS\TEMP; a CD-ROM E: (read-only media) with an empty root;
// the current directory E:\; platform NT or 9x as asked.
void ResetTypical(uint32_t cFreeMb = 500, bool windowsNt = true);

// ---- Drives, listed by GetLogicalDriveStringsA in the order they were added.
void AddDrive(const std::string& root, unsigned type, uint64_t freeBytes);
void SetDriveFreeBytes(const std::string& root, uint64_t freeBytes);
void SetFreeSpaceQueryFails(const std::string& root, bool fails);  // GetDiskFreeSpaceA fails, 21
// Writes fail with 19 (write-protected); on a CD-ROM drive they always fail, with 5.
void SetDriveReadOnly(const std::string& root, bool readOnly);
// Free bytes now: file growth through the platform functions uses them up, deletions give
// them back (PutFile and the other test helpers leave them alone).
uint64_t DriveFreeBytes(const std::string& root);
// Replaces what GetLogicalDriveStringsA reports with these exact bytes (for odd lists).
// The buffer receives exactly `bytes` (no NUL is added); the call returns their count less
// the final NUL when they end in one, e.g. std::string("c:\\\0d:\\\0\0", 9) returns 8.
// Empty bytes make the call return 0.
void SetDriveStringsOverride(const std::string& bytes);
void ClearDriveStringsOverride();

// ---- Directories and version
void SetWindowsDirectory(const std::string& path);  // as GetWindowsDirectoryA reports it
void SetSystemDirectory(const std::string& path);
// The current directory of the test's own platform calls, and of RunProgram's processes
// when it is given "".
void SetCurrentDirectory(const std::string& path);
void SetPlatform(os::Dword platformId);  // os::kPlatformNt or os::kPlatformWindows
void SetVersionQueryFails(bool fails);

// ---- Display
void SetDisplay(int bitsPerPixel, int planes, bool hasDeviceContext = true);

// ---- Files. Paths are absolute (C:\DIR\NAME), matched without regard to case; names keep
// the case they were created with. Any component may also be named by its short name.
// Files put on a CD-ROM drive are read-only, whatever `attributes` says.
bool MakeDirectories(const std::string& path);  // with every missing ancestor
bool PutFile(const std::string& path, const std::string& content,
             os::Dword attributes = os::kAttrNormal);  // creates missing ancestors
bool GetFile(const std::string& path, std::string* content);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
os::Dword Attributes(const std::string& path);  // kInvalidFileAttributes when absent
// The name as stored, with each component in the case it was created with.
std::string StoredPath(const std::string& path);
// Every directory and file below `root` (root excluded), as stored full paths, directories
// with a trailing backslash, sorted; with content for files. Compare two to find changes.
struct Entry {
    std::string path;
    bool directory;
    os::Dword attributes;
    std::string content;
};
std::vector<Entry> Snapshot(const std::string& root);
std::vector<Entry> SnapshotAll();  // every drive
// Marks a file as open by another program: DeleteFileA, MoveFile*, and opening it for writing
// fail with 32 (sharing violation); reading still works.
void SetFileInUse(const std::string& path, bool inUse);
// Forces the short name of the last component of `path` (otherwise one is derived: a name
// that is already 8.3 keeps its stored spelling; a longer one becomes e.g. PROGRA~1.TXT).
void SetShortName(const std::string& path, const std::string& shortName);

// ---- Owners (Windows NT). Each file and directory has an owner, a SID in its text form; a
// process runs as a user and owns what it creates. The test's own calls and the helpers above
// create as Administrators; programs the test starts run as kInstallingUserSid and pass their
// user on to what they start. Windows 95/98 have no owners: there the security functions fail
// with 120 (not implemented).
constexpr const char* kInstallingUserSid = "S-1-5-21-1004336348-1177238915-682003330-1000";
constexpr const char* kOtherUserSid = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr const char* kAdministratorsSid = "S-1-5-32-544";
constexpr const char* kSystemSid = "S-1-5-18";
constexpr const char* kTrustedInstallerSid =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
bool SetOwner(const std::string& path, const std::string& sid);  // "" : no owner recorded
std::string Owner(const std::string& path);                      // "" when absent
// Whether the drive keeps owners, as NTFS does; FAT and CD-ROMs do not. New fixed drives do,
// others not. GetVolumeInformationA reports it (FS_PERSISTENT_ACLS) on Windows NT only.
void SetDriveKeepsOwners(const std::string& root, bool keepsOwners);

// ---- Programs and processes
std::string ProgramImage(const std::string& name);  // the file content that runs `name`
void RegisterProgram(const std::string& name, ProgramMain main);
// Starts a process the way a user or shell would (no parent), command line and current
// directory ("" for the one SetCurrentDirectory gave), and runs it to its end. Returns its
// exit code; a process that cannot be started returns -1. Registered programs survive Reset().
//
// A process that a program starts with CreateProcessA does not run at once: it runs to its
// end when something waits for it (WaitForSingleObject on its process or thread handle), or
// when the test lets every started program run. So a program that does not wait for its child
// goes on while the child has not run at all, as it may on Windows, and a test sees that.
//
// CreateProcessA finds the program the Windows way: a quoted first word is the name; an
// unquoted one is tried at each blank in turn ("C:\My Dir\a.exe x" tries "C:\My", then
// "C:\My Dir\a.exe", ...); each name as is, then with ".exe" when it has no extension; a
// name without a path in the caller's current directory, then the system and the Windows
// directories. A missing file fails with 2 (3 when its directory is missing), a file that
// is not a registered program with 193, a current directory that does not exist with 267.
// Programs nest at most 16 deep (then 8).
int64_t RunProgram(const std::string& commandLine, const std::string& currentDirectory);

// Runs the programs that were started and have not run yet, oldest first, each to its end,
// and those they start in turn, as after setup has handed off and ended. Returns how many it ran
// itself: one that another program waits for runs inside that wait.
int RunStartedPrograms();

struct ProcessRecord {
    uint32_t parentId;  // 0 for RunProgram
    uint32_t processId;
    bool hasApplicationName;       // applicationName != nullptr
    std::string commandLine;       // as passed to CreateProcessA
    std::string currentDirectory;  // as passed ("" for nullptr)
    bool inheritHandles;
    os::Dword creationFlags;
    bool inheritedEnvironment;  // environment == nullptr
    os::Dword startupInfoSize;  // StartupInfo::cb as passed
    std::string program;        // the registered name of the program started, if it was
    bool started;               // CreateProcessA succeeded
    bool finished;
    int64_t exitCode;  // when finished
    // Mutex state seen at the moment the process started.
    bool setupMutexOwnedAtStart;  // "MutexToProtectSetup" owned by anyone
};
const std::vector<ProcessRecord>& Processes();  // every CreateProcessA and RunProgram, in order

// ---- Named mutexes
// The calls a test makes itself run as the process kTestProcessId, which never ends.
constexpr uint32_t kTestProcessId = 1;
void HoldMutex(const std::string& name);  // an outside live process owns it (and has a handle)
// The outside owner ends without releasing it: the mutex is abandoned. Another outside
// process keeps a handle open, so the object stays until ReleaseHeldMutex or Reset.
void AbandonHeldMutex(const std::string& name);
void ReleaseHeldMutex(const std::string& name);  // released and its outside handle closed
bool MutexOwned(const std::string& name);        // owned by a live process
bool MutexAbandoned(const std::string& name);
int OpenMutexHandles(const std::string& name);  // held by simulated processes, not outside
int OpenHandles(uint32_t processId);            // of every kind, of one process
// Waits without a time limit for something that could never be signalled (a real machine
// would hang there); they return WAIT_TIMEOUT here.
int HungWaits();
int OpenDeviceContexts();  // GetDC without ReleaseDC (a process's go when it ends)
int LiveHeapBlocks();      // HeapAlloc without HeapFree (a process's go when it ends)

// ---- What the programs showed
struct MessageBoxRecord {
    uint32_t processId;
    std::string text;
    std::string caption;
    unsigned type;
    bool hadOwner;
};
// Each answered with OK; the shell's own error boxes of SHFileOperationA are here too.
const std::vector<MessageBoxRecord>& MessageBoxes();

struct ProgressRecord {
    bool dialogCreated;  // dialog 103 was created
    unsigned dialogId;
    bool commonControlsReady;  // InitCommonControls ran before the dialog was created
    int rangeLow, rangeHigh;
    int step;
    int position;
    int stepCount;   // PBM_STEPIT messages received
    bool dismissed;  // EndDialog called
    int paints;      // UpdateWindow calls on the dialog
};
// Of the last dialog created. CreateDialogParamA fails (1407) in a process that has not
// called InitCommonControls, as the progress bar's class then does not exist. A new bar
// has range 0..100 and step 10; PBM_STEPIT past the top starts over from the bottom, as
// comctl32 does.
const ProgressRecord& Progress();

bool WaitCursorShowing();  // the cursor currently set is IDC_WAIT
// UpdateWindow calls without a window: Windows then erases and repaints the desktop and every
// top-level window on it.
int ScreenRepaints();

// The shell's file operations (SHFileOperationA), each as it was requested.
struct ShellOperationRecord {
    uint32_t processId;
    unsigned func;
    uint16_t flags;
    bool hadOwner;     // hwnd was not null
    std::string from;  // the first item of each list
    std::string to;
};
const std::vector<ShellOperationRecord>& ShellOperations();

// ---- Restart-time deletion
// NT: files recorded by MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), as passed.
const std::vector<std::string>& PendingDeletions();
// Starts Windows again: carries out the pending deletions and, as Windows 95/98 does, the
// NUL= lines of the [Rename] section of WinInit.ini in the Windows directory, read as text up
// to its first Ctrl-Z (then renames it to WININIT.BAK). Every process ends, including those
// that never ran. Returns how many files were deleted.
int Restart();

// ---- The log of platform calls, in order: operation name and its first text argument
// (CreateProcessA: the application name, else the command line; calls on a file handle:
// the file's path; waits and releases: the mutex's name; resources: "#103").
struct Call {
    uint32_t processId;
    std::string op;
    std::string arg;
};
const std::vector<Call>& Calls();
void ClearCalls();

// ---- Another program at work between the programs' own calls, for races.
// `action` runs once, just before the `nth` call (1-based) of the operation `op` whose text
// argument names `path` (matched as fault rules match it; "" matches any) is carried out. It
// stands for another program and uses the helpers above (MakeDirectories, PutFile ...), not
// the platform calls. Reset forgets it.
void BeforeCall(const std::string& op, const std::string& path, int nth,
                const std::function<void()>& action);

// ---- Fault injection. One rule serves every operation.
// A call is eligible when its operation matches `op` ("" matches every fallible operation)
// and, when `path` is not empty, its text argument names that path (compared without regard
// to case). The rule fires on the `nth` eligible call (1-based; 0 means every eligible call),
// and with `once` only the first time. A firing call fails as the real one would, with
// `error` as its last error (0 picks a realistic error for that operation).
struct FaultRule {
    std::string op;
    int nth = 0;
    std::string path;
    os::Dword error = 0;
    bool once = true;
};
void AddFault(const FaultRule& rule);
void ClearFaults();
int FaultsFired();
// The operations that can fail (the names of the platform.h functions that report failure).
const std::vector<std::string>& FallibleOperations();

}  // namespace sim
