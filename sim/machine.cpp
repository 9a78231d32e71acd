// The simulated machine: its model of drives, files, processes and objects, and the control
// API that the tests drive it with.
#include "sim/machine.h"

#include <stdlib.h>

#include <algorithm>

#include "common/command_line.h"
#include "sim/model.h"

namespace sim {
namespace model {

static const uintptr_t kArrowCursor = 0x40000 + 32512;  // IDC_ARROW

// The test's own process exists from the start, before any Reset().
static void AddTestProcess(Machine* machine) {
    Process host;
    host.id = kHostProcessId;
    host.currentDirectory = machine->currentDirectory;
    host.user = kAdministratorsSid;  // whatever put the machine's files there
    machine->processes[kHostProcessId] = host;
    machine->cursor = kArrowCursor;
}

Machine& M() {
    static Machine machine;
    if (machine.processes.empty()) {
        AddTestProcess(&machine);
    }
    return machine;
}

// ---- Processes

Process& Current() {
    Machine& m = M();
    uint32_t id = m.running.empty() ? kHostProcessId : m.running.back();
    return m.processes[id];
}

Node* FindChild(Node* directory, const std::string& name) {
    auto it = directory->children.find(Upper(name));
    if (it != directory->children.end()) {
        return it->second.get();
    }
    // Every Windows path may name a component by its short name.
    std::string upper = Upper(name);
    for (auto& entry : directory->children) {
        if (Upper(ShortNameOf(entry.second.get())) == upper) {
            return entry.second.get();
        }
    }
    return nullptr;
}

Node* AddChild(Node* directory, const std::string& name, bool isDirectory) {
    auto node = std::make_shared<Node>();
    node->name = name;
    node->directory = isDirectory;
    node->attributes = isDirectory ? 0 : static_cast<os::Dword>(os::kAttrNormal);
    node->serial = M().nextSerial++;
    node->parent = directory;
    node->owner = Current().user;
    Node* raw = node.get();
    directory->children[Upper(name)] = node;
    return raw;
}

std::shared_ptr<Node> DetachChild(Node* node) {
    Node* parent = node->parent;
    auto it = parent->children.find(Upper(node->name));
    std::shared_ptr<Node> kept = it->second;
    parent->children.erase(it);
    node->parent = nullptr;
    return kept;
}

uint64_t TreeBytes(const Node* node) {
    uint64_t total = node->content.size();
    for (const auto& entry : node->children) {
        total += TreeBytes(entry.second.get());
    }
    return total;
}

Drive* DriveOf(const Node* node) {
    while (node->parent != nullptr) {
        node = node->parent;
    }
    for (auto& drive : M().drives) {
        if (drive->top.get() == node) {
            return drive.get();
        }
    }
    return nullptr;
}

std::string StoredPathOf(const Drive* drive, const Node* node) {
    std::vector<const Node*> chain;
    for (const Node* n = node; n != nullptr && n->parent != nullptr; n = n->parent) {
        chain.push_back(n);
    }
    std::string text = drive->root;
    for (size_t i = chain.size(); i > 0; --i) {
        text += chain[i - 1]->name;
        if (i > 1) {
            text += '\\';
        }
    }
    return text;
}

Found Lookup(const Path& path) {
    Found found;
    found.drive = FindDrive(path.letter);
    if (found.drive == nullptr) {
        found.missing = os::kErrorPathNotFound;
        return found;
    }
    Node* current = found.drive->top.get();
    for (size_t i = 0; i < path.parts.size(); ++i) {
        if (!current->directory) {
            found.missing = os::kErrorPathNotFound;
            return found;
        }
        Node* child = FindChild(current, path.parts[i]);
        if (child == nullptr) {
            if (i + 1 == path.parts.size()) {
                found.parent = current;
                found.missing = os::kErrorFileNotFound;
            } else {
                found.missing = os::kErrorPathNotFound;
            }
            return found;
        }
        current = child;
    }
    found.node = current;
    found.parent = current->parent;
    return found;
}

Found Resolve(const char* text, Path* path, os::Dword* error) {
    *error = ParsePath(text, Current().currentDirectory, path);
    if (*error != 0) {
        return Found();
    }
    return Lookup(*path);
}

// What `path` names, parsed relative to the running process, with *error set when nothing is
// there: the parse error, or 2 for a missing last component and 3 for a missing directory.
Found ResolveExisting(const char* path, Path* parsed, os::Dword* error) {
    Found found = Resolve(path, parsed, error);
    if (*error == 0 && found.node == nullptr) {
        *error = found.missing;
    }
    return found;
}

bool IsCurrentDirectoryOfLiveProcess(const Node* node) {
    for (auto& entry : M().processes) {
        const Process& process = entry.second;
        if (!process.alive) {
            continue;
        }
        Path path;
        if (ParsePath(process.currentDirectory.c_str(), "", &path, false) == 0 &&
            Lookup(path).node == node) {
            return true;
        }
    }
    return false;
}

// ---- Handles

os::Handle NewHandle(const HandleObject& object) {
    Machine& m = M();
    uintptr_t value = m.nextHandle;
    m.nextHandle += 4;
    m.handles[value] = object;
    return reinterpret_cast<os::Handle>(value);
}

HandleObject* FindHandle(os::Handle handle) {
    auto it = M().handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == M().handles.end() || it->second.processId != Current().id) {
        return nullptr;
    }
    return &it->second;
}

static void DropMutexHandle(int mutexId, bool outside) {
    Machine& m = M();
    auto it = m.mutexes.find(mutexId);
    if (it == m.mutexes.end()) {
        return;
    }
    if (outside) {
        --it->second.outsideHandles;
    } else {
        --it->second.handles;
    }
    // The object goes with its last handle, even when it is still owned.
    if (it->second.handles <= 0 && it->second.outsideHandles <= 0) {
        m.mutexes.erase(it);
    }
}

void CloseHandleObject(uintptr_t value) {
    Machine& m = M();
    auto it = m.handles.find(value);
    if (it == m.handles.end()) {
        return;
    }
    HandleObject object = it->second;
    m.handles.erase(it);
    if (object.kind == Kind::kMutex) {
        DropMutexHandle(object.mutexId, false);
    }
}

void EndProcess(uint32_t processId) {
    Machine& m = M();
    // Mutexes it still owns become abandoned: the next waiter gets WAIT_ABANDONED.
    for (auto& entry : m.mutexes) {
        if (entry.second.owner == processId) {
            entry.second.owner = 0;
            entry.second.count = 0;
            entry.second.abandoned = true;
        }
    }
    std::vector<uintptr_t> owned;
    for (auto& entry : m.handles) {
        if (entry.second.processId == processId) {
            owned.push_back(entry.first);
        }
    }
    for (uintptr_t value : owned) {
        CloseHandleObject(value);
    }
    for (auto& entry : m.windows) {
        if (entry.second.processId == processId) {
            entry.second.alive = false;
        }
    }
    for (auto it = m.deviceContexts.begin(); it != m.deviceContexts.end();) {
        it = it->second == processId ? m.deviceContexts.erase(it) : std::next(it);
    }
    for (auto it = m.heapBlocks.begin(); it != m.heapBlocks.end();) {
        if (it->second == processId) {
            free(it->first);
            it = m.heapBlocks.erase(it);
        } else {
            ++it;
        }
    }
    m.processes[processId].alive = false;
}

}  // namespace model

