// The adversary sweep: another local user at one moment of an installation, tried at every
// moment in turn.
#include "tests/system/adversary_sweep.h"

#include <chrono>

#include "sim/medium.h"
#include "tests/system/fault_sweep.h"

namespace sim {

namespace {

const size_t kMessagesKept = 12;
const char kVictim[] = "C:\\VICTIM";  // an administrator's folder the other user may only read
const char kPrecious[] = "C:\\VICTIM\\precious.dll";
const char* const kRoots[] = {"C:\\WINDOWS\\TEMP", "C:\\TEMP", "D:\\TEMP"};
const char kLauncherRow[] = "Init\\_zorp.ex_";
const char kInstallerRow[] = "Init\\_zorp.exe";

std::vector<Entry> gInstallerSaw;  // the staging directories as the installer found them
bool gInstallerRan = false;

std::string Join(const std::string& directory, const std::string& name) {
    return directory + "\\" + name;
}

// The stand-in installer looks at the four directories of the staging area it runs in.
int StandInInstaller(os::Handle, const char*) {
    gInstallerRan = true;
    char directory[300] = "";
    os::Dword length = os::GetCurrentDirectoryA(sizeof directory, directory);
    std::string init(directory, length < sizeof directory ? length : 0);
    std::string root = init.substr(0, init.rfind('\\'));
    for (const char* name : kMediumDirectories) {
        for (const Entry& entry : Snapshot(Join(root, name))) {
            gInstallerSaw.push_back(entry);
        }
        gInstallerSaw.push_back(
            Entry{Join(root, name), true, Attributes(Join(root, name)), "", ""});
    }
    return 0;
}

int PlantedProgram(os::Handle, const char*) {
    return 66;
}

std::string MediumContent(const std::string& row) {
    if (row == kLauncherRow) {
        return ProgramImage("adversary launcher");
    }
    if (row == kInstallerRow) {
        return ProgramImage("adversary installer");
    }
    return "medium " + row;
}

// Read and run for Users, full control for Administrators and SYSTEM, and nothing inherited.
Dacl VictimDacl() {
    Dacl dacl;
    dacl.isProtected = true;
    for (const char* sid : {kAdministratorsSid, kSystemSid}) {
        dacl.entries.push_back(Ace{sid, 0x1F01FF, 0x3, false});
    }
    dacl.entries.push_back(Ace{"S-1-5-32-545", 0x1200A9, 0x3, false});
    return dacl;
}

void Prepare(const AdversaryScenario& scenario, ProgramMain setupMain, ProgramMain launcherMain) {
    ResetTypical(scenario.tightSystemDrive ? 10 : 500, true);
    SetNtDefaults(scenario.defaults);
    if (scenario.tightSystemDrive) {
        AddDrive("D:\\", os::kDriveFixed, static_cast<uint64_t>(2000) << 20);
    }
    RegisterProgram("adversary setup", setupMain);
    RegisterProgram("adversary launcher", launcherMain);
    RegisterProgram("adversary installer", StandInInstaller);
    RegisterProgram("adversary planted", PlantedProgram);
    PutFile("E:\\setup.exe", ProgramImage("adversary setup"));
    MakeDirectories(kVictim);
    SetDacl(kVictim, VictimDacl());
    PutFile(kPrecious, "precious");
    for (const char* row : kMediumRows) {
        PutFile(Join("E:", row), MediumContent(row));
        PutFile(Join(kVictim, row), std::string("victim ") + row);
    }
    if (scenario.earlierRun != AdversaryScenario::kNone) {
        for (const char* name : kMediumDirectories) {
            std::string directory = Join(kRoots[0], name);
            if (scenario.earlierRun == AdversaryScenario::kThisSetup) {
                MakeStagingDirectory(directory);
            } else {
                MakeDirectories(directory);
            }
            SetOwner(directory, kInstallingUserSid);
        }
        PutFile(Join(kRoots[0], kLauncherRow), MediumContent(kLauncherRow));
        SetOwner(Join(kRoots[0], kLauncherRow), kInstallingUserSid);
    }
    if (scenario.plantedInit) {
        // Its owner may change its entries whenever it likes, whatever they say now.
        std::string init = Join(kRoots[0], "Init");
        MakeStagingDirectory(init);
        SetOwner(init, kOtherUserSid);
    }
    gInstallerSaw.clear();
    gInstallerRan = false;
}

// Every attack of the other user, against every staging root and directory setup may use.
void Attack(bool tight, AdversaryReport* report) {
    auto tally = [report](bool done) {
        ++report->attacksTried;
        report->attacksDone += done ? 1 : 0;
    };
    for (const char* root : kRoots) {
        if (root[0] == 'D' && !tight) {
            continue;
        }
        std::vector<std::string> directories = {root};
        for (const char* name : kMediumDirectories) {
            directories.push_back(Join(root, name));
        }
        for (const std::string& directory : directories) {
            tally(OtherUserTakesOver(directory));
            tally(OtherUserAddsFile(Join(directory, "version.dll"),
                                    ProgramImage("adversary planted")));
        }
        tally(OtherUserAddsFile(Join(root, "Init\\_zorp.exe.local"), ""));
        for (const char* row : kMediumRows) {
            std::string place = Join(root, row);
            bool program = std::string(row) == kLauncherRow || std::string(row) == kInstallerRow;
            tally(OtherUserWritesFile(place, ProgramImage("adversary planted")));
            tally(OtherUserDeletes(place));
            tally(program ? OtherUserAddsFile(place, ProgramImage("adversary planted"))
                          : OtherUserMakesHardLink(place, kPrecious));
        }
        // The deepest first, so that a root renamed last still has its directories in it.
        for (size_t i = directories.size(); i-- > 0;) {
            const std::string& directory = directories[i];
            std::string victim = i == 0 ? kVictim : Join(kVictim, kMediumDirectories[i - 1]);
            tally(OtherUserMoves(directory, directory + ".old"));
            tally(OtherUserMakesDirectoryLink(directory, victim));
        }
    }
}

// A staging root setup may make, or one of its four directories and what is in them.
bool InStaging(const std::string& path) {
    for (const char* root : kRoots) {
        if (UpperText(path) == UpperText(root)) {
            return true;
        }
        for (const char* name : kMediumDirectories) {
            if (PathIsBelow(path, Join(root, name))) {
                return true;
            }
        }
    }
    return false;
}

// The staging root the genuine installer ran from, "" when none did; "COPY ERROR" when setup
// said so instead.
std::string Outcome(int64_t setupCode) {
    for (const ProcessRecord& record : Processes()) {
        if (record.program == "adversary installer" && record.started && record.finished) {
            std::string init = record.currentDirectory;
            return init.substr(0, init.rfind('\\'));
        }
    }
    for (const MessageBoxRecord& box : MessageBoxes()) {
        if (box.caption == "COPY ERROR" && ExitCode32(setupCode) == 0) {
            return "COPY ERROR";
        }
    }
    return "";
}

void Check(const AdversaryScenario& scenario, size_t changesBefore,
           const std::vector<Entry>& victimBefore, int64_t setupCode, bool alone,
           std::vector<std::string>* violations) {
    const std::vector<Change>& changes = Changes();
    for (size_t i = changesBefore; i < changes.size(); ++i) {
        const Change& change = changes[i];
        bool programs = change.user == kInstallingUserSid || change.processId == 0;
        if (programs && !InStaging(change.path)) {
            violations->push_back(std::string(change.processId == 0 ? "the restart" : "a program") +
                                  " changed " + change.path);
        }
    }
    TreeDiff victim = DiffTrees(victimBefore, Snapshot(kVictim));
    for (const std::vector<std::string>* list : {&victim.changed, &victim.removed}) {
        for (const std::string& path : *list) {
            violations->push_back("the victim's " + path + " changed or went");
        }
    }
    for (const ProcessRecord& record : Processes()) {
        if (record.started &&
            (record.imageWriter == kOtherUserSid || record.program == "adversary planted")) {
            violations->push_back("started the other user's " + record.commandLine);
        }
    }
    for (const Entry& entry : gInstallerSaw) {
        if (entry.writer == kOtherUserSid || (entry.attributes & os::kAttrReparsePoint) != 0) {
            violations->push_back("the installer found the other user's " + entry.path);
        }
    }
    std::string outcome = Outcome(setupCode);
    bool staged = !outcome.empty() && outcome != "COPY ERROR";
    if (outcome.empty() || (staged && !InStaging(outcome))) {
        violations->push_back("ended with neither the installer nor COPY ERROR: setup " +
                              std::to_string(setupCode) + ", [" + outcome + "]");
    }
    if (alone && outcome != scenario.outcome) {
        violations->push_back("alone, it ended with [" + outcome + "], not " + scenario.outcome);
    }
}

}  // namespace

const std::vector<AdversaryScenario>& AdversaryScenarios() {
    static const std::vector<AdversaryScenario> scenarios = {
        {"Vista and later, roomy C:", NtDefaults::kVista, false, AdversaryScenario::kNone, false,
         "C:\\WINDOWS\\TEMP"},
        {"Vista and later, tight C: (D:)", NtDefaults::kVista, true, AdversaryScenario::kNone,
         false, "D:\\TEMP"},
        {"XP, after an earlier run", NtDefaults::kXp, false, AdversaryScenario::kThisSetup, false,
         "C:\\WINDOWS\\TEMP"},
        {"XP, after an older setup's run", NtDefaults::kXp, false, AdversaryScenario::kOlderSetup,
         false, "C:\\TEMP"},
        {"XP, Init made by the other user first", NtDefaults::kXp, false, AdversaryScenario::kNone,
         true, "C:\\TEMP"},
        {"2000, roomy C:", NtDefaults::kWindows2000, false, AdversaryScenario::kNone, false,
         "C:\\WINDOWS\\TEMP"},
        // A root that lets everyone delete what is in it keeps no TEMP of ours safe.
        {"2000, tight C: (D:, everyone's)", NtDefaults::kWindows2000, true,
         AdversaryScenario::kNone, false, "COPY ERROR"},
    };
    return scenarios;
}

AdversaryReport SweepAdversary(const AdversaryScenario& scenario, ProgramMain setupMain,
                               ProgramMain launcherMain) {
    AdversaryReport report;
    report.name = std::string("other user: ") + scenario.name;
    auto start = std::chrono::steady_clock::now();
    for (int nth = 1;; ++nth) {
        Prepare(scenario, setupMain, launcherMain);
        std::vector<Entry> victim = Snapshot(kVictim);
        size_t changesBefore = Changes().size();
        ClearCalls();
        bool acted = false;
        std::string moment = "after the launcher";
        BeforeCall("", "", nth, [&] {
            acted = true;
            const Call& call = Calls().back();  // the call about to be carried out
            moment = "N=" + std::to_string(nth) + " before " + call.op + "(" + call.arg + ")";
            Attack(scenario.tightSystemDrive, &report);
        });
        int64_t setupCode = RunProgram("E:\\setup.exe", "E:\\");
        RunStartedPrograms();
        if (!acted) {
            Attack(scenario.tightSystemDrive, &report);  // between the launcher and the restart
        }
        Restart();
        // In the last run the other user acts only once the launcher has ended, so the run's
        // outcome is what it is without the other user.
        std::vector<std::string> violations;
        Check(scenario, changesBefore, victim, setupCode, !acted, &violations);
        ++report.runs;
        report.violations += static_cast<int>(violations.size());
        for (const std::string& violation : violations) {
            if (report.messages.size() < kMessagesKept) {
                report.messages.push_back(moment + ": " + violation);
            }
        }
        if (!acted) {
            break;
        }
    }
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

}  // namespace sim
