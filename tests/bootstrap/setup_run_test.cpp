// setup from start to hand-off on the simulated machine: the guard, the colour warning, the
// choice of the staging root, the "COPY ERROR" path, the exact hand-off, and paths at and past
// the 260-character buffers.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "bootstrap/setup_run.h"
#include "common/platform.h"
#include "sim/machine.h"
#include "tests/bootstrap/setup_machine.h"

namespace {

using setup_test::Children;
using setup_test::ExitCode;
using setup_test::gLauncher;
using setup_test::PrepareTypical;
using setup_test::RunSetup;

const char kMutex[] = "MutexToProtectSetup";
const char kGuardText[] = "There is more than one copy of the Quillo Setup program running.";
const char kColorText[] =
    "Your display is currently showing 256 colors or less.\n"
    "Most Plinks work better, and feel nicer, when your display\n"
    "is set to 16-bit (65,000 colors), or 24-bit (16,777,216).\n"
    "We suggest you change this in the Windows Display\n"
    "control panel before using Plinks.";
const char kCopyErrorText[] =
    "Could not copy files to the system directory.  Please make sure you have\n"
    "Administrator access on this computer system.  Also check to make sure there\n"
    "is at least 10MB of free disk space on the system drive.";
constexpr uint64_t kMb = 1ull << 20;

// The staging root that the launcher's command line names, "" when no launcher was started.
std::string LaunchedFrom() {
    std::vector<sim::ProcessRecord> children = Children();
    if (children.empty()) {
        return "";
    }
    const std::string& line = children[0].commandLine;
    const std::string suffix = "\\Init\\_zorp.ex_\"";
    size_t end = line.find(suffix);
    return line.size() > 1 && line[0] == '"' && end != std::string::npos ? line.substr(1, end - 1)
                                                                         : "?" + line;
}

// Runs setup from `source` while the test holds a handle of the mutex, as a stage about to
// wait for it would, and expects the "COPY ERROR" ending; that stage must then own the mutex at
// once, not find it abandoned.
void ExpectCopyError(const std::string& source = "E:\\") {
    os::Handle waitingStage = os::CreateMutexA(nullptr, 0, kMutex);
    ASSERT_NE(waitingStage, nullptr);
    int64_t code = RunSetup(source);

    EXPECT_EQ(ExitCode(code), 0u);
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
    if (!sim::MessageBoxes().empty()) {
        const sim::MessageBoxRecord& box = sim::MessageBoxes()[0];
        EXPECT_EQ(box.text, kCopyErrorText);
        EXPECT_EQ(box.caption, "COPY ERROR");
        EXPECT_EQ(box.type, os::kMbOk);
        EXPECT_FALSE(box.hadOwner);
    }
    EXPECT_TRUE(sim::Progress().dismissed);
    EXPECT_TRUE(Children().empty());
    // Released before the message, which waits for the user as long as the user likes.
    std::vector<std::string> order;
    for (const sim::Call& call : sim::Calls()) {
        if (call.op == "ReleaseMutex" || call.op == "MessageBoxA") {
            order.push_back(call.op);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"ReleaseMutex", "MessageBoxA"}));
    EXPECT_FALSE(sim::MutexAbandoned(kMutex));
    EXPECT_EQ(os::WaitForSingleObject(waitingStage, 0), os::kWaitObject0);
    os::ReleaseMutex(waitingStage);
    os::CloseHandle(waitingStage);
    EXPECT_EQ(sim::OpenMutexHandles(kMutex), 0);
}