using namespace model;

// ---- The machine as a whole

static void ClearObjects() {
    Machine& m = M();
    for (auto& entry : m.heapBlocks) {
        free(entry.first);
    }
    m.heapBlocks.clear();
    m.handles.clear();
    m.mutexes.clear();
    m.outsideHolds.clear();
    m.windows.clear();
    m.deviceContexts.clear();
    m.lastDialog = 0;
    m.hungWaits = 0;
}

void Reset() {
    Machine& m = M();
    ClearObjects();
    // Registered programs stay: they are code, not machine state.
    std::map<std::string, ProgramMain> programs = m.programs;
    m = Machine();
    m.programs = programs;
    AddTestProcess(&m);
}

void ResetTypical(uint32_t cFreeMb, bool windowsNt) {
    Reset();
    AddDrive("C:\\", os::kDriveFixed, static_cast<uint64_t>(cFreeMb) << 20);
    AddDrive("E:\\", os::kDriveCdrom, 0);
    MakeDirectories("C:\\WINDOWS\\SYSTEM");
    MakeDirectories("C:\\WINDOWS\\TEMP");
    SetWindowsDirectory("C:\\WINDOWS");
    SetSystemDirectory("C:\\WINDOWS\\SYSTEM");
    SetCurrentDirectory("E:\\");
    SetPlatform(windowsNt ? os::kPlatformNt : os::kPlatformWindows);
}

