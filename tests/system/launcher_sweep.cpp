// The fault sweep of the launcher: its starting states, and what it must keep whatever call
// fails.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "sim/medium.h"
#include "tests/system/fault_sweep.h"

namespace sim {

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

namespace {

const char kWinInitTmp[] = "C:\\WINDOWS\\WinInit.tmp";
const char kWinInitOld[] = "C:\\WINDOWS\\WinInit.old";

bool SameText(const std::string& a, const std::string& b) {
    return UpperText(a) == UpperText(b);
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
    std::vector<ProcessRecord> children = Children();
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
