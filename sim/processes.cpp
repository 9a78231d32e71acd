// Processes: the one whose code is running, starting a program (CreateProcessA, or as a user
// would), running what was started, and what ends with a process.
#include <stdlib.h>

#include "common/command_line.h"
#include "common/instance_guard.h"
#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

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
    m.records[index].setupMutexOwnedAtStart = MutexOwned(kSetupMutexName);
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

void SetCurrentDirectory(const std::string& path) {
    M().currentDirectory = path;
    M().processes[kHostProcessId].currentDirectory = path;
}

}  // namespace sim

using namespace sim;
using namespace sim::model;

namespace os {

Bool CreateProcessA(const char* applicationName, char* commandLine, void* processSecurity,
                    void* threadSecurity, Bool inheritHandles, Dword creationFlags,
                    void* environment, const char* currentDirectory, StartupInfo* startupInfo,
                    ProcessInformation* processInformation) {
    (void)processSecurity;
    (void)threadSecurity;
    Machine& m = M();
    ProcessRecord record = ProcessRecord();
    record.parentId = Current().id;
    record.hasApplicationName = applicationName != nullptr;
    record.commandLine = Text(commandLine);
    record.currentDirectory = Text(currentDirectory);
    record.inheritHandles = inheritHandles != 0;
    record.creationFlags = creationFlags;
    record.inheritedEnvironment = environment == nullptr;
    record.startupInfoSize = startupInfo == nullptr ? 0 : startupInfo->cb;
    m.records.push_back(record);
    int index = static_cast<int>(m.records.size()) - 1;

    if (Enter("CreateProcessA", applicationName != nullptr ? applicationName : commandLine)) {
        return 0;
    }
    if (startupInfo == nullptr || processInformation == nullptr ||
        (applicationName == nullptr && commandLine == nullptr)) {
        SetError(kErrorInvalidParameter);
        return 0;
    }
    std::string directory = Current().currentDirectory;
    if (currentDirectory != nullptr) {
        Path path;
        Dword error = 0;
        Found found = Resolve(currentDirectory, &path, &error);
        if (error != 0 || found.node == nullptr || !found.node->directory) {
            SetError(kErrorDirectory);
            return 0;
        }
        directory = PathText(path);
    }
    sim::ProgramMain main = nullptr;
    Dword error = FindProgram(applicationName, commandLine, &main);
    if (error != 0) {
        SetError(error);
        return 0;
    }
    if (NestingTooDeep()) {
        SetError(kErrorNotEnoughMemory);
        return 0;
    }
    m.records[index].setupMutexOwnedAtStart = MutexOwned(kSetupMutexName);
    uint32_t parent = Current().id;
    CreateProcessFor(index, main, commandLine != nullptr ? commandLine : applicationName, directory,
                     parent);
    HandleObject process;
    process.kind = Kind::kProcess;
    process.processId = parent;
    process.targetProcess = m.records[index].processId;
    HandleObject thread = process;
    thread.kind = Kind::kThread;
    processInformation->process = NewHandle(process);
    processInformation->thread = NewHandle(thread);
    processInformation->processId = process.targetProcess;
    processInformation->threadId = process.targetProcess + 2;
    return 1;
}

Dword GetCurrentDirectoryA(Dword bufferLength, char* buffer) {
    if (Enter("GetCurrentDirectoryA", nullptr)) {
        return 0;
    }
    return DirectoryOut(Current().currentDirectory, buffer, bufferLength);
}

}  // namespace os