// ---- Directories and version

void SetWindowsDirectory(const std::string& path) {
    M().windowsDirectory = path;
}
void SetSystemDirectory(const std::string& path) {
    M().systemDirectory = path;
}

void SetCurrentDirectory(const std::string& path) {
    M().currentDirectory = path;
    M().processes[kHostProcessId].currentDirectory = path;
}

void SetPlatform(os::Dword platformId) {
    M().platform = platformId;
}
void SetVersionQueryFails(bool fails) {
    M().versionQueryFails = fails;
}

void SetDisplay(int bitsPerPixel, int planes, bool hasDeviceContext) {
    M().bitsPerPixel = bitsPerPixel;
    M().planes = planes;
    M().hasDeviceContext = hasDeviceContext;
}

// ---- Files

// The node at an absolute path, creating missing directories on the way when asked.
Node* model::Walk(const std::string& path, bool create, bool lastIsDirectory, Drive** driveOut) {
    Path parsed;
    if (ParsePath(path.c_str(), "", &parsed, false) != 0) {
        return nullptr;
    }
    Drive* drive = FindDrive(parsed.letter);
    if (drive == nullptr) {
        return nullptr;
    }
    if (driveOut != nullptr) {
        *driveOut = drive;
    }
    Node* current = drive->top.get();
    for (size_t i = 0; i < parsed.parts.size(); ++i) {
        if (!current->directory) {
            return nullptr;
        }
        Node* child = FindChild(current, parsed.parts[i]);
        if (child == nullptr) {
            if (!create) {
                return nullptr;
            }
            bool last = i + 1 == parsed.parts.size();
            child = AddChild(current, parsed.parts[i], !last || lastIsDirectory);
        }
        current = child;
    }
    return current;
}

bool MakeDirectories(const std::string& path) {
    Node* node = Walk(path, true, true, nullptr);
    return node != nullptr && node->directory;
}

bool PutFile(const std::string& path, const std::string& content, os::Dword attributes) {
    Drive* drive = nullptr;
    Node* node = Walk(path, true, false, &drive);
    if (node == nullptr || node->directory) {
        return false;
    }
    node->content = content;
    os::Dword kept =
        attributes & (os::kAttrReadOnly | os::kAttrHidden | os::kAttrSystem | os::kAttrArchive);
    // Files on a CD-ROM always report read-only.
    if (drive->type == os::kDriveCdrom) {
        kept |= os::kAttrReadOnly;
    }
    node->attributes = kept == 0 ? static_cast<os::Dword>(os::kAttrNormal) : kept;
    return true;
}

bool GetFile(const std::string& path, std::string* content) {
    Node* node = Walk(path, false, false, nullptr);
    if (node == nullptr || node->directory) {
        return false;
    }
    *content = node->content;
    return true;
}

bool FileExists(const std::string& path) {
    Node* node = Walk(path, false, false, nullptr);
    return node != nullptr && !node->directory;
}

bool DirectoryExists(const std::string& path) {
    Node* node = Walk(path, false, false, nullptr);
    return node != nullptr && node->directory;
}

os::Dword Attributes(const std::string& path) {
    Node* node = Walk(path, false, false, nullptr);
    if (node == nullptr) {
        return os::kInvalidFileAttributes;
    }
    return node->directory ? (node->attributes | os::kAttrDirectory) : node->attributes;
}