TEST(SetupRun, HandsOffToTheStagedLauncherExactly) {
    PrepareTypical();
    int64_t code = RunSetup();
    EXPECT_EQ(code, 1);
    ASSERT_EQ(Children().size(), 1u);
    const sim::ProcessRecord launcher = Children()[0];
    EXPECT_EQ(launcher.commandLine, "\"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_\" E:\\Init");
    EXPECT_EQ(launcher.currentDirectory, "C:\\WINDOWS\\TEMP\\Init");
    EXPECT_FALSE(launcher.hasApplicationName);
    EXPECT_FALSE(launcher.inheritHandles);
    EXPECT_EQ(launcher.creationFlags, 0u);
    EXPECT_TRUE(launcher.inheritedEnvironment);
    EXPECT_EQ(launcher.startupInfoSize, 68u);
    EXPECT_TRUE(launcher.started);
    EXPECT_FALSE(launcher.setupMutexOwnedAtStart);
    // The stand-in is the staged copy, run with the source Init directory as its tail.
    EXPECT_EQ(gLauncher.runs, 1);
    EXPECT_EQ(gLauncher.tail, "E:\\Init");
    EXPECT_EQ(gLauncher.currentDirectory, "C:\\WINDOWS\\TEMP\\Init");

    const sim::ProgressRecord& progress = sim::Progress();
    EXPECT_TRUE(progress.dialogCreated);
    EXPECT_EQ(progress.dialogId, 103u);
    EXPECT_TRUE(progress.commonControlsReady);
    EXPECT_EQ(progress.rangeLow, 0);
    EXPECT_EQ(progress.rangeHigh, 21);
    EXPECT_EQ(progress.step, 1);
    EXPECT_EQ(progress.stepCount, 21);
    EXPECT_EQ(progress.position, 21);
    EXPECT_TRUE(progress.dismissed);
    EXPECT_EQ(progress.paints, 1);
    EXPECT_FALSE(sim::WaitCursorShowing());
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_FALSE(sim::MutexOwned(kMutex));
    EXPECT_EQ(sim::OpenMutexHandles(kMutex), 0);
    EXPECT_EQ(sim::LiveHeapBlocks(), 0) << "the drive table goes with the process";
}

TEST(SetupRun, HandOffReleasesDismissesRestoresThenStarts) {
    PrepareTypical();
    ASSERT_EQ(RunSetup(), 1);
    uint32_t setupId = sim::Processes()[0].processId;
    std::vector<std::string> tail;  // setup's calls from the mutex release on
    for (const sim::Call& call : sim::Calls()) {
        if (call.processId != setupId) {
            continue;
        }
        if (call.op == "ReleaseMutex") {
            tail.clear();
        }
        if (call.op == "ReleaseMutex" || call.op == "CloseHandle" || call.op == "EndDialog" ||
            call.op == "SetCursor" || call.op == "CreateProcessA") {
            tail.push_back(call.op);
        }
    }
    // The staging root and its four directories stay held until the launcher has started.
    std::vector<std::string> expected = {"ReleaseMutex", "CloseHandle", "EndDialog", "SetCursor",
                                         "CreateProcessA"};
    expected.insert(expected.end(), 5, "CloseHandle");
    EXPECT_EQ(tail, expected);

    // A launcher that cannot be started ends setup quietly with 0.
    PrepareTypical();
    sim::FaultRule rule;
    rule.op = "CreateProcessA";
    sim::AddFault(rule);
    EXPECT_EQ(RunSetup(), 0);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_FALSE(sim::MutexOwned(kMutex));
}

TEST(SetupRun, TheGuardRefusesASecondStageBeforeAnythingElse) {
    PrepareTypical();
    sim::HoldMutex(kMutex);
    sim::SetDisplay(8, 1);  // would warn, but the guard comes first
    int64_t code = RunSetup();
    EXPECT_EQ(ExitCode(code), 0x80004005u);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    const sim::MessageBoxRecord& box = sim::MessageBoxes()[0];
    EXPECT_EQ(box.text, kGuardText);
    EXPECT_EQ(box.caption, "ERROR");
    EXPECT_EQ(box.type, os::kMbIconError);
    EXPECT_FALSE(box.hadOwner);
    EXPECT_FALSE(sim::Progress().dialogCreated);
    EXPECT_TRUE(Children().empty());
    EXPECT_FALSE(sim::FileExists("C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_"));
    sim::ReleaseHeldMutex(kMutex);
}

TEST(SetupRun, AnAbandonedMutexIsRefusedButLeftFree) {
    PrepareTypical();
    sim::HoldMutex(kMutex);
    sim::AbandonHeldMutex(kMutex);

    EXPECT_EQ(ExitCode(RunSetup()), 0x80004005u);
    EXPECT_FALSE(sim::MutexOwned(kMutex));
    EXPECT_FALSE(sim::MutexAbandoned(kMutex)) << "the refusing guard gives it back";
    EXPECT_EQ(RunSetup(), 1) << "the next setup runs";
    sim::ReleaseHeldMutex(kMutex);
}

