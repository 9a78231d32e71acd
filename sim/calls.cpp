// Calls and faults: the log of platform calls, the fault rules that fail them, another
// program's moment before a call, and the last error.
#include <string.h>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

namespace {

struct Fallible {
    const char* op;
    os::Dword error;  // the realistic default
};

const Fallible kFallible[] = {
    {"CreateMutexA", os::kErrorAccessDenied},
    {"WaitForSingleObject", os::kErrorInvalidHandle},
    {"ReleaseMutex", kErrorNotOwner},
    {"CreateProcessA", os::kErrorFileNotFound},
    {"GetCurrentDirectoryA", os::kErrorAccessDenied},
    {"GetWindowsDirectoryA", os::kErrorAccessDenied},
    {"GetSystemDirectoryA", os::kErrorAccessDenied},
    {"CreateDirectoryA", os::kErrorAccessDenied},
    {"RemoveDirectoryA", os::kErrorAccessDenied},
    {"GetFullPathNameA", os::kErrorPathNotFound},
    {"GetLogicalDriveStringsA", os::kErrorAccessDenied},
    {"GetDriveTypeA", os::kErrorPathNotFound},
    {"GetDiskFreeSpaceA", os::kErrorNotReady},
    {"GetFileAttributesA", os::kErrorAccessDenied},
    {"SetFileAttributesA", os::kErrorAccessDenied},
    {"SHFileOperationA", os::kErrorAccessDenied},
    {"DeleteFileA", os::kErrorAccessDenied},
    {"MoveFileA", os::kErrorAccessDenied},
    {"MoveFileExA", os::kErrorAccessDenied},
    {"GetShortPathNameA", os::kErrorFileNotFound},
    {"CreateFileA", os::kErrorSharingViolation},
    {"ReadFile", os::kErrorAccessDenied},
    {"WriteFile", os::kErrorDiskFull},
    {"GetFileSize", os::kErrorAccessDenied},
    {"FlushFileBuffers", os::kErrorAccessDenied},
    {"HeapAlloc", os::kErrorNotEnoughMemory},
    {"GetVersionExA", os::kErrorInvalidParameter},
    {"GetDC", os::kErrorNotEnoughMemory},
    {"CreateDialogParamA", kErrorResourceTypeNotFound},
    {"GetDlgItem", kErrorControlIdNotFound},
    {"MessageBoxA", os::kErrorNotEnoughMemory},
    {"GetVolumeInformationA", os::kErrorNotReady},
    {"GetFileSecurityA", os::kErrorAccessDenied},
    {"GetSecurityDescriptorOwner", kErrorInvalidSecurityDescriptor},
    {"OpenProcessToken", os::kErrorAccessDenied},
    {"GetTokenInformation", os::kErrorAccessDenied},
    {"EqualSid", os::kErrorInvalidParameter},
};

const Fallible* FindFallible(const char* op) {
    for (const Fallible& entry : kFallible) {
        if (strcmp(entry.op, op) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

// A rule's path names the call's argument when the two are equal without regard to case,
// as given or as full paths.
bool PathMatches(const std::string& rulePath, const char* argument) {
    if (argument == nullptr) {
        return false;
    }
    if (EqualNoCase(rulePath, argument)) {
        return true;
    }
    Path a;
    Path b;
    const std::string& current = Current().currentDirectory;
    return ParsePath(rulePath.c_str(), current, &a, false) == 0 &&
           ParsePath(argument, current, &b, false) == 0 && EqualNoCase(PathText(a), PathText(b));
}

}  // namespace

void Log(const char* op, const std::string& argument) {
    Call call;
    call.processId = Current().id;
    call.op = op;
    call.arg = argument;
    M().calls.push_back(call);
}

// Logs the call. For a fallible operation, counts it against every fault rule; true when a
// rule fires, the last error then being the rule's error (or the operation's default).
bool Enter(const char* op, const char* argument, const char* second) {
    Log(op, Text(argument));
    Machine& m = M();
    std::function<void()> action;
    for (Interleaving& other : m.interleavings) {
        if (other.op == op &&
            (other.path.empty() || PathMatches(other.path, argument) ||
             PathMatches(other.path, second)) &&
            ++other.seen == other.nth) {
            action = other.action;
        }
    }
    if (action) {
        action();  // another program's moment, before this call is carried out
    }
    const Fallible* fallible = FindFallible(op);
    if (fallible == nullptr) {
        return false;
    }
    bool fire = false;
    os::Dword error = 0;
    for (FaultState& state : m.faults) {
        const FaultRule& rule = state.rule;
        if (!rule.op.empty() && rule.op != op) {
            continue;
        }
        if (!rule.path.empty() && !PathMatches(rule.path, argument) &&
            !PathMatches(rule.path, second)) {
            continue;
        }
        ++state.eligible;
        bool fires = false;
        if (rule.nth <= 0) {
            fires = !rule.once || !state.fired;
        } else {
            fires = rule.once ? state.eligible == rule.nth : state.eligible >= rule.nth;
        }
        if (fires && !fire) {
            fire = true;
            state.fired = true;
            ++m.faultsFired;
            error = rule.error != 0 ? rule.error : fallible->error;
        }
    }
    if (fire) {
        SetError(error);
    }
    return fire;
}

void SetError(os::Dword error) {
    Current().lastError = error;
}

}  // namespace model

using namespace model;

const std::vector<std::string>& FallibleOperations() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const Fallible& entry : kFallible) {
            list.push_back(entry.op);
        }
        return list;
    }();
    return names;
}

const std::vector<Call>& Calls() {
    return M().calls;
}
void ClearCalls() {
    M().calls.clear();
}

void BeforeCall(const std::string& op, const std::string& path, int nth,
                const std::function<void()>& action) {
    Interleaving interleaving;
    interleaving.op = op;
    interleaving.path = path;
    interleaving.nth = nth;
    interleaving.action = action;
    M().interleavings.push_back(interleaving);
}

void AddFault(const FaultRule& rule) {
    FaultState state;
    state.rule = rule;
    M().faults.push_back(state);
}

void ClearFaults() {
    M().faults.clear();
    M().faultsFired = 0;
}

int FaultsFired() {
    return M().faultsFired;
}

}  // namespace sim

using namespace sim::model;

namespace os {

Dword GetLastError() {
    Log("GetLastError", "");
    return Current().lastError;
}

void SetLastError(Dword error) {
    Log("SetLastError", "");
    Current().lastError = error;
}

}  // namespace os
