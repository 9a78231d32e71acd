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
    kErrorInvalidAcl = 1336,
    kErrorCantResolveFilename = 1921,  // too many links on the way
};

// How many links one lookup goes through before it gives up.
constexpr int kMaxLinkHops = 31;

// What a file or directory is, apart from its name: a hard link gives a file a second name
// for the same data.
struct FileData {
    os::Dword attributes = os::kAttrNormal;  // never holds kAttrDirectory
    std::string content;
    bool inUse = false;  // open by a program outside the simulation
    std::string owner;   // the owner's SID, "S-1-5-32-544" and so on
    Dacl dacl;
    std::string writer;  // the SID that created it or last wrote its content
    // What a power cut leaves of `content`: what FlushFileBuffers last put on the disk, or
    // what a test helper wrote. Names, renames and deletions always stand.
    bool unflushed = false;
    std::string durable;
};

struct Node {
    std::string name;  // as created
    bool directory = false;
    std::string forcedShortName;  // SetShortName; empty: derived
    uint64_t serial = 0;          // creation order, for the ~N of derived short names
    Node* parent = nullptr;
    std::map<std::string, std::shared_ptr<Node>> children;  // keyed by upper-case name
    // A directory link (a junction): the full path it names. Path operations go through it to
    // that path, but for the last name of a path where Windows takes the link itself.
    std::string linkTarget;
    std::shared_ptr<FileData> data = std::make_shared<FileData>();
};