TEST(SetupRun, WarnsAboutLowColourDepthAndGoesOn) {
    struct Case {
        int bitsPerPixel;
        int planes;
        bool deviceContext;
        bool warns;
    } cases[] = {
        {8, 1, true, true},    // 256 colours
        {15, 1, true, true},   //
        {16, 1, true, false},  //
        {32, 1, true, false},  //
        {16, 2, true, true},   // 16 / 2 = 8
        {32, 0, true, false},  // no planes: judged by bits per pixel alone
        {8, 0, true, true},    //
        {32, 1, false, true},  // no desktop device context
    };
    for (const Case& c : cases) {
        PrepareTypical();
        sim::SetDisplay(c.bitsPerPixel, c.planes, c.deviceContext);
        EXPECT_EQ(RunSetup(), 1) << c.bitsPerPixel << "/" << c.planes;
        ASSERT_EQ(sim::MessageBoxes().size(), c.warns ? 1u : 0u)
            << c.bitsPerPixel << "/" << c.planes;
        if (c.warns) {
            const sim::MessageBoxRecord& box = sim::MessageBoxes()[0];
            EXPECT_EQ(box.text, kColorText);
            EXPECT_EQ(box.caption, "Warning");
            EXPECT_EQ(box.type, os::kMbOk);
            EXPECT_FALSE(box.hadOwner);
        }
        // Asked directly, the answer is the same and the desktop's context is given back.
        EXPECT_EQ(HasEnoughColors(), !c.warns);
        EXPECT_EQ(sim::OpenDeviceContexts(), 0);
    }
}

TEST(SetupRun, StagesUnderWindowsOnlyWithMoreThanTenMegabytesFree) {
    struct Case {
        uint32_t cFreeMb;
        bool queryFails;
        const char* root;
    } cases[] = {
        {10, false, "D:\\TEMP"},           // 10 is not enough: the best fixed drive
        {11, false, "C:\\WINDOWS\\TEMP"},  //
        {500, true, "C:\\WINDOWS\\TEMP"},  // unknown counts as enough
    };
    for (const Case& c : cases) {
        PrepareTypical(c.cFreeMb);
        sim::AddDrive("D:\\", os::kDriveFixed, 700 * kMb);
        sim::SetFreeSpaceQueryFails("C:\\", c.queryFails);
        EXPECT_EQ(RunSetup(), 1) << c.cFreeMb;
        EXPECT_EQ(LaunchedFrom(), c.root) << c.cFreeMb;
        EXPECT_TRUE(sim::FileExists(std::string(c.root) + "\\Init\\_zorp.ex_")) << c.root;
        EXPECT_EQ(sim::Progress().stepCount, 21);
    }
}

TEST(SetupRun, AFailedFirstAttemptCopiesAgainOnTheBestFixedDrive) {
    for (bool windowsNt : {false, true}) {
        PrepareTypical();
        sim::SetPlatform(windowsNt ? os::kPlatformNt : os::kPlatformWindows);
        sim::AddDrive("D:\\", os::kDriveFixed, 700 * kMb);
        sim::SetWindowsDirectory("C:\\NOWIN");
        sim::FaultRule rule;  // its TEMP cannot be created
        rule.op = "CreateDirectoryA";
        rule.path = "C:\\NOWIN\\TEMP";
        rule.error = os::kErrorAccessDenied;
        rule.once = false;
        sim::AddFault(rule);

        EXPECT_EQ(RunSetup(), 1);
        EXPECT_EQ(LaunchedFrom(), "D:\\TEMP");
        // On 95/98 the copy into the first root was still attempted: the bar was stepped twice
        // over. NT's shell would make that root with whatever its parent hands down, and setup
        // keeps out of a directory it did not make private.
        EXPECT_EQ(sim::Progress().stepCount, windowsNt ? 21 : 42);
        EXPECT_EQ(sim::DirectoryExists("C:\\NOWIN\\TEMP"), !windowsNt);
        EXPECT_TRUE(sim::FileExists("D:\\TEMP\\Extra\\dx6eng.exe"));
    }
}