std::string StoredPath(const std::string& path) {
    Drive* drive = nullptr;
    Node* node = Walk(path, false, false, &drive);
    return node == nullptr ? std::string() : StoredPathOf(drive, node);
}

static void Collect(const Drive* drive, const Node* node, std::vector<Entry>* out) {
    for (const auto& entry : node->children) {
        const Node* child = entry.second.get();
        Entry e;
        e.path = StoredPathOf(drive, child);
        e.directory = child->directory;
        e.attributes =
            child->directory ? (child->attributes | os::kAttrDirectory) : child->attributes;
        if (child->directory) {
            e.path += '\\';
        } else {
            e.content = child->content;
        }
        out->push_back(e);
        if (child->directory) {
            Collect(drive, child, out);
        }
    }
}

static bool ByPath(const Entry& a, const Entry& b) {
    return a.path < b.path;
}

std::vector<Entry> Snapshot(const std::string& root) {
    std::vector<Entry> entries;
    Drive* drive = nullptr;
    Node* node = Walk(root, false, false, &drive);
    if (node != nullptr && node->directory) {
        Collect(drive, node, &entries);
    }
    std::sort(entries.begin(), entries.end(), ByPath);
    return entries;
}

std::vector<Entry> SnapshotAll() {
    std::vector<Entry> entries;
    for (auto& drive : M().drives) {
        Collect(drive.get(), drive->top.get(), &entries);
    }
    std::sort(entries.begin(), entries.end(), ByPath);
    return entries;
}

void SetFileInUse(const std::string& path, bool inUse) {
    if (Node* node = Walk(path, false, false, nullptr)) {
        node->inUse = inUse;
    }
}

// ---- Programs and processes

static const char kImagePrefix[] = "MZ simulated program: ";

std::string ProgramImage(const std::string& name) {
    return kImagePrefix + name;
}

void RegisterProgram(const std::string& name, ProgramMain main) {
    M().programs[name] = main;
}

ProgramMain model::ProgramOfImage(const std::string& content) {
    std::string prefix(kImagePrefix);
    if (content.compare(0, prefix.size(), prefix) != 0) {
        return nullptr;
    }
    auto it = M().programs.find(content.substr(prefix.size()));
    return it == M().programs.end() ? nullptr : it->second;
}

