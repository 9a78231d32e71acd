// The state of the simulated machine, shared by its rooms: one file a concern in sim/, each
// with the model's operations, the control API of machine.h and the platform functions of
// common/platform.h for that concern. Nothing outside sim/ includes this header.
//
// Each platform function logs itself (Calls()), lets the fault rules fail it when it is
// fallible, and otherwise does what the Windows function does to the model, with Windows's
// results and last errors. Handles and window handles are plain numbers, never dereferenced.
#pragma once

#include <stdint.h>

#include <stdlib.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {
namespace model {

// The outside process that HoldMutex plays, and the test itself: the process on whose behalf
// the platform functions run when a test calls them directly.
constexpr uint32_t kOutsideProcessId = 2;
constexpr uint32_t kHostProcessId = 1;
// A system cursor's handle: the base plus its IDC_ number. The arrow shows at the start.
constexpr uintptr_t kCursorBase = 0x40000;
constexpr uintptr_t kArrowCursor = kCursorBase + 32512;  // IDC_ARROW

// Windows error numbers that common/platform.h does not name.
enum : os::Dword {
    kErrorNotSameDevice = 17,
    kErrorInvalidName = 123,
    kErrorBadExeFormat = 193,
    kErrorDirectory = 267,
    kErrorNotOwner = 288,
    kErrorInvalidWindowHandle = 1400,
    kErrorCannotFindWindowClass = 1407,
    kErrorControlIdNotFound = 1421,
    kErrorResourceTypeNotFound = 1813,
    kErrorResourceNameNotFound = 1814,
    kErrorInvalidSecurityDescriptor = 1338,
    kErrorNoToken = 1008,
};

struct Node {
    std::string name;  // as created
    bool directory = false;
    os::Dword attributes = os::kAttrNormal;  // never holds kAttrDirectory
    std::string content;
    std::string forcedShortName;  // SetShortName; empty: derived
    bool inUse = false;           // open by a program outside the simulation
    std::string owner;            // the owner's SID, "S-1-5-32-544" and so on
    uint64_t serial = 0;          // creation order, for the ~N of derived short names
    Node* parent = nullptr;
    std::map<std::string, std::shared_ptr<Node>> children;  // keyed by upper-case name
};

struct Drive {
    std::string root;  // "C:\"
    char letter = 'C';
    unsigned type = os::kDriveFixed;
    uint64_t freeBytes = 0;
    bool freeQueryFails = false;
    bool readOnly = false;
    bool keepsOwners = false;  // NTFS: Windows NT keeps an owner for each file
    std::shared_ptr<Node> top;
};

// A path after GetFullPathNameA's rules: a drive letter and the components below its root.
struct Path {
    char letter = 0;
    std::vector<std::string> parts;
    bool trailingSeparator = false;
};

struct Found {
    Node* node = nullptr;    // the object the path names, or nullptr
    Node* parent = nullptr;  // its directory, when that exists
    os::Dword missing = 0;   // 2 when only the last component is missing, 3 when more is
    Drive* drive = nullptr;
};

struct Process {
    uint32_t id = 0;
    uint32_t parentId = 0;
    std::string currentDirectory;  // as given, in full form
    os::Dword lastError = 0;
    std::string user;  // the SID the process runs as; it owns what the process creates
    bool commonControls = false;
    bool alive = true;
    int recordIndex = -1;
    // Started by CreateProcessA but not run yet: it runs when something waits for it or when
    // the test lets started programs run (RunStartedPrograms).
    bool waitingToRun = false;
    ProgramMain main = nullptr;
    std::string commandLine;  // its own copy, as a real process has
};

enum class Kind { kMutex, kProcess, kThread, kFile, kToken };

struct HandleObject {
    Kind kind = Kind::kMutex;
    uint32_t processId = 0;  // the process that owns the handle
    int mutexId = 0;
    uint32_t targetProcess = 0;
    std::shared_ptr<Node> node;
    Drive* drive = nullptr;
    os::Dword access = 0;
    os::Dword share = 0;
    uint64_t position = 0;
};

struct Mutex {
    std::string name;
    uint32_t owner = 0;
    int count = 0;
    bool abandoned = false;
    int handles = 0;         // handles of simulated processes
    int outsideHandles = 0;  // the outside holder's
};

enum class WindowKind { kDialog, kProgressBar };

struct Window {
    WindowKind kind = WindowKind::kDialog;
    uint32_t processId = 0;
    bool alive = true;
    uintptr_t dialog = 0;  // the progress bar's dialog
    ProgressRecord progress = ProgressRecord();
};

struct PendingOperation {
    std::string asPassed;
    std::string source;  // full path
    std::string target;  // full path; empty: delete
};

struct Interleaving {
    std::string op;
    std::string path;
    int nth = 1;
    int seen = 0;
    std::function<void()> action;
};

struct FaultState {
    FaultRule rule;
    int eligible = 0;
    bool fired = false;
};

struct Machine {
    std::vector<std::unique_ptr<Drive>> drives;
    bool driveStringsOverridden = false;
    std::string driveStringsOverride;
    std::string windowsDirectory;
    std::string systemDirectory;
    std::string currentDirectory;
    os::Dword platform = os::kPlatformNt;
    bool versionQueryFails = false;
    int bitsPerPixel = 32;
    int planes = 1;
    bool hasDeviceContext = true;
    uint64_t nextSerial = 1;