// Someone else's program left at the launcher's place in a shared TEMP, which our copy cannot
// replace: setup stages again on the best fixed drive and never starts that file.
TEST(SetupRun, ALauncherThatCouldNotBeCopiedIsNeverStarted) {
    struct Case {
        uint64_t dFreeMb;  // 0: no drive D:
        const char* launchedFrom;
    } cases[] = {
        {700, "D:\\TEMP"},  // D: has the most room
        {0, "C:\\TEMP"},    // C: itself is the best fixed drive
    };
    for (const Case& c : cases) {
        PrepareTypical();
        if (c.dFreeMb != 0) {
            sim::AddDrive("D:\\", os::kDriveFixed, c.dFreeMb * kMb);
        }
        sim::RegisterProgram("planted", [](os::Handle, const char*) { return 99; });
        sim::MakeStagingDirectory("C:\\WINDOWS\\TEMP\\Init");
        sim::PutFile("C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_", sim::ProgramImage("planted"));
        sim::FaultRule rule;  // the file cannot be overwritten
        rule.op = "SHFileOperationA";
        rule.path = "C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_";
        rule.once = false;
        sim::AddFault(rule);

        EXPECT_EQ(RunSetup(), 1) << c.dFreeMb;
        EXPECT_EQ(LaunchedFrom(), c.launchedFrom) << c.dFreeMb;
        EXPECT_EQ(sim::Progress().stepCount, 42) << "both attempts copied";
        for (const sim::ProcessRecord& p : sim::Processes()) {
            EXPECT_EQ(p.commandLine.find("WINDOWS\\TEMP"), std::string::npos) << p.commandLine;
        }
    }
}

// On Windows NT every user may make directories and files in TEMP. A staging directory that
// setup did not make itself is used only when it is no link, its owner is trusted, and its
// entries keep others from adding, changing or removing anything; another user's, one that
// lets others in, or one whose owner cannot be read, sends the run to the fallback. A file at
// a row's place is deleted before the copy, whoever's it is. Windows 95/98 and volumes without
// owners have nothing to check.
TEST(SetupRun, StagingPlacesOfOtherUsersAreNeverUsed) {
    const char kInit[] = "C:\\WINDOWS\\TEMP\\Init";
    const char kLibrary[] = "C:\\WINDOWS\\TEMP\\Init\\Lexor2.dll";  // made as a file
    enum Made { kPrivate, kInherited, kLink };
    struct Case {
        const char* comment;
        const char* path;  // made before setup runs, with this owner
        const char* owner;
        Made made;  // a directory's entries, or how Init is made for a file
        bool windowsNt;
        bool volumeKeepsOwners;
        bool ownerUnreadable;
        const char* launchedFrom;
    } cases[] = {
        {"Init of another user", kInit, sim::kOtherUserSid, kPrivate, true, true, false,
         "C:\\TEMP"},
        {"TEMP itself of another user", "C:\\WINDOWS\\TEMP", sim::kOtherUserSid, kPrivate, true,
         true, false, "C:\\TEMP"},
        {"English of another user", "C:\\WINDOWS\\TEMP\\English", sim::kOtherUserSid, kPrivate,
         true, true, false, "C:\\TEMP"},
        {"Init that lets Users add, as TEMP hands down", kInit, sim::kAdministratorsSid, kInherited,
         true, true, false, "C:\\TEMP"},
        {"Init that is a link", kInit, sim::kAdministratorsSid, kLink, true, true, false,
         "C:\\TEMP"},
        {"a file of another user, deleted first", kLibrary, sim::kOtherUserSid, kPrivate, true,
         true, false, "C:\\WINDOWS\\TEMP"},
        {"an owner that cannot be read", kInit, sim::kAdministratorsSid, kPrivate, true, true, true,
         "C:\\TEMP"},
        {"Init of Administrators", kInit, sim::kAdministratorsSid, kPrivate, true, true, false,
         "C:\\WINDOWS\\TEMP"},
        {"Init of SYSTEM", kInit, sim::kSystemSid, kPrivate, true, true, false,
         "C:\\WINDOWS\\TEMP"},
        {"Init of TrustedInstaller", kInit, sim::kTrustedInstallerSid, kPrivate, true, true, false,
         "C:\\WINDOWS\\TEMP"},
        {"Windows 98: no owners", kInit, sim::kOtherUserSid, kInherited, false, true, false,
         "C:\\WINDOWS\\TEMP"},
        {"a volume without owners", kInit, sim::kOtherUserSid, kInherited, true, false, false,
         "C:\\WINDOWS\\TEMP"},
    };
    for (const Case& c : cases) {
        PrepareTypical();
        sim::SetPlatform(c.windowsNt ? os::kPlatformNt : os::kPlatformWindows);
        sim::SetDriveKeepsOwners("C:\\", c.volumeKeepsOwners);
        bool file = c.path == kLibrary;
        if (c.made == kLink) {
            ASSERT_TRUE(sim::MakeDirectories("C:\\ELSEWHERE"));
            ASSERT_TRUE(sim::MakeDirectoryLink(c.path, "C:\\ELSEWHERE"));
        } else if (c.made == kPrivate && !(file || c.path == std::string("C:\\WINDOWS\\TEMP"))) {
            ASSERT_TRUE(sim::MakeStagingDirectory(c.path));
        } else if (c.made == kPrivate && file) {
            ASSERT_TRUE(sim::MakeStagingDirectory(kInit));
        }
        ASSERT_TRUE(file ? sim::PutFile(c.path, "another library") : sim::MakeDirectories(c.path));
        ASSERT_TRUE(sim::SetOwner(c.path, c.owner));
        if (c.ownerUnreadable) {
            sim::FaultRule rule;
            rule.op = "GetFileSecurityA";
            rule.path = c.path;
            rule.once = false;
            sim::AddFault(rule);
        }
        EXPECT_EQ(RunSetup(), 1) << c.comment;
        EXPECT_EQ(LaunchedFrom(), c.launchedFrom) << c.comment;
        // Nothing was copied into a refused root, and nothing through the link.
        EXPECT_EQ(sim::Progress().stepCount, 21) << c.comment;
        EXPECT_TRUE(sim::Snapshot("C:\\ELSEWHERE").empty()) << c.comment;
        if (file) {
            EXPECT_EQ(sim::Owner(c.path), sim::kInstallingUserSid) << c.comment;
        }
    }
}

