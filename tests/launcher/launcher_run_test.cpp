// The launcher run on the simulated machine: the guard, the installer's start, the wait, the
// cleanup and the restart scheduling, and inputs at and past the 260-character buffers.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "common/status.h"
#include "launcher/launcher_run.h"
#include "sim/machine.h"
#include "sim/medium.h"

namespace {

const char kMutex[] = "MutexToProtectSetup";
const char kGuardText[] =
    "I aborted application startup because I detected another version of Setup running.";

// What setup stages, relative to the staging root; _zorp.ex_ and _zorp.exe are programs.
const auto& kManifest = sim::kMediumRows;

// What the stand-in installer saw while it ran, and the exit code it ends with.
struct InstallerView {
    int runs = 0;
    std::string tail;
    std::string currentDirectory;
    int stagedFilesPresent = 0;
};
InstallerView gSeen;
int gInstallerExit = 0;
std::string gStagingRoot;

int StandInInstaller(os::Handle, const char* tail) {
    ++gSeen.runs;
    gSeen.tail = tail;
    char directory[1024] = "";
    os::GetCurrentDirectoryA(sizeof directory, directory);
    gSeen.currentDirectory = directory;
    for (const char* row : kManifest) {
        gSeen.stagedFilesPresent += sim::FileExists(gStagingRoot + "\\" + row) ? 1 : 0;
    }
    return gInstallerExit;
}

int gDecoyRuns = 0;
int Decoy(os::Handle, const char*) {
    ++gDecoyRuns;
    return 99;
}

// A typical machine with a full staging area under `root`, less the row `leaveOut`; what would
// not fit MAX_PATH is left out too.
void StageEverything(const std::string& root, bool windowsNt = true,
                     const std::string& leaveOut = "") {
    sim::ResetTypical(500, windowsNt);
    sim::RegisterProgram("launcher", LauncherMain);
    sim::RegisterProgram("installer", StandInInstaller);
    sim::RegisterProgram("decoy", Decoy);
    gSeen = InstallerView();
    gInstallerExit = 0;
    gDecoyRuns = 0;
    gStagingRoot = root;
    for (const char* dir : {"Config", "Init", "Extra", "English"}) {
        std::string path = root + "\\" + dir;
        if (path.size() <= 259) {
            ASSERT_TRUE(sim::MakeDirectories(path)) << path;
        }
    }
    for (const std::string row : kManifest) {
        std::string path = root + "\\" + row;
        std::string content = row == "Init\\_zorp.ex_"   ? sim::ProgramImage("launcher")
                              : row == "Init\\_zorp.exe" ? sim::ProgramImage("installer")
                                                         : "staged " + row;
        if (path.size() <= 259 && row != leaveOut) {
            ASSERT_TRUE(sim::PutFile(path, content)) << path;
        }
    }
    sim::ClearCalls();
}

int64_t RunLauncher(const std::string& root, const std::string& tail) {
    std::string commandLine = root + "\\Init\\_zorp.ex_";
    if (!tail.empty()) {
        commandLine += " " + tail;
    }
    return sim::RunProgram(commandLine, root + "\\Init");
}

bool IsEFail(int64_t exitCode) {
    return static_cast<uint32_t>(exitCode) == 0x80004005u;
}

const sim::ProcessRecord* InstallerRecord() {
    for (const sim::ProcessRecord& record : sim::Processes()) {
        if (record.parentId != 0) {
            return &record;
        }
    }
    return nullptr;
}

// Index in sim::Calls() of the first call with exactly this argument, or -1.
int FirstCallWith(const std::string& arg) {
    const std::vector<sim::Call>& calls = sim::Calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].arg == arg) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int LastCallOf(const std::string& op) {
    int last = -1;
    const std::vector<sim::Call>& calls = sim::Calls();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op == op) {
            last = static_cast<int>(i);
        }
    }
    return last;
}

const char kRoot[] = "C:\\WINDOWS\\TEMP";

