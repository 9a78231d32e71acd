// Named mutexes: creating and releasing them, abandoned ones, and the outside holder that the
// tests play.
#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

void DropMutexHandle(int mutexId, bool outside) {
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

}  // namespace model

using namespace model;

static Mutex* FindMutex(const std::string& name) {
    int id = MutexIdByName(name);
    return id == 0 ? nullptr : &M().mutexes[id];
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
    DropMutexHandle(id, true);
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

}  // namespace sim

using namespace sim::model;

namespace os {

Handle CreateMutexA(void* security, Bool initialOwner, const char* name) {
    (void)security;
    if (Enter("CreateMutexA", name)) {
        return nullptr;
    }
    Machine& m = M();
    int id = name == nullptr ? 0 : MutexIdByName(name);
    bool existed = id != 0;
    if (!existed) {
        id = m.nextMutexId++;
        m.mutexes[id].name = Text(name);
        if (initialOwner) {
            m.mutexes[id].owner = Current().id;
            m.mutexes[id].count = 1;
        }
    }
    // An existing mutex ignores initialOwner, as Windows does.
    ++m.mutexes[id].handles;
    HandleObject object;
    object.kind = Kind::kMutex;
    object.processId = Current().id;
    object.mutexId = id;
    SetError(existed ? kErrorAlreadyExists : kErrorSuccess);
    return NewHandle(object);
}

Bool ReleaseMutex(Handle mutex) {
    HandleObject* handle = FindHandle(mutex);
    std::string name;
    if (handle != nullptr && handle->kind == Kind::kMutex) {
        name = M().mutexes[handle->mutexId].name;
    }
    if (Enter("ReleaseMutex", name.c_str())) {
        return 0;
    }
    if (handle == nullptr || handle->kind != Kind::kMutex) {
        SetError(kErrorInvalidHandle);
        return 0;
    }
    Mutex& object = M().mutexes[handle->mutexId];
    if (object.owner != Current().id) {
        SetError(kErrorNotOwner);
        return 0;
    }
    if (--object.count <= 0) {
        object.owner = 0;
        object.count = 0;
    }
    return 1;
}

}  // namespace os
