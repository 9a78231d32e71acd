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
