// The fault sweep of setup: its starting states, and what it must keep whatever call fails.
#include <string>
#include <vector>

#include "sim/medium.h"
#include "tests/system/fault_sweep.h"

namespace sim {

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
    std::vector<ProcessRecord> children = Children();
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

}  // namespace sim
