// The whole chain on the simulated machine: setup from the CD stages the files and starts the
// launcher, which runs the installer, empties the staging area and leaves its own file for
// the next start of Windows, on both Windows families.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "bootstrap/setup_run.h"
#include "launcher/launcher_run.h"
#include "sim/machine.h"
#include "sim/medium.h"

namespace {

const auto& kManifest = sim::kMediumRows;

const char kStaging[] = "C:\\WINDOWS\\TEMP";

// What the stand-in installer saw while it ran.
struct InstallerView {
    int runs = 0;
    std::string tail;
    std::string currentDirectory;
    int stagedFiles = 0;  // manifest files staged, byte for byte as on the medium
    bool keepsSetupapi;   // it loads the staged Setupapi.dll and keeps it
};
InstallerView gInstaller;

std::string MediumContent(const std::string& row) {
    if (row == "Init\\_zorp.ex_") {
        return sim::ProgramImage("launcher");
    }
    if (row == "Init\\_zorp.exe") {
        return sim::ProgramImage("installer");
    }
    return "medium " + row;
}

int StandInInstaller(os::Handle, const char* tail) {
    ++gInstaller.runs;
    gInstaller.tail = tail;
    char directory[1024] = "";
    os::GetCurrentDirectoryA(sizeof directory, directory);
    gInstaller.currentDirectory = directory;
    for (const std::string row : kManifest) {
        std::string content;
        if (sim::GetFile(std::string(kStaging) + "\\" + row, &content) &&
            content == MediumContent(row)) {
            ++gInstaller.stagedFiles;
        }
    }
    if (gInstaller.keepsSetupapi) {
        sim::SetFileInUse(std::string(kStaging) + "\\Init\\Setupapi.dll", true);
    }
    return 0;
}

void PrepareMachine(bool windowsNt, bool installerKeepsSetupapi) {
    sim::ResetTypical(500, windowsNt);
    sim::RegisterProgram("setup", SetupMain);
    sim::RegisterProgram("launcher", LauncherMain);
    sim::RegisterProgram("installer", StandInInstaller);
    gInstaller = InstallerView();
    gInstaller.keepsSetupapi = installerKeepsSetupapi;
    ASSERT_TRUE(sim::PutFile("E:\\setup.exe", sim::ProgramImage("setup")));
    for (const std::string row : kManifest) {
        ASSERT_TRUE(sim::PutFile("E:\\" + row, MediumContent(row)));
    }
}

std::vector<std::string> PathsBelow(const std::string& root) {
    std::vector<std::string> paths;
    for (const sim::Entry& entry : sim::Snapshot(root)) {
        paths.push_back(entry.path);
    }
    return paths;
}

TEST(Chain, FromTheCdToAnEmptyStagingAreaAndARestart) {
    for (bool windowsNt : {true, false}) {
        for (bool keepsSetupapi : {false, true}) {
            SCOPED_TRACE(testing::Message() << (windowsNt ? "Windows NT" : "Windows 98")
                                            << (keepsSetupapi ? ", Setupapi.dll kept" : ""));
            PrepareMachine(windowsNt, keepsSetupapi);
            std::string winInitBefore;
            ASSERT_FALSE(sim::GetFile("C:\\WINDOWS\\WinInit.ini", &winInitBefore));

            EXPECT_EQ(sim::RunProgram("E:\\setup.exe", "E:\\"), 1);
            EXPECT_EQ(gInstaller.runs, 0) << "setup does not wait for the launcher";
            EXPECT_EQ(sim::RunStartedPrograms(), 1);  // the installer runs inside its wait

            // setup started the launcher, the launcher the installer, each from staging Init.
            const std::vector<sim::ProcessRecord>& processes = sim::Processes();
            ASSERT_EQ(processes.size(), 3u);
            EXPECT_EQ(processes[1].parentId, processes[0].processId);
            EXPECT_EQ(processes[1].commandLine, "\"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_\" E:\\Init");
            EXPECT_EQ(processes[1].currentDirectory, "C:\\WINDOWS\\TEMP\\Init");
            EXPECT_FALSE(processes[1].setupMutexOwnedAtStart);
            EXPECT_EQ(processes[1].exitCode, 1);
            EXPECT_EQ(processes[2].parentId, processes[1].processId);
            EXPECT_EQ(processes[2].commandLine, "\"C:\\WINDOWS\\TEMP\\Init\\_zorp.exe\" E:\\Init");
            EXPECT_EQ(processes[2].currentDirectory, "C:\\WINDOWS\\TEMP\\Init");
            EXPECT_FALSE(processes[2].setupMutexOwnedAtStart);
            EXPECT_EQ(gInstaller.runs, 1);
            EXPECT_EQ(gInstaller.tail, "E:\\Init");
            EXPECT_EQ(gInstaller.currentDirectory, "C:\\WINDOWS\\TEMP\\Init");
            EXPECT_EQ(gInstaller.stagedFiles, 21);
            EXPECT_TRUE(sim::MessageBoxes().empty());
            EXPECT_FALSE(sim::MutexOwned("MutexToProtectSetup"));

            // The 20 listed files are gone; Config, Extra and English are removed; Init
            // holds what is still in use; the TEMP root remains.
            std::vector<std::string> left = {"C:\\WINDOWS\\TEMP\\Init\\"};
            if (keepsSetupapi) {
                left.push_back("C:\\WINDOWS\\TEMP\\Init\\Setupapi.dll");
            }
            left.push_back("C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_");
            EXPECT_EQ(PathsBelow(kStaging), left);
            EXPECT_TRUE(sim::DirectoryExists(kStaging));

            // What is left is scheduled for the next start, and only that.
            std::string winInit;
            bool hasWinInit = sim::GetFile("C:\\WINDOWS\\WinInit.ini", &winInit);
            if (windowsNt) {
                EXPECT_FALSE(hasWinInit);
                std::vector<std::string> pending = {"cfgmgr32.dll", "setupapi.dll", "_zorp.ex_"};
                EXPECT_EQ(sim::PendingDeletions(), pending);
            } else {
                ASSERT_TRUE(hasWinInit);
                std::string expected = "[Rename]\r\n";
                if (keepsSetupapi) {
                    expected += "NUL=C:\\WINDOWS\\TEMP\\Init\\Setupapi.dll\r\n";
                }
                expected += "NUL=C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_\r\n";
                EXPECT_EQ(winInit, expected);
                EXPECT_TRUE(sim::PendingDeletions().empty());
            }

            EXPECT_EQ(sim::Restart(), keepsSetupapi ? 2 : 1);
            EXPECT_EQ(PathsBelow(kStaging), std::vector<std::string>{"C:\\WINDOWS\\TEMP\\Init\\"});
            EXPECT_TRUE(sim::FileExists("E:\\Init\\_zorp.ex_"));  // the medium is untouched
        }
    }
}

// Another user's program at the installer's place in the shared TEMP, held open so that our
// copy cannot replace it: setup stages on the fallback instead, and the installer that runs
// is the one from the CD.
TEST(Chain, APlantedInstallerNeverRuns) {
    PrepareMachine(true, false);
    static int plantedRuns;
    plantedRuns = 0;
    sim::RegisterProgram("planted", [](os::Handle, const char*) { return ++plantedRuns; });
    const std::string planted = std::string(kStaging) + "\\Init\\_zorp.exe";
    ASSERT_TRUE(sim::PutFile(planted, sim::ProgramImage("planted")));
    ASSERT_TRUE(sim::SetOwner(std::string(kStaging) + "\\Init", sim::kAdministratorsSid));
    sim::SetFileInUse(planted, true);

    EXPECT_EQ(sim::RunProgram("E:\\setup.exe", "E:\\"), 1);
    sim::RunStartedPrograms();

    EXPECT_EQ(plantedRuns, 0);
    const std::vector<sim::ProcessRecord>& processes = sim::Processes();
    ASSERT_EQ(processes.size(), 3u);
    EXPECT_EQ(processes[1].commandLine, "\"C:\\TEMP\\Init\\_zorp.ex_\" E:\\Init");
    EXPECT_EQ(processes[2].program, "installer");
    EXPECT_EQ(processes[2].commandLine, "\"C:\\TEMP\\Init\\_zorp.exe\" E:\\Init");
    EXPECT_EQ(gInstaller.runs, 1);
}

}  // namespace