// Setup holds the staging root from its check until the launcher has started, so nobody can
// rename or replace it in between. On NT 4.0 everyone may rename TEMP under the Windows
// directory: once setup has ended, the rights alone decide.
TEST(SetupRun, HoldsTheStagingRootUntilTheLauncherHasStarted) {
    PrepareTypical();
    sim::SetNtDefaults(sim::NtDefaults::kNt4);
    bool renamedDuringSetup = true;
    sim::BeforeCall("CreateProcessA", "", 1, [&] {
        renamedDuringSetup = sim::OtherUserMoves("C:\\WINDOWS\\TEMP", "C:\\WINDOWS\\TEMP.old");
    });
    EXPECT_EQ(RunSetup(), 1);
    EXPECT_EQ(LaunchedFrom(), "C:\\WINDOWS\\TEMP");
    EXPECT_FALSE(renamedDuringSetup);
    EXPECT_TRUE(sim::OtherUserMoves("C:\\WINDOWS\\TEMP", "C:\\WINDOWS\\TEMP.old"));
}

TEST(SetupRun, NoFixedDriveWithRoomEndsInCopyErrorOnReadOnlyMedia) {
    PrepareTypical(0);  // C: full: no best fixed drive, so "\TEMP" on the CD
    ExpectCopyError();
    EXPECT_FALSE(sim::DirectoryExists("E:\\TEMP"));
    EXPECT_EQ(RunSetup("E:\\"), 0) << "a second run is not refused by the first one's mutex";
    EXPECT_EQ(sim::MessageBoxes().back().caption, "COPY ERROR");
}

TEST(SetupRun, AnUnreadableCurrentDirectoryEndsInCopyError) {
    PrepareTypical();
    sim::FaultRule rule;
    rule.op = "GetCurrentDirectoryA";
    sim::AddFault(rule);
    ExpectCopyError();
}