// Whether a name has an extension: a dot in its last component.
static bool HasExtension(const std::string& name) {
    size_t slash = name.find_last_of("\\/:");
    size_t dot = name.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// Looks for the executable file `name`: a name without a path in the current, the system
// and the Windows directory, as CreateProcessA's search does; else relative to the current
// directory. Returns the file's node, or nullptr with *error set.
static Node* FindExecutable(const std::string& name, os::Dword* error) {
    std::vector<std::string> tries;
    bool bare = name.find_first_of("\\/:") == std::string::npos;
    std::vector<std::string> directories{std::string()};
    if (bare) {
        directories.push_back(M().systemDirectory);
        directories.push_back(M().windowsDirectory);
    }
    for (const std::string& directory : directories) {
        std::string base = directory;
        if (!base.empty() && base.back() != '\\') {
            base += '\\';
        }
        tries.push_back(base + name);
        if (!HasExtension(name)) {
            tries.push_back(base + name + ".exe");
        }
    }
    *error = 0;
    for (const std::string& candidate : tries) {
        Path path;
        os::Dword parseError = 0;
        Found found = Resolve(candidate.c_str(), &path, &parseError);
        os::Dword reason = parseError != 0 ? parseError : found.missing;
        if (found.node != nullptr && !found.node->directory) {
            return found.node;
        }
        if (found.node != nullptr) {
            reason = os::kErrorAccessDenied;  // a directory
        }
        if (*error == 0) {
            *error = reason;
        }
    }
    return nullptr;
}

os::Dword model::FindProgram(const char* applicationName, const char* commandLine,
                             ProgramMain* main) {
    std::vector<std::string> names;
    if (applicationName != nullptr) {
        names.push_back(applicationName);
    } else if (commandLine == nullptr || commandLine[0] == '\0') {
        return os::kErrorPathNotFound;
    } else if (commandLine[0] == '"') {
        std::string line(commandLine + 1);
        names.push_back(line.substr(0, line.find('"')));
    } else {
        // An unquoted name with blanks is tried at each blank in turn, as CreateProcessA
        // does: "C:\My Temp\a.exe x" tries C:\My, then C:\My Temp\a.exe, ...
        std::string line(commandLine);
        for (size_t i = 1; i <= line.size(); ++i) {
            if (i == line.size() || line[i] == ' ' || line[i] == '\t') {
                names.push_back(line.substr(0, i));
            }
        }
    }
    os::Dword firstError = 0;
    for (const std::string& name : names) {
        os::Dword error = 0;
        Node* file = FindExecutable(name, &error);
        if (file != nullptr) {
            *main = ProgramOfImage(file->content);
            return *main == nullptr ? 193 : 0;  // ERROR_BAD_EXE_FORMAT
        }
        if (firstError == 0) {
            firstError = error;
        }
    }
    return firstError == os::kErrorPathNotFound ? firstError : os::kErrorFileNotFound;
}

static const int kMaxNesting = 16;

uint32_t model::CreateProcessFor(int recordIndex, ProgramMain main, const std::string& commandLine,
                                 const std::string& currentDirectory, uint32_t parentId) {
    Machine& m = M();
    Process process;
    process.id = m.nextProcessId;
    m.nextProcessId += 4;
    process.parentId = parentId;
    process.currentDirectory = currentDirectory;
    process.recordIndex = recordIndex;
    process.waitingToRun = true;
    process.main = main;
    process.commandLine = commandLine;
    auto parent = m.processes.find(parentId);
    process.user = parent != m.processes.end() ? parent->second.user : kInstallingUserSid;
    m.processes[process.id] = process;
    m.records[recordIndex].processId = process.id;
    m.records[recordIndex].started = true;
    for (const auto& program : m.programs) {
        if (program.second == main) {
            m.records[recordIndex].program = program.first;
        }
    }
    return process.id;
}

bool model::RunToEnd(uint32_t processId) {
    Machine& m = M();
    Process& process = m.processes[processId];
    if (!process.waitingToRun || NestingTooDeep()) {
        return false;
    }
    process.waitingToRun = false;
    ProgramMain main = process.main;
    std::string commandLine = process.commandLine;
    int recordIndex = process.recordIndex;
    m.running.push_back(processId);
    int code = main(reinterpret_cast<os::Handle>(static_cast<uintptr_t>(0x400000)),
                    CommandLineTail(commandLine.c_str()));
    m.running.pop_back();
    EndProcess(processId);
    m.records[recordIndex].finished = true;
    m.records[recordIndex].exitCode = code;
    return true;
}

bool model::NestingTooDeep() {
    return static_cast<int>(M().running.size()) >= kMaxNesting;
}

int64_t RunProgram(const std::string& commandLine, const std::string& currentDirectory) {
    Machine& m = M();
    std::string directory = currentDirectory.empty() ? m.currentDirectory : currentDirectory;
    ProcessRecord record = ProcessRecord();
    record.commandLine = commandLine;
    record.currentDirectory = currentDirectory;
    record.inheritedEnvironment = true;
    record.startupInfoSize = sizeof(os::StartupInfo);
    m.records.push_back(record);
    int index = static_cast<int>(m.records.size()) - 1;
    // The shell starts the program from the directory it is given.
    std::string saved = Current().currentDirectory;
    Current().currentDirectory = directory;
    ProgramMain main = nullptr;
    os::Dword error = FindProgram(nullptr, commandLine.c_str(), &main);
    Current().currentDirectory = saved;
    Path parsed;
    if (error != 0 || NestingTooDeep() || ParsePath(directory.c_str(), "", &parsed) != 0) {
        return -1;
    }
    m.records[index].setupMutexOwnedAtStart = MutexOwned("MutexToProtectSetup");
    RunToEnd(CreateProcessFor(index, main, commandLine, PathText(parsed), 0));
    return m.records[index].exitCode;
}

int RunStartedPrograms() {
    Machine& m = M();
    int ran = 0;
    for (;;) {
        // The oldest first: process ids only grow.
        uint32_t next = 0;
        for (const auto& entry : m.processes) {
            if (entry.second.waitingToRun) {
                next = entry.first;
                break;
            }
        }
        if (next == 0 || !RunToEnd(next)) {
            return ran;
        }
        ++ran;
    }
}

const std::vector<ProcessRecord>& Processes() {
    return M().records;
}

// ---- Named mutexes

static Mutex* FindMutex(const std::string& name) {
    for (auto& entry : M().mutexes) {
        if (!entry.second.name.empty() && entry.second.name == name) {
            return &entry.second;
        }
    }
    return nullptr;
}

int model::MutexIdByName(const std::string& name) {
    for (auto& entry : M().mutexes) {
        if (!entry.second.name.empty() && entry.second.name == name) {
            return entry.first;
        }
    }
    return 0;
}

void HoldMutex(const std::string& name) {
    Machine& m = M();
    Mutex* mutex = FindMutex(name);
    if (mutex == nullptr) {
        int id = m.nextMutexId++;
        m.mutexes[id].name = name;
        mutex = &m.mutexes[id];
    }
    if (m.outsideHolds.count(name) == 0) {
        ++mutex->outsideHandles;
    }
    m.outsideHolds[name] = true;
    mutex->owner = kOutsideProcessId;
    mutex->count = 1;
    mutex->abandoned = false;
}

void AbandonHeldMutex(const std::string& name) {
    Mutex* mutex = FindMutex(name);
    if (mutex != nullptr && mutex->owner == kOutsideProcessId) {
        mutex->owner = 0;
        mutex->count = 0;
        mutex->abandoned = true;
    }
    if (M().outsideHolds.count(name) != 0) {
        M().outsideHolds[name] = false;
    }
}

void ReleaseHeldMutex(const std::string& name) {
    Machine& m = M();
    auto hold = m.outsideHolds.find(name);
    if (hold == m.outsideHolds.end()) {
        return;
    }
    m.outsideHolds.erase(hold);
    int id = MutexIdByName(name);
    if (id == 0) {
        return;
    }
    Mutex& mutex = m.mutexes[id];
    if (mutex.owner == kOutsideProcessId) {
        mutex.owner = 0;
        mutex.count = 0;
    }
    --mutex.outsideHandles;
    if (mutex.handles <= 0 && mutex.outsideHandles <= 0) {
        m.mutexes.erase(id);
    }
}

bool MutexOwned(const std::string& name) {
    Mutex* mutex = FindMutex(name);
    return mutex != nullptr && mutex->owner != 0;
}

bool MutexAbandoned(const std::string& name) {
    Mutex* mutex = FindMutex(name);
    return mutex != nullptr && mutex->abandoned;
}

int OpenMutexHandles(const std::string& name) {
    Mutex* mutex = FindMutex(name);
    return mutex == nullptr ? 0 : mutex->handles;
}

int OpenHandles(uint32_t processId) {
    int count = 0;
    for (auto& entry : M().handles) {
        if (entry.second.processId == processId) {
            ++count;
        }
    }
    return count;
}

int HungWaits() {
    return M().hungWaits;
}
int OpenDeviceContexts() {
    return static_cast<int>(M().deviceContexts.size());
}
int LiveHeapBlocks() {
    return static_cast<int>(M().heapBlocks.size());
}

// ---- What the programs showed

const std::vector<MessageBoxRecord>& MessageBoxes() {
    return M().messageBoxes;
}

const std::vector<ShellOperationRecord>& ShellOperations() {
    return M().shellOperations;
}

int ScreenRepaints() {
    return M().screenRepaints;
}

const ProgressRecord& Progress() {
    Machine& m = M();
    auto it = m.windows.find(m.lastDialog);
    return it == m.windows.end() ? m.noDialog : it->second.progress;
}

bool WaitCursorShowing() {
    return M().cursor == 0x40000 + os::kIdcWait;
}

// ---- Restart-time deletion

const std::vector<std::string>& PendingDeletions() {
    return M().pendingDeletions;
}

static bool DeleteAtBoot(const std::string& path) {
    Path parsed;
    if (ParsePath(path.c_str(), "", &parsed, false) != 0) {
        return false;
    }
    Found found = Lookup(parsed);
    if (found.node == nullptr || found.node->parent == nullptr) {
        return false;
    }
    if (found.node->directory && !found.node->children.empty()) {
        return false;
    }
    DetachChild(found.node);
    return true;
}

static bool RenameAtBoot(const std::string& source, const std::string& target) {
    Path from;
    Path to;
    if (ParsePath(source.c_str(), "", &from, false) != 0 ||
        ParsePath(target.c_str(), "", &to, false) != 0) {
        return false;
    }
    Found found = Lookup(from);
    Found destination = Lookup(to);
    if (found.node == nullptr || found.node->parent == nullptr || destination.parent == nullptr ||
        to.parts.empty()) {
        return false;
    }
    if (destination.node != nullptr) {
        if (destination.node->directory) {
            return false;
        }
        DetachChild(destination.node);
    }
    std::shared_ptr<Node> node = DetachChild(found.node);
    node->name = to.parts.back();
    node->parent = destination.parent;
    destination.parent->children[Upper(node->name)] = node;
    return true;
}

static std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n\v\f");
    if (begin == std::string::npos) {
        return std::string();
    }
    size_t end = text.find_last_not_of(" \t\r\n\v\f");
    return text.substr(begin, end - begin + 1);
}

