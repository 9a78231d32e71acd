// The machine as a whole: the one machine, and starting it afresh. Each concern of the machine
// has a room of its own in sim/ (see sim/model.h).
#include "sim/machine.h"

#include <stdlib.h>

#include "sim/model.h"

namespace sim {
namespace model {

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

void ClearObjects() {
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

}  // namespace model

using namespace model;

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

}  // namespace sim