TEST(LauncherRun, StartsTheInstallerWaitsCleansUpAndSchedulesTheRest) {
    for (bool windowsNt : {true, false}) {
        SCOPED_TRACE(windowsNt ? "Windows NT" : "Windows 98");
        StageEverything(kRoot, windowsNt);

        EXPECT_EQ(RunLauncher(kRoot, "E:\\Init"), kLauncherDone);

        const sim::ProcessRecord* installer = InstallerRecord();
        ASSERT_NE(installer, nullptr);
        EXPECT_EQ(installer->parentId, sim::Processes()[0].processId);
        EXPECT_FALSE(installer->hasApplicationName);
        EXPECT_EQ(installer->commandLine, "\"C:\\WINDOWS\\TEMP\\Init\\_zorp.exe\" E:\\Init");
        EXPECT_EQ(installer->currentDirectory, "C:\\WINDOWS\\TEMP\\Init");
        EXPECT_FALSE(installer->inheritHandles);
        EXPECT_EQ(installer->creationFlags, 0u);
        EXPECT_TRUE(installer->inheritedEnvironment);
        EXPECT_EQ(installer->startupInfoSize, 68u);
        EXPECT_TRUE(installer->started);
        EXPECT_TRUE(installer->finished);
        // Released before the start, so the installer's own stages are not locked out.
        EXPECT_FALSE(installer->setupMutexOwnedAtStart);
        EXPECT_EQ(sim::OpenMutexHandles(kMutex), 0);

        // The installer ran once, in the staging Init directory, with everything in place.
        EXPECT_EQ(gSeen.runs, 1);
        EXPECT_EQ(gSeen.tail, "E:\\Init");
        EXPECT_EQ(gSeen.currentDirectory, "C:\\WINDOWS\\TEMP\\Init");
        EXPECT_EQ(gSeen.stagedFilesPresent, 21);

        // Cleaned after the wait: only the launcher's own file is left.
        std::vector<sim::Entry> left = sim::Snapshot(kRoot);
        ASSERT_EQ(left.size(), 2u);
        EXPECT_EQ(left[1].path, "C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_");

        // The three restart names, as relative names, in order, after the cleanup.
        int cfgmgr = FirstCallWith("cfgmgr32.dll");
        int setupapi = FirstCallWith("setupapi.dll");
        int launcher = FirstCallWith("_zorp.ex_");
        EXPECT_LT(LastCallOf("RemoveDirectoryA"), cfgmgr);
        EXPECT_LT(cfgmgr, setupapi);
        EXPECT_LT(setupapi, launcher);
        EXPECT_TRUE(sim::MessageBoxes().empty());
    }
}

