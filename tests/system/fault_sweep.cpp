#include "tests/system/fault_sweep.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <sstream>

#include "common/status.h"
#include "sim/medium.h"

namespace sim {

namespace {

const char kMutexName[] = "MutexToProtectSetup";
const char kWinInit[] = "C:\\WINDOWS\\WinInit.ini";
const char kWinInitTmp[] = "C:\\WINDOWS\\WinInit.tmp";
const char kWinInitOld[] = "C:\\WINDOWS\\WinInit.old";
const size_t kMessagesKept = 12;

std::string UpperText(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

bool SameText(const std::string& a, const std::string& b) {
    return UpperText(a) == UpperText(b);
}

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

// The exit code as Windows reports it, so kEFail compares as 0x80004005.
uint32_t ExitCode32(int64_t code) {
    return static_cast<uint32_t>(code);
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

bool FaultedOp(const FaultedRun& run, const std::string& op) {
    const std::vector<Call>& calls = Calls();
    for (size_t i = run.faultIndex; i < calls.size(); ++i) {
        if (calls[i].op == op && CallFailed(run, i)) {
            return true;
        }
    }
    return false;
}

std::string Shown(const std::string& text) {
    std::string shown;
    for (char c : text) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

// The exit code is allowed, and kEFail exactly when the guard was refused.
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

// Mutex, waits, handles, heap blocks and device contexts after every process has ended.
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

// WinInit.ini with the restart entries `entries` added, each a whole line.
std::string WinInitWith(WinInitState state, const std::vector<std::string>& entries) {
    std::string lines;
    for (const std::string& entry : entries) {
        lines += entry + "\r\n";
    }
    switch (state) {
        case WinInitState::kAbsent:
            return "[Rename]\r\n" + lines;
        case WinInitState::kEmpty:
            return "\r\n[Rename]\r\n" + lines;
        case WinInitState::kWithRename:
            return "[boot]\r\nshell=Explorer.exe\r\n[Rename]\r\nNUL=C:\\OLD.TMP\r\n\r\n" + lines +
                   "[386Enh]\r\ndevice=x.vxd\r\n";
        case WinInitState::kWithoutRename:
            return "[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\ndevice=x.vxd\r\n\r\n[Rename]\r\n" +
                   lines;
    }
    return std::string();
}

}  // namespace

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

const std::vector<SetupScenario>& SetupScenarios() {
    static const std::vector<SetupScenario> scenarios = {
        {"roomy C:, complete medium, empty staging, no WinInit.ini, NT", false, false, false,
         WinInitState::kAbsent, true, false, false},
        {"tight C: (D:), complete medium, staging left read-only, [Rename] WinInit.ini, 9x", true,
         false, true, WinInitState::kWithRename, false, false, false},
        {"roomy C:, medium missing files, staging left read-only, another user's Init, empty "
         "WinInit.ini, 9x",
         false, true, true, WinInitState::kEmpty, false, true, false},
        {"tight C: (D:), medium missing files, empty staging, WinInit.ini without [Rename], NT",
         true, true, false, WinInitState::kWithoutRename, true, false, false},
        {"roomy C:, complete medium, another user's Init, no WinInit.ini, NT", false, false, false,
         WinInitState::kAbsent, true, true, false},
        {"roomy C:, complete medium, planted programs held open, no WinInit.ini, NT", false, false,
         false, WinInitState::kAbsent, true, false, true},
    };
    return scenarios;
}

const std::vector<LauncherScenario>& LauncherScenarios() {
    static const std::vector<LauncherScenario> scenarios = {
        {"C:\\WINDOWS\\TEMP, all staged, no WinInit.ini, NT", false, false, false, false,
         WinInitState::kAbsent, true},
        {"C:\\WINDOWS\\TEMP, all staged, no WinInit.ini, 9x", false, false, false, false,
         WinInitState::kAbsent, false},
        {"C:\\WINDOWS\\TEMP, read-only staged, Setupapi in use, empty WinInit.ini, 9x", false,
         false, true, true, WinInitState::kEmpty, false},
        {"D:\\TEMP, all staged, [Rename] WinInit.ini, 9x", true, false, false, false,
         WinInitState::kWithRename, false},
        {"D:\\TEMP, only the programs staged, WinInit.ini without [Rename], 9x", true, true, false,
         false, WinInitState::kWithoutRename, false},
        {"D:\\TEMP, only the programs staged, read-only, [Rename] WinInit.ini, NT", true, true,
         true, true, WinInitState::kWithRename, true},
    };
    return scenarios;
}

// ---- setup

namespace {

const char* const kMissingMediumRows[] = {"Init\\media.inf", "Extra\\dx6core.exe"};
// Where setup may stage: TEMP under Windows, or TEMP on whichever fixed drive the survey
// (perhaps misled by a fault) found best.
const char* const kSetupStagingRoots[] = {"C:\\WINDOWS\\TEMP", "C:\\TEMP", "D:\\TEMP"};

int StandInLauncher(os::Handle, const char*) {
    return 1;  // no platform call of its own: every fault of the sweep is setup's
}

int PlantedProgram(os::Handle, const char*) {
    return 66;
}

const char kPlantedIn[] = "C:\\WINDOWS\\TEMP\\Init";

// Where the run without a fault stages.
std::string ExpectedSetupRoot(const SetupScenario& scenario) {
    if (scenario.tightSystemDrive) {
        return "D:\\TEMP";
    }
    bool refused = scenario.plantedPrograms || (scenario.foreignInit && scenario.windowsNt);
    return refused ? "C:\\TEMP" : "C:\\WINDOWS\\TEMP";
}

std::string SetupMediumContent(const std::string& row) {
    if (row == "Init\\_zorp.ex_") {
        return ProgramImage("sweep stand-in launcher");
    }
    return "medium " + row;
}

bool MissingFromMedium(const SetupScenario& scenario, const std::string& row) {
    if (!scenario.mediumMissingFiles) {
        return false;
    }
    for (const char* missing : kMissingMediumRows) {
        if (row == missing) {
            return true;
        }
    }
    return false;
}

void PrepareSetup(const SetupScenario& scenario, ProgramMain setupMain) {
    ResetTypical(scenario.tightSystemDrive ? 10 : 500, scenario.windowsNt);
    if (scenario.tightSystemDrive) {
        AddDrive("D:\\", os::kDriveFixed, static_cast<uint64_t>(2000) << 20);
    }
    RegisterProgram("sweep setup", setupMain);
    RegisterProgram("sweep stand-in launcher", StandInLauncher);
    PutFile("E:\\setup.exe", ProgramImage("sweep setup"));
    for (const char* row : kMediumRows) {
        if (!MissingFromMedium(scenario, row)) {
            PutFile(std::string("E:\\") + row, SetupMediumContent(row));
        }
    }
    if (scenario.stagingLeftOver) {
        for (const char* root : {"C:\\WINDOWS\\TEMP", "D:\\TEMP"}) {
            if (root[0] == 'D' && !scenario.tightSystemDrive) {
                continue;
            }
            for (const char* row :
                 {"Init\\Cfgmgr32.dll", "Init\\_zorp.ex_", "Extra\\dx6core.exe"}) {
                PutFile(std::string(root) + "\\" + row, "earlier run",
                        os::kAttrReadOnly | os::kAttrHidden);
            }
        }
    }
    if (scenario.foreignInit) {
        MakeDirectories(kPlantedIn);
        SetOwner(kPlantedIn, kOtherUserSid);
    }
    if (scenario.plantedPrograms) {
        RegisterProgram("sweep planted program", PlantedProgram);
        for (const char* name : {"_zorp.ex_", "_zorp.exe"}) {
            std::string path = std::string(kPlantedIn) + "\\" + name;
            PutFile(path, ProgramImage("sweep planted program"));
            SetOwner(path, kOtherUserSid);
            SetFileInUse(path, true);
        }
    }
    PutWinInit(scenario.winInit);
}

// The staging root of the launcher setup started: its command line is "<root>\Init\_zorp.ex_"
// and the source Init directory. "" when there is none.
std::string LaunchedRoot(const ProcessRecord& launcher) {
    const std::string suffix = "\\Init\\_zorp.ex_\"";
    size_t end = launcher.commandLine.find(suffix);
    if (launcher.commandLine.empty() || launcher.commandLine[0] != '"' ||
        end == std::string::npos) {
        return "";
    }
    return launcher.commandLine.substr(1, end - 1);
}

// Everything the medium holds is at `root`, byte for byte, and with `normal` also with normal
// attributes (a failed attribute change may leave a copy read-only, as the medium's file is).
void CheckStagedWhole(const SetupScenario& scenario, const std::string& root, bool normal,
                      std::vector<std::string>* violations) {
    for (const char* row : kMediumRows) {
        std::string content;
        std::string path = root + "\\" + row;
        if (!MissingFromMedium(scenario, row) &&
            (!GetFile(path, &content) || content != SetupMediumContent(row) ||
             (normal && Attributes(path) != os::kAttrNormal))) {
            violations->push_back("not staged whole: " + path);
        }
    }
}

// On NT, nothing in the staging area setup handed off in is another user's, whatever call
// failed on the way.
void CheckOwners(const SetupScenario& scenario, const std::string& root,
                 std::vector<std::string>* violations) {
    if (!scenario.windowsNt) {
        return;
    }
    std::vector<std::string> paths = {root};
    for (const char* directory : kMediumDirectories) {
        paths.push_back(root + "\\" + directory);
    }
    for (const char* row : kMediumRows) {
        paths.push_back(root + "\\" + row);
    }
    for (const std::string& path : paths) {
        if (Owner(path) == kOtherUserSid) {
            violations->push_back("staged in another user's " + path);
        }
    }
}

void CheckSetupRun(const SetupScenario& scenario, const std::vector<Entry>& before,
                   const FaultedRun& run, std::vector<std::string>* violations) {
    CheckExitCode(run, violations);
    CheckLeftovers(run, violations);

    TreeDiff diff = DiffTrees(before, SnapshotAll());
    if (!diff.removed.empty()) {
        violations->push_back("removed " + Joined(diff.removed));
    }
    for (const std::vector<std::string>* list : {&diff.added, &diff.changed}) {
        for (const std::string& path : *list) {
            bool inStaging = false;
            for (const char* root : kSetupStagingRoots) {
                inStaging = inStaging || PathIsBelow(path, root);
            }
            if (!inStaging) {
                violations->push_back("changed outside the staging area: " + path);
            }
        }
    }

    // The launcher: started exactly as intended from a staging root, or not at all.
    std::vector<ProcessRecord> children;
    for (const ProcessRecord& record : Processes()) {
        if (record.parentId != 0) {
            children.push_back(record);
        }
    }
    bool started = children.size() == 1 && children[0].started;
    if (children.size() > 1) {
        violations->push_back(std::to_string(children.size()) + " processes started");
    }
    if (started != (ExitCode32(run.exitCode) == 1)) {
        violations->push_back("exit code " + std::to_string(run.exitCode) + " but launcher " +
                              (started ? "started" : "not started"));
    }
    if (!children.empty()) {
        bool exact = false;
        for (const char* root : kSetupStagingRoots) {
            std::string init = std::string(root) + "\\Init";
            exact = exact || (children[0].commandLine == "\"" + init + "\\_zorp.ex_\" E:\\Init" &&
                              children[0].currentDirectory == init);
        }
        if (!exact) {
            violations->push_back("launcher started as [" + children[0].commandLine + "] in [" +
                                  children[0].currentDirectory + "]");
        }
        // Whatever failed: the program started is the medium's launcher, from a staging area
        // that setup filled itself, so the installer it starts next is the medium's too.
        if (children[0].started && children[0].program != "sweep stand-in launcher") {
            violations->push_back("started the program " + children[0].program);
        }
        if (children[0].started) {
            CheckStagedWhole(scenario, LaunchedRoot(children[0]), false, violations);
            CheckOwners(scenario, LaunchedRoot(children[0]), violations);
        }
    }

    // The run without a fault stages everything the medium has, byte for byte.
    if (!run.fired) {
        std::string root = ExpectedSetupRoot(scenario);
        if (run.exitCode != 1) {
            violations->push_back("exit code " + std::to_string(run.exitCode) + " without fault");
        }
        if (LaunchedRoot(children.empty() ? ProcessRecord() : children[0]) != root) {
            violations->push_back("did not stage at " + root);
        }
        CheckStagedWhole(scenario, root, true, violations);
        for (const char* directory : kMediumDirectories) {
            if (!DirectoryExists(root + "\\" + directory)) {
                violations->push_back("no staging directory " + root + "\\" + directory);
            }
        }
    }
}

}  // namespace

SweepReport SweepSetup(const SetupScenario& scenario, ProgramMain setupMain, bool once) {
    std::vector<Entry> before;
    SweepTarget target;
    target.prepare = [&] {
        PrepareSetup(scenario, setupMain);
        before = SnapshotAll();
    };
    target.run = [] { return RunProgram("E:\\setup.exe", "E:\\"); };
    target.check = [&](const FaultedRun& run, std::vector<std::string>* violations) {
        CheckSetupRun(scenario, before, run, violations);
    };
    return SweepFaults(std::string("setup: ") + scenario.name, target, once);
}

// ---- the launcher

namespace {

const char* const kLauncherFiles[20] = {
    "Cfgmgr32.dll",
    "Arrows.dll",
    "media.inf",
    "Lexor2.dll",
    "Lexor2r.dll",
    "Journal.ini",
    "Msvcirt.dll",
    "Msvcrt.dll",
    "Wizard.pnl",
    "Setupapi.dll",
    "_zorp.exe",
    "Panelkit2.dll",
    "Seedbank",
    "Clock",
    "remover.exe",
    "Ft0042k_.ttf",
    "..\\Config\\Qcore.cfg",
    "..\\Extra\\dplay50a.exe",
    "..\\Extra\\dx6core.exe",
    "..\\Extra\\dx6eng.exe",
};
const char* const kLauncherDirectories[4] = {"..\\Config", "..\\Extra", "..\\English", "..\\Init"};
// Scheduled for deletion at restart, in this order, relative to the staging Init directory.
const char* const kRestartNames[3] = {"cfgmgr32.dll", "setupapi.dll", "_zorp.ex_"};
const char* const kRestartStagedNames[3] = {"Cfgmgr32.dll", "Setupapi.dll", "_zorp.ex_"};
const char* const kReadOnlyStaged[] = {"Init\\Arrows.dll", "Extra\\dx6eng.exe"};

std::string gInstallerKeeps;  // a file the stand-in installer leaves in use, or ""
std::string gStagingRoot;
std::vector<Entry> gInstallerSaw;  // the staging area as the stand-in installer found it

int StandInInstaller(os::Handle, const char*) {
    gInstallerSaw = Snapshot(gStagingRoot);
    if (!gInstallerKeeps.empty()) {
        SetFileInUse(gInstallerKeeps, true);  // a test helper: no platform call, no fault
    }
    return 0;
}

std::string LauncherRoot(const LauncherScenario& scenario) {
    return scenario.fallbackDrive ? "D:\\TEMP" : "C:\\WINDOWS\\TEMP";
}

// root\Init\row with "..\" resolved, as Snapshot spells it (the stored names).
std::string ResolvedRow(const std::string& root, const std::string& row) {
    if (row.compare(0, 3, "..\\") == 0) {
        return root + "\\" + row.substr(3);
    }
    return root + "\\Init\\" + row;
}

std::string LauncherContent(const std::string& row) {
    if (row == "Init\\_zorp.ex_") {
        return ProgramImage("sweep launcher");
    }
    if (row == "Init\\_zorp.exe") {
        return ProgramImage("sweep stand-in installer");
    }
    return "medium " + row;
}

bool StagedInScenario(const LauncherScenario& scenario, const std::string& row) {
    return !scenario.onlyProgramsStaged || row == "Init\\_zorp.ex_" || row == "Init\\_zorp.exe";
}

void PrepareLauncher(const LauncherScenario& scenario, ProgramMain launcherMain) {
    ResetTypical(scenario.fallbackDrive ? 10 : 500, scenario.windowsNt);
    AddDrive("D:\\", os::kDriveFixed, static_cast<uint64_t>(2000) << 20);
    RegisterProgram("sweep launcher", launcherMain);
    RegisterProgram("sweep stand-in installer", StandInInstaller);
    std::string root = LauncherRoot(scenario);
    for (const char* row : kMediumRows) {
        PutFile(std::string("E:\\") + row, LauncherContent(row));
        if (StagedInScenario(scenario, row)) {
            PutFile(root + "\\" + row, LauncherContent(row));
        }
    }
    for (const char* directory : kMediumDirectories) {
        MakeDirectories(root + "\\" + directory);
    }
    if (scenario.readOnlyStaged) {
        for (const char* row : kReadOnlyStaged) {
            PutFile(root + "\\" + row, LauncherContent(row), os::kAttrReadOnly);
        }
    }
    // Neither list names these: they stay whatever happens.
    PutFile(root + "\\Init\\Install.log", "the installer's log");
    PutFile(root + "\\other.tmp", "another program's file");
    gInstallerKeeps = scenario.installerKeepsSetupapi ? root + "\\Init\\Setupapi.dll" : "";
    gStagingRoot = root;
    gInstallerSaw.clear();
    PutWinInit(scenario.winInit);
}

// The installer ran to its end. The sweeps never let started programs run on their own, so
// it ended only if the launcher waited for it.
bool InstallerEnded() {
    for (const ProcessRecord& record : Processes()) {
        if (record.parentId != 0) {
            return record.finished;
        }
    }
    return false;
}

// `entries` is a subsequence of `all`: the entries in the launcher's order, none twice.
bool IsSubsequence(const std::vector<std::string>& entries, const std::vector<std::string>& all) {
    size_t next = 0;
    for (const std::string& entry : entries) {
        while (next < all.size() && all[next] != entry) {
            ++next;
        }
        if (next == all.size()) {
            return false;
        }
        ++next;
    }
    return true;
}

// The restart entries of the three names, for a launcher staged at `root`.
std::vector<std::string> RestartEntries(const std::string& root) {
    std::vector<std::string> entries;
    for (const char* name : kRestartStagedNames) {
        entries.push_back("NUL=" + root + "\\Init\\" + name);
    }
    return entries;
}

// Which of the three names `content` schedules, when it is the old list (`old`, "" for none)
// plus whole entries in the right place. False when it is anything else.
bool ScheduledEntries(WinInitState state, const std::string& old, const std::string& content,
                      const std::vector<std::string>& all, std::vector<std::string>* found) {
    found->clear();
    if (content == old && state != WinInitState::kAbsent) {
        return true;
    }
    for (unsigned mask = 1; mask < 8; ++mask) {
        std::vector<std::string> entries;
        for (unsigned i = 0; i < 3; ++i) {
            if ((mask & (1u << i)) != 0) {
                entries.push_back(all[i]);
            }
        }
        if (content == WinInitWith(state, entries)) {
            *found = entries;
            return true;
        }
    }
    return false;
}

void CheckWinInit(const LauncherScenario& scenario, const std::vector<Entry>& before,
                  const FaultedRun& run, std::vector<std::string>* violations) {
    std::string old;
    bool existed = false;
    for (const Entry& entry : before) {
        if (SameText(entry.path, kWinInit)) {
            old = entry.content;
            existed = true;
        }
    }
    std::string now;
    bool exists = GetFile(kWinInit, &now);
    // A failed version query counts as Windows 95/98, on NT too: only then may NT's list change.
    if (scenario.windowsNt && !FaultedOp(run, "GetVersionExA")) {
        if (exists != existed || now != old) {
            violations->push_back("WinInit.ini touched on NT");
        }
        return;
    }
    std::vector<std::string> all = RestartEntries(LauncherRoot(scenario));
    std::vector<std::string> found;
    std::string list = now;
    if (!exists && existed) {
        // Cut off between the two renames by faults that go on failing: the old list must
        // wait under WinInit.old, beside WinInit.tmp, for the next call to put it back.
        std::string stranded;
        if (run.once || !GetFile(kWinInitOld, &stranded) || !FileExists(kWinInitTmp)) {
            violations->push_back("WinInit.ini lost");
            return;
        }
        list = stranded;
    }
    if (exists || existed) {
        if (!ScheduledEntries(scenario.winInit, old, list, all, &found)) {
            violations->push_back("WinInit.ini damaged: [" + Shown(list) + "]");
            return;
        }
    }
    // Only files still there are scheduled; with one fault at most one of them is missed,
    // and without a fault none.
    std::vector<std::string> present;
    for (size_t i = 0; i < 3; ++i) {
        if (FileExists(LauncherRoot(scenario) + "\\Init\\" + kRestartStagedNames[i])) {
            present.push_back(all[i]);
        }
    }
    if (!IsSubsequence(found, present)) {
        violations->push_back("WinInit.ini schedules a file that is gone: " + Joined(found));
    }
    // Nothing is scheduled before the installer has ended.
    if (!InstallerEnded()) {
        present.clear();
    }
    size_t missed = present.size() - std::min(present.size(), found.size());
    if ((!run.fired && !scenario.windowsNt && missed != 0) || (run.once && missed > 1)) {
        violations->push_back("scheduled " + Joined(found) + " of " + Joined(present));
    }
}

void CheckPendingDeletions(const LauncherScenario& scenario, const FaultedRun& run,
                           std::vector<std::string>* violations) {
    const std::vector<std::string>& pending = PendingDeletions();
    std::vector<std::string> names(std::begin(kRestartNames), std::end(kRestartNames));
    if (!scenario.windowsNt || !InstallerEnded()) {
        if (!pending.empty()) {
            violations->push_back("pending deletions " + Joined(pending));
        }
        return;
    }
    size_t missed = names.size() - std::min(names.size(), pending.size());
    if (!IsSubsequence(pending, names) || (!run.fired && missed != 0) || (run.once && missed > 1)) {
        violations->push_back("pending deletions " + Joined(pending));
    }
}

void CheckLauncherRun(const LauncherScenario& scenario, const std::vector<Entry>& before,
                      const FaultedRun& run, std::vector<std::string>* violations) {
    CheckExitCode(run, violations);
    CheckLeftovers(run, violations);
    std::string root = LauncherRoot(scenario);
    std::string init = root + "\\Init";

    // The installer: started exactly as intended, or not at all.
    std::vector<ProcessRecord> children;
    for (const ProcessRecord& record : Processes()) {
        if (record.parentId != 0) {
            children.push_back(record);
        }
    }
    bool started = !children.empty() && children[0].started;
    if (children.size() > 1) {
        violations->push_back(std::to_string(children.size()) + " processes started");
    }
    if (started != (ExitCode32(run.exitCode) == 1)) {
        violations->push_back("exit code " + std::to_string(run.exitCode) + " but installer " +
                              (started ? "started" : "not started"));
    }
    if (!children.empty() && (children[0].commandLine != "\"" + init + "\\_zorp.exe\" E:\\Init" ||
                              children[0].currentDirectory != init)) {
        violations->push_back("installer started as [" + children[0].commandLine + "] in [" +
                              children[0].currentDirectory + "]");
    }

    std::set<std::string> removable;
    for (const char* row : kLauncherFiles) {
        removable.insert(UpperText(ResolvedRow(root, row)));
    }
    for (const char* row : kLauncherDirectories) {
        removable.insert(UpperText(ResolvedRow(root, row)) + "\\");
    }
    TreeDiff diff = DiffTrees(before, SnapshotAll());
    for (const std::string& path : diff.removed) {
        if (SameText(path, kWinInit)) {
            continue;  // CheckWinInit tells a stranded list from a lost one
        }
        if (removable.count(UpperText(path)) == 0) {
            violations->push_back("removed a file of neither list: " + path);
        } else if (!InstallerEnded()) {
            violations->push_back("removed " + path + " before the installer ended");
        }
    }
    // The installer found the staging area whole: nothing was removed before it ran.
    std::vector<Entry> staged;
    for (const Entry& entry : before) {
        if (PathIsBelow(entry.path, root) && !SameText(entry.path, root + "\\")) {
            staged.push_back(entry);
        }
    }
    std::vector<std::string> missing = DiffTrees(staged, gInstallerSaw).removed;
    if (InstallerEnded() && !missing.empty()) {
        violations->push_back("the installer ran without " + Joined(missing));
    }
    for (const std::vector<std::string>* list : {&diff.added, &diff.changed}) {
        for (const std::string& path : *list) {
            bool restartList = SameText(path, kWinInit) || SameText(path, kWinInitTmp) ||
                               SameText(path, kWinInitOld);
            if (!restartList) {
                violations->push_back("added or changed " + path);
            }
        }
    }
    CheckWinInit(scenario, before, run, violations);
    CheckPendingDeletions(scenario, run, violations);

    // Without a fault the staging area is emptied as far as it can be.
    if (!run.fired) {
        for (const char* row : kMediumRows) {
            std::string path = root + "\\" + row;
            bool kept =
                std::string(row) == "Init\\_zorp.ex_" ||
                (scenario.installerKeepsSetupapi && std::string(row) == "Init\\Setupapi.dll") ||
                (scenario.readOnlyStaged && (std::string(row) == kReadOnlyStaged[0] ||
                                             std::string(row) == kReadOnlyStaged[1]));
            bool stagedBefore = false;
            for (const Entry& entry : before) {
                stagedBefore = stagedBefore || SameText(entry.path, path);
            }
            if (FileExists(path) != (kept && stagedBefore)) {
                violations->push_back(path + (kept ? " removed" : " left behind"));
            }
        }
        if (DirectoryExists(root + "\\English") || !FileExists(init + "\\Install.log")) {
            violations->push_back("English not removed or Install.log lost");
        }
    }
}

}  // namespace

SweepReport SweepLauncher(const LauncherScenario& scenario, ProgramMain launcherMain, bool once) {
    std::vector<Entry> before;
    SweepTarget target;
    target.prepare = [&] {
        PrepareLauncher(scenario, launcherMain);
        before = SnapshotAll();
    };
    std::string init = LauncherRoot(scenario) + "\\Init";
    target.run = [init] { return RunProgram("\"" + init + "\\_zorp.ex_\" E:\\Init", init); };
    target.check = [&](const FaultedRun& run, std::vector<std::string>* violations) {
        CheckLauncherRun(scenario, before, run, violations);
    };
    return SweepFaults(std::string("launcher: ") + scenario.name, target, once);
}

}  // namespace sim
