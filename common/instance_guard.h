// The single-instance guard that setup and the launcher share.
#pragma once

#include "common/platform.h"

// The mutex that every stage of the installation holds while it runs.
constexpr const char kSetupMutexName[] = "MutexToProtectSetup";
constexpr os::Dword kGuardWaitMs = 5000;

// Creates the shared mutex and waits up to 5000 ms to own it.
// True: go on; *mutex is the owned handle, or nullptr when the mutex could not be created
// (the program then runs unguarded). False: another stage holds it (time-out, abandoned or a
// failed wait); the handle is already closed and *mutex is nullptr.
bool AcquireInstanceGuard(os::Handle* mutex);

// Releases and closes an owned guard; nothing happens for nullptr. Sets *mutex to nullptr.
void ReleaseInstanceGuard(os::Handle* mutex);