    std::map<uint32_t, Process> processes;
    std::vector<uint32_t> running;  // innermost last; empty: the test itself
    uint32_t nextProcessId = 0x100;
    std::vector<ProcessRecord> records;

    std::map<uintptr_t, HandleObject> handles;
    uintptr_t nextHandle = 0x1000;
    std::map<int, Mutex> mutexes;
    int nextMutexId = 1;
    std::map<std::string, bool> outsideHolds;  // upper-case name -> still owns it

    std::map<uintptr_t, Window> windows;
    uintptr_t nextWindow = 0x20000;
    uintptr_t lastDialog = 0;
    ProgressRecord noDialog = ProgressRecord();
    std::map<uintptr_t, uint32_t> deviceContexts;
    uintptr_t nextDc = 0x30000;
    uintptr_t cursor = 0;
    std::map<void*, uint32_t> heapBlocks;  // HeapAlloc blocks, by owning process
    // The process heaps go with the machine: at exit this map is destroyed before the leak
    // check runs, and a block the programs still point to would read as leaked. Reset frees
    // the blocks before it moves a fresh machine in.
    Machine() = default;
    Machine(Machine&&) = default;
    Machine& operator=(Machine&&) = default;
    ~Machine() {
        for (auto& block : heapBlocks) {
            free(block.first);
        }
    }
    int hungWaits = 0;

    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<ShellOperationRecord> shellOperations;
    int screenRepaints = 0;
    std::vector<Interleaving> interleavings;
    std::vector<PendingOperation> pending;
    std::vector<std::string> pendingDeletions;
    std::vector<Call> calls;
    std::vector<FaultState> faults;
    int faultsFired = 0;
    std::map<std::string, ProgramMain> programs;
};

// ---- The operations each room offers the others, room by room.

// machine.cpp: the one machine.
Machine& M();
// Forgets every object, window, device context and heap block (Reset and Restart).
void ClearObjects();

// calls.cpp: every platform function logs itself; a fallible one enters, and fails when Enter
// says a fault rule fired.
void Log(const char* op, const std::string& argument);
bool Enter(const char* op, const char* argument, const char* second = nullptr);
void SetError(os::Dword error);  // the running process's last error

// text.cpp
unsigned char UpperChar(unsigned char c);  // CharUpperA in code page 1252
std::string Upper(const std::string& text);
bool EqualNoCase(const std::string& a, const std::string& b);
std::string Text(const char* text);  // "" for nullptr
os::Dword CopyOut(const std::string& text, char* buffer, os::Dword capacity);
// CopyOut of a directory the machine reports; 0 and ERROR_FILE_NOT_FOUND when it has none.
os::Dword DirectoryOut(const std::string& directory, char* buffer, os::Dword capacity);

// paths.cpp
// GetFullPathNameA's rules relative to `currentDirectory`; 0 or an error number. The ANSI
// functions refuse paths of 260 characters or more (206); the test helpers, which stand for
// whatever put the files there, set `maxPathLimit` false.
os::Dword ParsePath(const char* text, const std::string& currentDirectory, Path* out,
                    bool maxPathLimit = true);
std::string PathText(const Path& path);  // "C:\A\B", or "C:\" for the root
std::string ShortNameOf(const Node* node);

// nodes.cpp: the file tree.
Found Lookup(const Path& path);
// Parses relative to the running process and looks up; *error gets the parse error.
Found Resolve(const char* text, Path* path, os::Dword* error);
// Resolve, with *error also set (to `missing`) when nothing is there.
Found ResolveExisting(const char* path, Path* parsed, os::Dword* error);
// What `path` names; its node nullptr, with the last error set, when nothing is there.
Found FindExisting(const char* path);
// The node at an absolute path, as the test helpers name it (no MAX_PATH limit), creating
// missing directories on the way when asked; nullptr when there is none. *driveOut, when
// given, receives its drive.
Node* Walk(const std::string& path, bool create, bool lastIsDirectory, Drive** driveOut);
Node* FindChild(Node* directory, const std::string& name);
Node* AddChild(Node* directory, const std::string& name, bool isDirectory);
std::shared_ptr<Node> DetachChild(Node* node);
// Moves `node` into `directory` (its own, for a rename) under `name`.
void MoveChild(Node* node, Node* directory, const std::string& name);
uint64_t TreeBytes(const Node* node);  // of the files at and below `node`
// Takes `node` and what is below it out of the tree, giving their bytes back to `drive`.
void RemoveFromTree(Node* node, Drive* drive);
// The attributes a program may set: read-only, hidden, system and archive.
os::Dword SettableAttributes(os::Dword attributes);
// The attributes as Windows reports them: a directory's with FILE_ATTRIBUTE_DIRECTORY.
os::Dword ReportedAttributes(const Node* node);
std::string StoredPathOf(const Drive* drive, const Node* node);
Drive* DriveOf(const Node* node);
// A directory that is the current directory of a live process.
bool IsCurrentDirectoryOfLiveProcess(const Node* node);

// open_files.cpp: an open handle of any process that refuses to share `needed`
// (kGenericRead/Write, or kShareDelete for deletion).
bool OpenWithoutSharing(const Node* node, os::Dword needed);

// drives.cpp
Drive* FindDrive(char letter);
// The error a write to `drive` fails with, 0 when it can be written.
os::Dword WriteProtection(const Drive* drive);

// security.cpp: security identifiers, "S-1-5-32-544" as the bytes of a SID and back; empty
// when the text or the bytes are no SID.
std::string SidBytes(const std::string& text);
std::string SidText(const unsigned char* bytes, size_t size);

// handles.cpp
os::Handle NewHandle(const HandleObject& object);
HandleObject* FindHandle(os::Handle handle);  // of the running process
void CloseHandleObject(uintptr_t value);

// mutexes.cpp
int MutexIdByName(const std::string& name);  // 0 when there is no such mutex
// One handle of the mutex fewer (the outside holder's, or a simulated process's); the object
// goes with its last handle.
void DropMutexHandle(int mutexId, bool outside);

// processes.cpp
Process& Current();  // the one whose code is running (the test itself when none is)
void EndProcess(uint32_t processId);
bool NestingTooDeep();
// A new process for the record at `recordIndex` that will run `main`; it waits to run.
uint32_t CreateProcessFor(int recordIndex, ProgramMain main, const std::string& commandLine,
                          const std::string& currentDirectory, uint32_t parentId);
// Runs a process that waits to run, to its end. False when it could not run now: it is
// running already (a wait for it from inside would never end) or programs nest too deep.
bool RunToEnd(uint32_t processId);

// programs.cpp
ProgramMain ProgramOfImage(const std::string& content);  // nullptr: not a registered program
// Finds the program that CreateProcessA would start; 0 or the error it fails with.
os::Dword FindProgram(const char* applicationName, const char* commandLine, ProgramMain* main);

// restart.cpp: MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT, once the call is entered.
os::Bool ScheduleAtRestart(const char* existing, const char* newName);

}  // namespace model
}  // namespace sim
