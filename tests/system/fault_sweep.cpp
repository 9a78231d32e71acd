// The sweep harness, the tree diff, and what the sweeps of setup and of the launcher share.
#include "tests/system/fault_sweep.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "common/status.h"

namespace sim {

namespace {

const char kMutexName[] = "MutexToProtectSetup";
const size_t kMessagesKept = 12;

bool IsFallible(const std::string& op) {
    const std::vector<std::string>& ops = FallibleOperations();
    return std::find(ops.begin(), ops.end(), op) != ops.end();
}

// The index in Calls() of the nth fallible call, or Calls().size().
size_t NthFallibleCall(int nth) {
    const std::vector<Call>& calls = Calls();
    int seen = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (IsFallible(calls[i].op) && ++seen == nth) {
            return i;
        }
    }
    return calls.size();
}

uint32_t TopProcessId() {
    return Processes().empty() ? 0 : Processes()[0].processId;
}

// Whether the guard of process `processId` was refused by the injected fault: its wait for
// the mutex failed. (An outside owner never exists in these sweeps.)
bool GuardWaitFailed(const FaultedRun& run, uint32_t processId) {
    const std::vector<Call>& calls = Calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].processId == processId && calls[i].op == "WaitForSingleObject") {
            return calls[i].arg == kMutexName && CallFailed(run, i);
        }
    }
    return false;
}

}  // namespace

std::string UpperText(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

uint32_t ExitCode32(int64_t code) {
    return static_cast<uint32_t>(code);
}

bool FaultedOp(const FaultedRun& run, const std::string& op) {
    const std::vector<Call>& calls = Calls();
    for (size_t i = run.faultIndex; i < calls.size(); ++i) {
        if (calls[i].op == op && CallFailed(run, i)) {
            return true;
        }
    }
    return false;
}

std::vector<ProcessRecord> Children() {
    std::vector<ProcessRecord> children;
    for (const ProcessRecord& record : Processes()) {
        if (record.parentId != 0) {
            children.push_back(record);
        }
    }
    return children;
}

void CheckExitCode(const FaultedRun& run, std::vector<std::string>* violations) {
    uint32_t code = ExitCode32(run.exitCode);
    bool refused = GuardWaitFailed(run, TopProcessId());
    if (refused != (code == static_cast<uint32_t>(kEFail))) {
        violations->push_back("exit code " + std::to_string(code) +
                              (refused ? " although the guard was refused"
                                       : " (E_FAIL) although the guard was not refused"));
    } else if (!refused && code != 0 && code != 1) {
        violations->push_back("exit code " + std::to_string(code) + " is not 0 or 1");
    }
}

void CheckLeftovers(const FaultedRun& run, std::vector<std::string>* violations) {
    if (MutexOwned(kMutexName)) {
        violations->push_back("the mutex is still owned");
    }
    // A process whose ReleaseMutex failed ends owning the mutex, which Windows then marks
    // abandoned: the one case the program cannot help.
    if (MutexAbandoned(kMutexName) && !FaultedOp(run, "ReleaseMutex")) {
        violations->push_back("the mutex was abandoned");
    }
    if (OpenMutexHandles(kMutexName) != 0) {
        violations->push_back(std::to_string(OpenMutexHandles(kMutexName)) +
                              " mutex handles still open");
    }
    if (ScreenRepaints() != 0) {
        violations->push_back("the whole screen was repainted");
    }
    if (HungWaits() != 0) {
        violations->push_back(std::to_string(HungWaits()) + " waits would hang");
    }
    if (LiveHeapBlocks() != 0) {
        violations->push_back(std::to_string(LiveHeapBlocks()) + " heap blocks outlive the run");
    }
    if (OpenDeviceContexts() != 0) {
        violations->push_back(std::to_string(OpenDeviceContexts()) + " device contexts open");
    }
}

void PutWinInit(WinInitState state) {
    switch (state) {
        case WinInitState::kAbsent:
            break;
        case WinInitState::kEmpty:
            PutFile(kWinInit, "");
            break;
        case WinInitState::kWithRename:
            PutFile(kWinInit,
                    "[boot]\r\nshell=Explorer.exe\r\n[Rename]\r\nNUL=C:\\OLD.TMP\r\n\r\n"
                    "[386Enh]\r\ndevice=x.vxd\r\n");
            break;
        case WinInitState::kWithoutRename:
            PutFile(kWinInit, "[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\ndevice=x.vxd\r\n");
            break;
    }
}

bool CallFailed(const FaultedRun& run, size_t index) {
    if (!run.fired || index < run.faultIndex || index >= Calls().size()) {
        return false;
    }
    return run.once ? index == run.faultIndex : IsFallible(Calls()[index].op);
}

SweepReport SweepFaults(const std::string& name, const SweepTarget& target, bool once,
                        int maxRuns) {
    SweepReport report;
    report.name = name + (once ? " (once)" : " (from then on)");
    auto start = std::chrono::steady_clock::now();
    for (int nth = 1;; ++nth) {
        if (nth > maxRuns) {
            ++report.violations;
            report.messages.push_back("still firing after " + std::to_string(maxRuns) + " runs");
            break;
        }
        ClearFaults();
        target.prepare();
        ClearCalls();
        FaultRule rule;
        rule.nth = nth;
        rule.once = once;
        AddFault(rule);

        FaultedRun run;
        run.nth = nth;
        run.once = once;
        run.exitCode = target.run();
        run.fired = FaultsFired() > 0;
        ClearFaults();
        run.faultIndex = run.fired ? NthFallibleCall(nth) : Calls().size();
        if (run.faultIndex < Calls().size()) {
            const Call& call = Calls()[run.faultIndex];
            run.faultedCall = call.op + "(" + call.arg + ")";
        }
        ++report.runs;
        report.faultsFired += run.fired ? 1 : 0;

        std::vector<std::string> violations;
        target.check(run, &violations);
        report.violations += static_cast<int>(violations.size());
        for (const std::string& violation : violations) {
            if (report.messages.size() < kMessagesKept) {
                report.messages.push_back("N=" + std::to_string(nth) + " " +
                                          (run.fired ? run.faultedCall : "no fault") + ": " +
                                          violation);
            }
        }
        if (!run.fired) {
            break;
        }
    }
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

TreeDiff DiffTrees(const std::vector<Entry>& before, const std::vector<Entry>& after) {
    std::map<std::string, const Entry*> old;
    for (const Entry& entry : before) {
        old[UpperText(entry.path)] = &entry;
    }
    TreeDiff diff;
    for (const Entry& entry : after) {
        auto it = old.find(UpperText(entry.path));
        if (it == old.end()) {
            diff.added.push_back(entry.path);
            continue;
        }
        const Entry& was = *it->second;
        if (was.directory != entry.directory || was.attributes != entry.attributes ||
            was.content != entry.content) {
            diff.changed.push_back(entry.path);
        }
        old.erase(it);
    }
    for (const auto& entry : old) {
        diff.removed.push_back(entry.second->path);
    }
    return diff;
}

bool PathIsBelow(const std::string& path, const std::string& root) {
    std::string p = UpperText(path);
    std::string r = UpperText(root);
    if (!p.empty() && p.back() == '\\') {
        p.pop_back();
    }
    return p == r || (p.size() > r.size() && p.compare(0, r.size(), r) == 0 && p[r.size()] == '\\');
}

}  // namespace sim
