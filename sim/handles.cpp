// Handles: every process's table of handles, closing them, and waiting for what they name (a
// mutex, or a process or its thread, which then runs).
#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

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

}  // namespace model

using namespace model;

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

}  // namespace sim

using namespace sim::model;

namespace os {

Dword WaitForSingleObject(Handle object, Dword milliseconds) {
    HandleObject* handle = FindHandle(object);
    std::string name;
    if (handle != nullptr && handle->kind == Kind::kMutex) {
        name = M().mutexes[handle->mutexId].name;
    }
    if (Enter("WaitForSingleObject", name.c_str())) {
        return kWaitFailed;
    }
    if (handle == nullptr) {
        SetError(kErrorInvalidHandle);
        return kWaitFailed;
    }
    Machine& m = M();
    uint32_t me = Current().id;
    switch (handle->kind) {
        case Kind::kMutex: {
            Mutex& mutex = m.mutexes[handle->mutexId];
            if (mutex.owner == me) {
                ++mutex.count;
                return kWaitObject0;
            }
            if (mutex.owner == 0) {
                mutex.owner = me;
                mutex.count = 1;
                if (mutex.abandoned) {
                    mutex.abandoned = false;
                    return kWaitAbandoned;
                }
                return kWaitObject0;
            }
            // Another live process owns it. Nothing runs concurrently here, so waiting could
            // not change that: the wait times out at once, as if its time had passed.
            if (milliseconds == kInfinite) {
                ++m.hungWaits;
            }
            return kWaitTimeout;
        }
        case Kind::kProcess:
        case Kind::kThread:
            // A started program runs while something waits for it, here to its end.
            RunToEnd(handle->targetProcess);
            if (!m.processes[handle->targetProcess].alive) {
                return kWaitObject0;
            }
            if (milliseconds == kInfinite) {
                ++m.hungWaits;
            }
            return kWaitTimeout;
        case Kind::kFile:
            return kWaitObject0;
        case Kind::kToken:
            break;  // not a waitable object
    }
    SetError(kErrorInvalidHandle);
    return kWaitFailed;
}

Bool CloseHandle(Handle object) {
    Log("CloseHandle", "");
    if (FindHandle(object) == nullptr) {
        SetError(kErrorInvalidHandle);
        return 0;
    }
    CloseHandleObject(reinterpret_cast<uintptr_t>(object));
    return 1;
}

}  // namespace os
