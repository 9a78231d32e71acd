#include "launcher/launcher_run.h"

#include "common/instance_guard.h"
#include "common/path.h"
#include "common/status.h"
#include "launcher/restart_deletion.h"
#include "launcher/staging_cleanup.h"

static const char kGuardMessage[] =
    "I aborted application startup because I detected another version of Setup running.";
static const char kGuardCaption[] = "ERROR";

// Still in use or loaded while we run, so they can only go when Windows starts again.
// Relative to the current directory, the staging Init directory.
static const char* const kDeleteAtRestart[] = {"cfgmgr32.dll", "setupapi.dll", "_zorp.ex_"};

// What the launcher works with; every name it handles is relative to `workingDirectory`.
struct LaunchPlan {
    PathBuffer tail;
    PathBuffer workingDirectory;  // without a trailing backslash (C: for a drive root)
    PathBuffer commandLine;       // writable: CreateProcessA may change it
};

bool BuildInstallerCommandLine(char* commandLine, const char* workingDirectory, const char* tail) {
    return CopyText(commandLine, kMaxPath, "\"") &&
           AppendText(commandLine, kMaxPath, workingDirectory) &&
           AppendText(commandLine, kMaxPath, "\\_zorp.exe\" ") &&
           AppendText(commandLine, kMaxPath, tail);
}

// GetCurrentDirectoryA reports 0 on failure and, when the directory does not fit, the size
// it would need (the NUL included) without filling the buffer: both leave us no directory.
static bool ReadWorkingDirectory(char* directory) {
    PathBuffer current;
    os::Dword length = os::GetCurrentDirectoryA(kMaxPath, current);
    if (length == 0 || length >= kMaxPath) {
        return false;
    }
    StripTrailingBackslash(current);
    return CopyText(directory, kMaxPath, current);
}

// False when anything does not fit or the current directory is unknown: then the installer is
// not started at all rather than with a shortened name or in the wrong directory.
static bool PrepareLaunch(const char* tail, LaunchPlan* plan) {
    return CopyText(plan->tail, tail != nullptr ? tail : "") &&
           ReadWorkingDirectory(plan->workingDirectory) &&
           BuildInstallerCommandLine(plan->commandLine, plan->workingDirectory, plan->tail);
}

static bool StartInstaller(LaunchPlan* plan, os::ProcessInformation* process) {
    os::StartupInfo startup;
    ZeroBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;  // 68, the 32-bit STARTUPINFOA
    ZeroBytes(process, sizeof *process);
    return os::CreateProcessA(nullptr, plan->commandLine, nullptr, nullptr, 0, 0, nullptr,
                              plan->workingDirectory, &startup, process) != 0;
}

// The results do not matter: a name that is already gone needs no deletion.
static void ScheduleDeletionsAtRestart() {
    for (const char* name : kDeleteAtRestart) {
        DeleteAtRestart(name);
    }
}

int LauncherMain(os::Handle instance, const char* tail) {
    (void)instance;
    os::Handle mutex;
    if (!AcquireInstanceGuard(&mutex)) {
        os::MessageBoxA(nullptr, kGuardMessage, kGuardCaption, os::kMbIconError);
        return kEFail;
    }
    LaunchPlan plan;
    bool ready = PrepareLaunch(tail, &plan);
    // Released before the installer exists, so its own stages can take the mutex at once.
    ReleaseInstanceGuard(&mutex);
    os::ProcessInformation installer;
    if (!ready || !StartInstaller(&plan, &installer)) {
        return kLauncherNotStarted;
    }
    // The cleanup deletes the installer's files, so it must not begin before the installer has
    // ended. A wait that fails does not say so: the staging area is then left as it is.
    if (os::WaitForSingleObject(installer.process, os::kInfinite) != os::kWaitObject0) {
        return kLauncherDone;
    }
    // Through a link, the restart would delete files of another folder by the same names.
    if (CleanStagingArea(plan.workingDirectory)) {
        ScheduleDeletionsAtRestart();
    }
    return kLauncherDone;
}