struct Drive {
    std::string root;  // "C:\"
    char letter = 'C';
    unsigned type = os::kDriveFixed;
    uint64_t freeBytes = 0;
    bool freeQueryFails = false;
    bool readOnly = false;
    bool keepsOwners = false;  // NTFS: Windows NT keeps an owner and a DACL for each file
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
    std::vector<std::string> groups;  // the other SIDs of its token
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
    NtDefaults ntDefaults = NtDefaults::kVista;
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
    std::vector<Change> changes;
    bool restarting = false;  // the restart's own changes are its
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

// nodes.cpp: the file tree. A lookup goes through every directory link on the way; the last
// name of the path too unless `followLast` is false, as for the calls that Windows lets act
// on a link itself (attributes, creating, deleting, renaming and removing by name).
Found Lookup(const Path& path, bool followLast = true);
// Parses relative to the running process and looks up; *error gets the parse error.
Found Resolve(const char* text, Path* path, os::Dword* error, bool followLast = true);
// Resolve, with *error also set (to `missing`) when nothing is there.
Found ResolveExisting(const char* path, Path* parsed, os::Dword* error, bool followLast = true);
// What `path` names; its node nullptr, with the last error set, when nothing is there.
Found FindExisting(const char* path, bool followLast = true);
// The node at an absolute path, as the test helpers name it (no MAX_PATH limit), creating
// missing directories on the way when asked; nullptr when there is none. *driveOut, when
// given, receives its drive.
Node* Walk(const std::string& path, bool create, bool lastIsDirectory, Drive** driveOut);
Node* FindChild(Node* directory, const std::string& name);
// A new file or directory, made by the running process: its owner and writer, with the DACL
// it inherits, or `given` merged with it as NT merges (security.cpp).
Node* AddChild(Node* directory, const std::string& name, bool isDirectory,
               const Dacl* given = nullptr);
// Where a new name at the absolute `path` would go, links on the way followed: its directory
// (`parent`) and drive, with `name` its last name; nothing (no parent) when something stands
// there already, the directory is missing or `path` is no path.
Found FreePlace(const std::string& path, std::string* name);
// Records that `node` was made, written, given other attributes or permissions, or is about to
// go, by the running process (or the restart), at its own path.
void NoteChange(const Node* node);
// Before `node`'s content changes: the running process writes it, and until it is flushed a
// power cut takes it back to what it was.
void WillWrite(Node* node);
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

// files.cpp: MoveFileExA by the running process, after the call is entered; 0 or the error.
os::Dword MoveNode(const char* existing, const char* newName, bool replace, bool copyAllowed);

// open_files.cpp: an open handle of any process that refuses to share `needed`
// (kGenericRead/Write, or kShareDelete for deletion). Only a handle opened with a right to
// read, run, write or delete takes part, as Windows checks sharing.
bool OpenWithoutSharing(const Node* node, os::Dword needed);

// drives.cpp
Drive* FindDrive(char letter);
// The error a write to `drive` fails with, 0 when it can be written.
os::Dword WriteProtection(const Drive* drive);

// security.cpp: security identifiers, "S-1-5-32-544" as the bytes of a SID and back; empty
// when the text or the bytes are no SID.
std::string SidBytes(const std::string& text);
std::string SidText(const unsigned char* bytes, size_t size);

// permissions.cpp: the security model of NT (DACLs) in the simulated machine.
// Entry flags (winnt.h).
enum : uint8_t {
    kAceObjectInherit = 0x1,
    kAceContainerInherit = 0x2,
    kAceNoPropagate = 0x4,
    kAceInheritOnly = 0x8,
    kAceInherited = 0x10,
};

// Access rights.
enum : uint32_t {
    kFileReadData = 0x1,    // FILE_LIST_DIRECTORY
    kFileWriteData = 0x2,   // FILE_ADD_FILE
    kFileAppendData = 0x4,  // FILE_ADD_SUBDIRECTORY
    kFileExecute = 0x20,    // FILE_TRAVERSE
    kFileDeleteChild = 0x40,
    kFileWriteAttributes = 0x100,
    kDelete = 0x10000,
    kReadControl = 0x20000,
    kWriteDac = 0x40000,
    kWriteOwner = 0x80000,
    kSynchronize = 0x100000,
    kGenericAll = 0x10000000,
    kGenericExecute = 0x20000000,
    kGenericWrite = 0x40000000,
    kGenericRead = 0x80000000u,
    kFileAllAccess = 0x1F01FF,
    kSharingRights = kFileReadData | kFileExecute | kFileWriteData | kFileAppendData | kDelete,
    kFileModify = 0x1301BF,       // "Change" on NT 4.0, "Modify" from 2000 on
    kFileReadExecute = 0x1200A9,  // "Read & Execute"
};

// The well-known SIDs the defaults name.
extern const char kEveryoneSid[];
extern const char kCreatorOwnerSid[];
extern const char kAuthenticatedUsersSid[];
extern const char kInteractiveSid[];
extern const char kUsersSid[];
extern const char kPowerUsersSid[];
extern const char kServerOperatorsSid[];

// GENERIC_* rights as file rights.
uint32_t MapGenericRights(uint32_t mask);

// Whether a token of `user` and `groups` may have every right of `desired` on an object of
// `owner` with `dacl`: Windows's walk through the entries in order, a deny entry for a right not
// yet granted ending it. The owner may always read and change the DACL.
bool AccessAllowed(const Dacl& dacl, const std::string& owner, const std::string& user,
                   const std::vector<std::string>& groups, uint32_t desired);

// The DACL a new file or directory gets below `parent`, made by `creator`: `given` (may be null)
// as passed at creation, with the parent's inheritable entries merged in after it unless it is
// protected or the version is NT 4.0, which merges nothing; without one, the parent's
// inheritable entries alone.
Dacl NewObjectDacl(const Dacl* given, const Dacl& parent, bool directory,
                   const std::string& creator, NtDefaults version);

// Whether permissions are checked on `drive`: on Windows NT, where the drive keeps them.
bool KeepsPermissions(const Drive* drive);
// Whether the running process may have every right of `rights` on `node` (always where
// nothing is checked).
bool MayAccess(const Node* node, const Drive* drive, uint32_t rights);
// Whether it may delete or rename `node`: DELETE on it, or FILE_DELETE_CHILD on its directory.
bool MayDelete(const Node* node, const Drive* drive);
// The token a process has when nothing passes one on: the installing user's, an administrator.
std::vector<std::string> InstallingUserGroups();

// The default DACLs of a drive root (every fixed drive's, as the system drive's), the Windows
// directory, its TEMP, and a TEMP at a drive root, by NT version.
Dacl DefaultDriveRootDacl(NtDefaults version);
Dacl DefaultWindowsDacl(NtDefaults version);
Dacl DefaultWindowsTempDacl(NtDefaults version);
Dacl DefaultDriveTempDacl(NtDefaults version);  // only NT 4.0 has one; the others: inherited

// A self-relative descriptor with the owner and/or DACL that `parts` asks for
// (OWNER_SECURITY_INFORMATION, DACL_SECURITY_INFORMATION).
std::string DescriptorBytes(const std::string& owner, const Dacl& dacl, uint32_t parts);
// Reads the descriptor a program passes in SECURITY_ATTRIBUTES, checked as Windows checks it:
// 0, or ERROR_INVALID_SECURITY_DESCR (1338) / ERROR_INVALID_ACL (1336) for one that is not
// whole. Only self-relative descriptors are read (the programs pass no other kind), and no more
// of them than their own offsets and sizes say. `*hasDacl` tells whether it carries a DACL.
uint32_t ParseDescriptor(const unsigned char* bytes, Dacl* dacl, bool* hasDacl);

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
// `imageWriter`, when given, receives who wrote the program file.
os::Dword FindProgram(const char* applicationName, const char* commandLine, ProgramMain* main,
                      std::string* imageWriter = nullptr);

// restart.cpp: MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT, once the call is entered.
os::Bool ScheduleAtRestart(const char* existing, const char* newName);

}  // namespace model
}  // namespace sim