TEST(LauncherRun, ExitCodeTellsHowFarItGot) {
    struct Case {
        const char* what;
        const char* leaveOut;   // a staged row that is missing
        const char* failingOp;  // fails once
        int installerExit;
        int64_t exitCode;
    } cases[] = {
        {"installer fails: its code is not read", "", "", static_cast<int>(0x80004005u),
         kLauncherDone},
        {"installer fails with 3", "", "", 3, kLauncherDone},
        {"no mutex to be had: runs unguarded", "", "CreateMutexA", 0, kLauncherDone},
        {"no installer: nothing is touched", "Init\\_zorp.exe", "", 0, kLauncherNotStarted},
        // Every name is relative to the current directory: without it nothing can be found.
        {"current directory unknown", "", "GetCurrentDirectoryA", 0, kLauncherNotStarted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StageEverything(kRoot, true, c.leaveOut);
        gInstallerExit = c.installerExit;
        size_t staged = sim::Snapshot(kRoot).size();
        sim::FaultRule rule;
        rule.op = c.failingOp;
        if (rule.op != "") {
            sim::AddFault(rule);
        }

        EXPECT_EQ(RunLauncher(kRoot, "E:\\Init"), c.exitCode);

        bool started = c.exitCode == kLauncherDone;
        EXPECT_EQ(gSeen.runs, started ? 1 : 0);
        if (started) {
            EXPECT_EQ(sim::Snapshot(kRoot).size(), 2u);
        } else {
            const sim::ProcessRecord* installer = InstallerRecord();
            EXPECT_TRUE(installer == nullptr || !installer->started);
            EXPECT_EQ(sim::Snapshot(kRoot).size(), staged);
            EXPECT_EQ(FirstCallWith("_zorp.ex_"), -1);  // nothing scheduled either
        }
        EXPECT_FALSE(sim::MutexOwned(kMutex));
        EXPECT_EQ(sim::OpenMutexHandles(kMutex), 0);
    }
}

TEST(LauncherRun, AnotherStageHoldingTheMutexStopsItBeforeAnything) {
    StageEverything(kRoot);
    std::vector<sim::Entry> before = sim::Snapshot(kRoot);
    sim::HoldMutex(kMutex);

    EXPECT_TRUE(IsEFail(RunLauncher(kRoot, "E:\\Init")));

    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    const sim::MessageBoxRecord& box = sim::MessageBoxes()[0];
    EXPECT_EQ(box.text, kGuardText);
    EXPECT_EQ(box.caption, "ERROR");
    EXPECT_EQ(box.type, os::kMbIconError);
    EXPECT_FALSE(box.hadOwner);
    EXPECT_EQ(InstallerRecord(), nullptr);
    EXPECT_EQ(sim::Snapshot(kRoot).size(), before.size());
    EXPECT_EQ(sim::OpenMutexHandles(kMutex), 0);
}

TEST(LauncherRun, HandsItsTailOnUnchanged) {
    struct Case {
        const char* launcherCommandLine;
        const char* tail;
    } cases[] = {
        {"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_ E:\\Init", "E:\\Init"},
        {"\"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_\" E:\\Init", "E:\\Init"},
        {"\"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_\"E:\\Init", "E:\\Init"},   // no blank
        {"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_\t \tE:\\Init", "E:\\Init"},  // tabs
        {"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_ E:\\My Disc\\Init", "E:\\My Disc\\Init"},
        {"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_ a  b\tc ", "a  b\tc "},  // inner and trailing
        {"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_", ""},
        {"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_   ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.launcherCommandLine);
        StageEverything(kRoot);

        EXPECT_EQ(sim::RunProgram(c.launcherCommandLine, "C:\\WINDOWS\\TEMP\\Init"), kLauncherDone);

        const sim::ProcessRecord* installer = InstallerRecord();
        ASSERT_NE(installer, nullptr);
        // An empty tail still leaves the blank after the quoted program.
        EXPECT_EQ(installer->commandLine,
                  std::string("\"C:\\WINDOWS\\TEMP\\Init\\_zorp.exe\" ") + c.tail);
        EXPECT_EQ(gSeen.tail, c.tail);
    }
}

// The launcher never looks at its own path, only at its current directory: these runs start
// it from elsewhere so that the current directory can take any shape.
const char kLauncherElsewhere[] = "C:\\L\\_zorp.ex_";

int64_t RunLauncherIn(const std::string& currentDirectory, const std::string& tail) {
    EXPECT_TRUE(sim::PutFile(kLauncherElsewhere, sim::ProgramImage("launcher")));
    std::string commandLine = kLauncherElsewhere;
    if (!tail.empty()) {
        commandLine += " " + tail;
    }
    return sim::RunProgram(commandLine, currentDirectory);
}

TEST(LauncherRun, WorkingDirectoryShapes) {
    struct Case {
        const char* what;
        const char* currentDirectory;
        const char* stagingRoot;
        const char* commandLine;
        const char* workingDirectory;
    } cases[] = {
        {"drive root: C: alone", "C:\\", "C:", "\"C:\\_zorp.exe\" E:\\Init", "C:"},
        {"blanks: the quotes keep the program whole", "C:\\Program Files\\TEMP\\Init",
         "C:\\Program Files\\TEMP", "\"C:\\Program Files\\TEMP\\Init\\_zorp.exe\" E:\\Init",
         "C:\\Program Files\\TEMP\\Init"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StageEverything(c.stagingRoot);
        std::string init = c.workingDirectory;
        if (init == "C:") {  // the staged Init files stand in the root itself
            ASSERT_TRUE(sim::PutFile("C:\\_zorp.exe", sim::ProgramImage("installer")));
            ASSERT_TRUE(sim::PutFile("C:\\Arrows.dll", "staged"));
        }
        // Where an unquoted command line would find a program first.
        ASSERT_TRUE(sim::PutFile("C:\\Program.exe", sim::ProgramImage("decoy")));

        EXPECT_EQ(RunLauncherIn(c.currentDirectory, "E:\\Init"), kLauncherDone);

        const sim::ProcessRecord* installer = InstallerRecord();
        ASSERT_NE(installer, nullptr);
        EXPECT_EQ(installer->commandLine, c.commandLine);
        EXPECT_EQ(installer->currentDirectory, c.workingDirectory);
        EXPECT_EQ(gSeen.runs, 1);
        EXPECT_EQ(gDecoyRuns, 0);
        EXPECT_EQ(gSeen.tail, "E:\\Init");
        EXPECT_FALSE(sim::FileExists(init + "\\Arrows.dll"));
    }
}

TEST(LauncherRun, TailsThatDoNotFitStartNothing) {
    // "C:\WINDOWS\TEMP\Init" is 20 characters; with the quotes, "\_zorp.exe" and the blank,
    // 226 characters of tail fill the 259 characters of the installer command line.
    for (size_t length : {225u, 226u, 227u, 259u, 260u, 1024u}) {
        SCOPED_TRACE(testing::Message() << "tail of " << length);
        StageEverything(kRoot);
        std::string tail(length, 'x');
        tail[0] = 'E';

        int64_t exitCode = RunLauncher(kRoot, tail);

        bool fits = length <= 226;
        EXPECT_EQ(exitCode, fits ? kLauncherDone : kLauncherNotStarted);
        EXPECT_EQ(gSeen.runs, fits ? 1 : 0);
        if (fits) {
            EXPECT_EQ(gSeen.tail, tail);  // whole, never cut
        } else {
            EXPECT_EQ(InstallerRecord(), nullptr);
            EXPECT_TRUE(sim::FileExists("C:\\WINDOWS\\TEMP\\Init\\Arrows.dll"));
        }
        EXPECT_FALSE(sim::MutexOwned(kMutex));
    }
}

// A staging root such that root + "\Init" has exactly `length` characters.
std::string RootForWorkingDirectory(size_t length) {
    std::string root = "C:\\";
    while (root.size() < length - 5) {
        bool separator = root.size() % 60 == 59 && root.size() + 1 < length - 5;
        root += separator ? '\\' : 'r';
    }
    return root;
}

TEST(LauncherRun, LongWorkingDirectoriesNeverOverflow) {
    struct Case {
        size_t length;  // of the working directory
        const char* tail;
        bool starts;
    } cases[] = {
        {236, "E:\\Init", true},
        {237, "E:\\Init", true},  // the longest where every cleanup row
                                  // fits
        {238, "E:\\Init", true},
        {239, "E:\\Init", true},  // fills the installer command line
        {240, "E:\\Init", false},
        {246, "", true},
        {247, "", false},
        {258, "", false},
        {259, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " characters");
        std::string root = RootForWorkingDirectory(c.length);
        std::string init = root + "\\Init";
        ASSERT_EQ(init.size(), c.length);
        StageEverything(root);
        if (c.starts) {  // _zorp.exe itself fits MAX_PATH only this far
            ASSERT_TRUE(sim::FileExists(init + "\\_zorp.exe"));
        }

        EXPECT_EQ(RunLauncherIn(init, c.tail), c.starts ? kLauncherDone : kLauncherNotStarted);
        EXPECT_EQ(gSeen.runs, c.starts ? 1 : 0);

        // A staged file is gone exactly when its cleanup row, as built from the working
        // directory, fit the path buffer; a row that did not fit was skipped, not shortened.
        for (const std::string row : kManifest) {
            std::string path = root + "\\" + row;
            if (path.size() > 259 || row == "Init\\_zorp.ex_") {
                continue;
            }
            bool inInit = row.compare(0, 5, "Init\\") == 0;
            std::string fromInit = inInit ? row.substr(5) : "..\\" + row;
            bool cleaned = c.starts && init.size() + 1 + fromInit.size() <= 259;
            EXPECT_EQ(sim::FileExists(path), !cleaned) << row;
        }
    }
}

TEST(LauncherRun, EveryFailingCallEndsCleanly) {
    // Fail the Nth fallible call of a whole run, for N = 1, 2, ... until no fault fires.
    bool sweptEveryCall = false;
    for (int n = 1; n < 500 && !sweptEveryCall; ++n) {
        SCOPED_TRACE(testing::Message() << "call " << n << " fails");
        StageEverything(kRoot);
        size_t staged = sim::Snapshot(kRoot).size();
        sim::FaultRule rule;
        rule.nth = n;
        sim::AddFault(rule);

        int64_t exitCode = RunLauncher(kRoot, "E:\\Init");
        if (sim::FaultsFired() == 0) {
            EXPECT_EQ(exitCode, kLauncherDone);
            sweptEveryCall = true;
            break;
        }
        if (exitCode == kLauncherDone) {
            // Whatever failed, nothing was removed before the installer ended.
            if (sim::Snapshot(kRoot).size() != staged) {
                EXPECT_EQ(gSeen.runs, 1);
                EXPECT_EQ(gSeen.stagedFilesPresent, 21);
            }
        } else {
            // Refused or not started: the installer never ran and nothing was removed.
            EXPECT_TRUE(exitCode == kLauncherNotStarted || IsEFail(exitCode)) << exitCode;
            EXPECT_EQ(gSeen.runs, 0);
            EXPECT_EQ(sim::Snapshot(kRoot).size(), staged);
        }
    }
    EXPECT_TRUE(sweptEveryCall);
}

}  // namespace