TEST(SetupRun, AMissingMediumFileStillStepsTheBarToTheTop) {
    PrepareTypical(500, "Init\\Journal.ini");
    EXPECT_EQ(RunSetup(), 1);
    EXPECT_EQ(sim::Progress().stepCount, 21);
    EXPECT_EQ(sim::Progress().position, 21);
    int staged = 0;
    for (const char* row : setup_test::kRows) {
        staged += sim::FileExists(std::string("C:\\WINDOWS\\TEMP\\") + row) ? 1 : 0;
    }
    EXPECT_EQ(staged, 20);
    EXPECT_FALSE(sim::FileExists("C:\\WINDOWS\\TEMP\\Init\\Journal.ini"));
    // The shell said so itself, with its own unowned box.
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "Error Copying File or Folder");
    EXPECT_FALSE(sim::MessageBoxes()[0].hadOwner);
}

// The program path is quoted, the tail is not: blanks on either side reach the launcher whole.
TEST(SetupRun, BlanksAndRootsInTheDirectoriesReachTheLauncherWhole) {
    struct Case {
        const char* windowsDirectory;
        const char* source;
        const char* commandLine;
        const char* tail;
    } cases[] = {
        {"C:\\MY WINDOWS", "E:\\", "\"C:\\MY WINDOWS\\TEMP\\Init\\_zorp.ex_\" E:\\Init",
         "E:\\Init"},
        {"C:\\WINDOWS", "E:\\QUILLO CD",
         "\"C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_\" E:\\QUILLO CD\\Init", "E:\\QUILLO CD\\Init"},
        {"C:\\", "E:\\", "\"C:\\TEMP\\Init\\_zorp.ex_\" E:\\Init", "E:\\Init"},  // root: one '\'
    };
    for (const Case& c : cases) {
        PrepareTypical();
        sim::SetWindowsDirectory(c.windowsDirectory);
        setup_test::PutMedium(c.source);
        EXPECT_EQ(RunSetup(c.source), 1) << c.commandLine;
        ASSERT_EQ(Children().size(), 1u);
        EXPECT_EQ(Children()[0].commandLine, c.commandLine);
        EXPECT_EQ(gLauncher.tail, c.tail);
    }
}

// Windows directories near the limits. Staging under one needs its TEMP, every manifest path
// below that, and the launcher's command line to fit their buffers; otherwise the fallback
// (C:\TEMP) takes over. 229 is the longest that fits with source E:.
TEST(SetupRun, LongWindowsDirectoriesFallBackCleanly) {
    for (size_t length :
         {229u, 230u, 234u, 235u, 236u, 237u, 238u, 239u, 240u, 258u, 259u, 260u, 261u, 262u}) {
        PrepareTypical();
        std::string windows = setup_test::PathOfLength("C:\\", length);
        sim::SetWindowsDirectory(windows);
        EXPECT_EQ(RunSetup(), 1) << length;
        EXPECT_EQ(LaunchedFrom(), length <= 229 ? windows + "\\TEMP" : "C:\\TEMP") << length;
        EXPECT_EQ(gLauncher.runs, 1) << length;
    }
}

// Current directories near the limits: the source path must fit every manifest row and the
// launcher's tail; 221 fits under C:\WINDOWS\TEMP, 229 only under the shorter C:\TEMP, and
// longer ones cannot be handed off at all. (No process starts from a directory of 260
// characters or more; an unreadable current directory is covered by a failing query above.)
TEST(SetupRun, LongCurrentDirectoriesEitherFitOrEndInCopyError) {
    for (size_t length : {221u, 222u, 229u, 230u, 236u, 237u, 238u, 239u, 240u, 258u, 259u}) {
        PrepareTypical();
        std::string source = setup_test::PathOfLength("E:\\", length);
        setup_test::PutMedium(source);
        if (length <= 229) {
            EXPECT_EQ(RunSetup(source), 1) << length;
            EXPECT_EQ(LaunchedFrom(), length <= 221 ? "C:\\WINDOWS\\TEMP" : "C:\\TEMP") << length;
            EXPECT_EQ(gLauncher.tail, source + "\\Init") << length;
        } else {
            SCOPED_TRACE(length);
            ExpectCopyError(source);
        }
    }
}

}  // namespace
