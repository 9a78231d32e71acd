#include "common/instance_guard.h"

bool AcquireInstanceGuard(os::Handle* mutex) {
    *mutex = os::CreateMutexA(nullptr, 0, kSetupMutexName);
    if (*mutex == nullptr) {
        return true;  // no mutex to be had: run unguarded
    }
    os::Dword wait = os::WaitForSingleObject(*mutex, kGuardWaitMs);
    if (wait != os::kWaitObject0) {
        // An abandoned mutex still counts as another stage running, but the wait made us its
        // owner: give it back, or our own end would abandon it again for the next stage.
        if (wait == os::kWaitAbandoned) {
            os::ReleaseMutex(*mutex);
        }
        os::CloseHandle(*mutex);
        *mutex = nullptr;
        return false;
    }
    return true;
}

void ReleaseInstanceGuard(os::Handle* mutex) {
    if (*mutex != nullptr) {
        os::ReleaseMutex(*mutex);
        os::CloseHandle(*mutex);
        *mutex = nullptr;
    }
}