// WININIT.EXE of Windows 95/98: works through [Rename] of WinInit.ini (NUL=file deletes,
// target=source renames), then keeps the file as WININIT.BAK.
static int ProcessWinInit() {
    Machine& m = M();
    std::string directory = m.windowsDirectory;
    if (directory.empty()) {
        return 0;
    }
    if (directory.back() != '\\') {
        directory += '\\';
    }
    std::string content;
    if (!GetFile(directory + "WinInit.ini", &content)) {
        return 0;
    }
    // Read as text, which ends at the first Ctrl-Z.
    content = content.substr(0, content.find('\x1a'));
    int deleted = 0;
    bool inSection = false;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        std::string line = Trim(content.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            inSection = EqualNoCase(line.substr(0, 8), "[Rename]");
            continue;
        }
        size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos) {
            continue;
        }
        std::string target = Trim(line.substr(0, equals));
        std::string source = Trim(line.substr(equals + 1));
        if (EqualNoCase(target, "NUL")) {
            deleted += DeleteAtBoot(source) ? 1 : 0;
        } else {
            RenameAtBoot(source, target);
        }
    }
    RenameAtBoot(directory + "WinInit.ini", directory + "WININIT.BAK");
    return deleted;
}

int Restart() {
    Machine& m = M();
    int deleted = 0;
    for (const PendingOperation& operation : m.pending) {
        if (operation.target.empty()) {
            deleted += DeleteAtBoot(operation.source) ? 1 : 0;
        } else {
            RenameAtBoot(operation.source, operation.target);
        }
    }
    m.pending.clear();
    m.pendingDeletions.clear();
    if (m.platform != os::kPlatformNt) {
        deleted += ProcessWinInit();
    }
    // Nothing survives a restart but the disks: no process, not even one that never ran.
    for (auto& entry : m.processes) {
        if (entry.first != kHostProcessId) {
            entry.second.alive = false;
            entry.second.waitingToRun = false;
        }
    }
    ClearObjects();
    for (auto& drive : m.drives) {
        std::vector<Node*> stack{drive->top.get()};
        while (!stack.empty()) {
            Node* node = stack.back();
            stack.pop_back();
            node->inUse = false;
            for (auto& entry : node->children) {
                stack.push_back(entry.second.get());
            }
        }
    }
    m.cursor = kArrowCursor;
    return deleted;
}

}  // namespace sim
