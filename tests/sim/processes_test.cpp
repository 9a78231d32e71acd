// Simulated processes and named mutexes: nested runs, program lookup, ownership and
// abandonment, handles closed at a process's end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform.h"
#include "sim/machine.h"

namespace {

const char kMutex[] = "MutexToProtectSetup";

// What each stage of a nested run saw.
struct Seen {
    std::string tail;
    std::string directory;
    os::Dword waitOnChild = 0xFFFF;
};
std::vector<Seen> gSeen;

std::string CurrentDirectory() {
    char buffer[300] = "";
    os::GetCurrentDirectoryA(sizeof buffer, buffer);
    return buffer;
}

int Start(const std::string& line, const char* directory, os::ProcessInformation* info) {
    std::vector<char> writable(line.begin(), line.end());
    writable.push_back('\0');
    os::StartupInfo startup = {};
    startup.cb = sizeof startup;
    return os::CreateProcessA(nullptr, writable.data(), nullptr, nullptr, 0, 0, nullptr, directory,
                              &startup, info);
}

int Installer(os::Handle, const char* tail) {
    gSeen.push_back({tail, CurrentDirectory()});
    return 7;
}

int Launcher(os::Handle, const char* tail) {
    size_t mine = gSeen.size();
    gSeen.push_back({tail, CurrentDirectory()});
    os::ProcessInformation info = {};
    if (!Start("C:\\STAGE\\Init\\_zorp.exe E:\\Init", nullptr, &info)) {
        return 0;
    }
    gSeen[mine].waitOnChild = os::WaitForSingleObject(info.process, os::kInfinite);
    return 1;
}

int SetupStage(os::Handle, const char* tail) {
    gSeen.push_back({tail, CurrentDirectory()});
    os::ProcessInformation info = {};
    return Start("\"C:\\STAGE\\Init\\_zorp.ex_\" E:\\Init", "C:\\STAGE\\Init", &info) ? 1 : 0;
}

// Creates the mutex, owns it and ends without releasing it.
int Abandoner(os::Handle, const char*) {
    os::Handle mutex = os::CreateMutexA(nullptr, 0, kMutex);
    return os::WaitForSingleObject(mutex, 0) == os::kWaitObject0 ? 0 : 1;
}

// Waits for the mutex as a second stage would; returns the wait's result.
int Waiter(os::Handle, const char*) {
    os::Handle mutex = os::CreateMutexA(nullptr, 0, kMutex);
    return static_cast<int>(os::WaitForSingleObject(mutex, 5000));
}

class Processes : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::ResetTypical();
        gSeen.clear();
        sim::RegisterProgram("setup", SetupStage);
        sim::RegisterProgram("launcher", Launcher);
        sim::RegisterProgram("installer", Installer);
        sim::RegisterProgram("abandoner", Abandoner);
        sim::RegisterProgram("waiter", Waiter);
        sim::PutFile("E:\\SETUP.EXE", sim::ProgramImage("setup"));
        sim::PutFile("C:\\STAGE\\Init\\_zorp.ex_", sim::ProgramImage("launcher"));
        sim::PutFile("C:\\STAGE\\Init\\_zorp.exe", sim::ProgramImage("installer"));
        sim::PutFile("C:\\ABANDON.EXE", sim::ProgramImage("abandoner"));
        sim::PutFile("C:\\WAIT.EXE", sim::ProgramImage("waiter"));
    }
};

TEST_F(Processes, NestedRunsSeeTheirTailsAndDirectories) {
    EXPECT_EQ(sim::RunProgram("E:\\SETUP.EXE /x", "E:\\"), 1);
    // setup did not wait: its child has not run yet, until the test lets it.
    EXPECT_EQ(gSeen.size(), 1u);
    EXPECT_FALSE(sim::Processes().back().finished);
    EXPECT_EQ(sim::RunStartedPrograms(), 1);  // the installer runs inside its wait
    ASSERT_EQ(gSeen.size(), 3u);
    EXPECT_EQ(gSeen[0].tail, "/x");
    EXPECT_EQ(gSeen[0].directory, "E:\\");
    EXPECT_EQ(gSeen[1].tail, "E:\\Init");
    EXPECT_EQ(gSeen[1].directory, "C:\\STAGE\\Init");
    EXPECT_EQ(gSeen[1].waitOnChild, os::kWaitObject0) << "the ended child is signalled";
    EXPECT_EQ(gSeen[2].directory, "C:\\STAGE\\Init") << "inherited from the launcher";

    const std::vector<sim::ProcessRecord>& records = sim::Processes();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].parentId, 0u);
    EXPECT_EQ(records[1].parentId, records[0].processId);
    EXPECT_EQ(records[2].parentId, records[1].processId);
    EXPECT_EQ(records[1].commandLine, "\"C:\\STAGE\\Init\\_zorp.ex_\" E:\\Init");
    EXPECT_EQ(records[1].currentDirectory, "C:\\STAGE\\Init");
    EXPECT_EQ(records[2].currentDirectory, "");
    EXPECT_EQ(records[1].startupInfoSize, 68u);
    EXPECT_TRUE(records[1].inheritedEnvironment);
    EXPECT_FALSE(records[1].hasApplicationName);
    for (const sim::ProcessRecord& record : records) {
        EXPECT_TRUE(record.started);
        EXPECT_TRUE(record.finished);
    }
    EXPECT_EQ(records[2].exitCode, 7);
    // Each process's handles went with it.
    for (const sim::ProcessRecord& record : records) {
        EXPECT_EQ(sim::OpenHandles(record.processId), 0);
    }
}

TEST_F(Processes, ProgramsAreFoundTheWayCreateProcessFindsThem) {
    sim::PutFile("C:\\My Dir\\Tool.exe", sim::ProgramImage("installer"));
    sim::PutFile("C:\\WINDOWS\\SYSTEM\\sys.exe", sim::ProgramImage("installer"));
    sim::PutFile("C:\\STAGE\\Init\\plain", sim::ProgramImage("installer"));
    sim::PutFile("C:\\STAGE\\Init\\Arrows.dll", "not a program");
    sim::SetCurrentDirectory("C:\\STAGE\\Init");
    struct Row {
        const char* line;
        const char* directory;
        bool ok;
        os::Dword error;
        const char* tail;
    } rows[] = {
        {"\"C:\\My Dir\\Tool.exe\" a b", nullptr, true, 0, "a b"},            // quoted
        {"C:\\My Dir\\Tool.exe a b", nullptr, true, 0, "Dir\\Tool.exe a b"},  // tried at blanks
        {"C:\\My Dir\\Tool a", nullptr, true, 0, "Dir\\Tool a"},              // .exe appended
        {"_zorp.exe x", nullptr, true, 0, "x"},                               // current directory
        {"sys", nullptr, true, 0, ""},                                        // system directory
        {"plain", nullptr, true, 0, ""},                                      // as is, no extension
        {"..\\Init\\_zorp.exe", nullptr, true, 0, ""},                        // relative path
        {"C:\\NOPE.EXE", nullptr, false, 2, nullptr},                         // missing
        {"C:\\NODIR\\X.EXE", nullptr, false, 3, nullptr},                     // directory missing
        {"Arrows.dll", nullptr, false, 193, nullptr},                         // not a program
        {"_zorp.exe", "C:\\NODIR", false, 267, nullptr},                      // no such directory
    };
    for (const Row& row : rows) {
        gSeen.clear();
        os::ProcessInformation info = {};
        os::SetLastError(0);
        EXPECT_EQ(Start(row.line, row.directory, &info) != 0, row.ok) << row.line;
        if (row.ok) {
            EXPECT_EQ(os::WaitForSingleObject(info.process, os::kInfinite), os::kWaitObject0);
            ASSERT_EQ(gSeen.size(), 1u) << row.line;
            EXPECT_EQ(gSeen[0].tail, row.tail) << row.line;
            EXPECT_TRUE(os::CloseHandle(info.process));
            EXPECT_TRUE(os::CloseHandle(info.thread));
        } else {
            EXPECT_EQ(os::GetLastError(), row.error) << row.line;
            EXPECT_TRUE(gSeen.empty()) << row.line;
            EXPECT_FALSE(sim::Processes().back().started) << row.line;
        }
    }
    EXPECT_EQ(sim::RunProgram("C:\\NOPE.EXE", "C:\\"), -1);
}

TEST_F(Processes, TheRecordTellsWhetherTheMutexWasOwnedAtStart) {
    os::Handle mutex = os::CreateMutexA(nullptr, 1, kMutex);
    os::ProcessInformation info = {};
    ASSERT_TRUE(Start("C:\\STAGE\\Init\\_zorp.exe", nullptr, &info));
    EXPECT_TRUE(sim::Processes().back().setupMutexOwnedAtStart);
    EXPECT_TRUE(os::ReleaseMutex(mutex));
    ASSERT_TRUE(Start("C:\\STAGE\\Init\\_zorp.exe", nullptr, &info));
    EXPECT_FALSE(sim::Processes().back().setupMutexOwnedAtStart);
    EXPECT_TRUE(os::CloseHandle(mutex));
}

TEST_F(Processes, MutexOwnershipBelongsToOneProcess) {
    os::Handle mine = os::CreateMutexA(nullptr, 0, kMutex);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(os::GetLastError(), 0u);
    EXPECT_EQ(os::WaitForSingleObject(mine, 0), os::kWaitObject0);
    EXPECT_EQ(os::WaitForSingleObject(mine, 0), os::kWaitObject0) << "recursive";
    // Another process times out at once, and its end closes its handle.
    EXPECT_EQ(sim::RunProgram("C:\\WAIT.EXE", "C:\\"), static_cast<int>(os::kWaitTimeout));
    EXPECT_EQ(sim::OpenMutexHandles(kMutex), 1);
    // A second handle of the same process opens the same mutex.
    os::Handle second = os::CreateMutexA(nullptr, 1, kMutex);
    EXPECT_EQ(os::GetLastError(), 183u);
    EXPECT_EQ(sim::OpenMutexHandles(kMutex), 2);
    EXPECT_TRUE(os::ReleaseMutex(second));
    EXPECT_TRUE(sim::MutexOwned(kMutex)) << "owned twice, released once";
    EXPECT_TRUE(os::ReleaseMutex(mine));
    EXPECT_FALSE(sim::MutexOwned(kMutex));
    EXPECT_FALSE(os::ReleaseMutex(mine));
    EXPECT_EQ(os::GetLastError(), 288u) << "ERROR_NOT_OWNER";
    EXPECT_TRUE(os::CloseHandle(mine));
    EXPECT_TRUE(os::CloseHandle(second));
    EXPECT_EQ(sim::OpenMutexHandles(kMutex), 0);
}

TEST_F(Processes, AReleaseByAnotherProcessFails) {
    sim::HoldMutex(kMutex);
    os::Handle mutex = os::CreateMutexA(nullptr, 0, kMutex);
    EXPECT_FALSE(os::ReleaseMutex(mutex));
    EXPECT_EQ(os::GetLastError(), 288u);
    EXPECT_EQ(os::WaitForSingleObject(mutex, os::kInfinite), os::kWaitTimeout);
    EXPECT_EQ(sim::HungWaits(), 1) << "a real machine would hang here";
    sim::ReleaseHeldMutex(kMutex);
    EXPECT_EQ(os::WaitForSingleObject(mutex, 5000), os::kWaitObject0);
    os::CloseHandle(mutex);
}

TEST_F(Processes, AnOwnerThatEndsAbandonsTheMutexWhileAHandleKeepsIt) {
    // With no other handle, the object goes with the owner's process.
    EXPECT_EQ(sim::RunProgram("C:\\ABANDON.EXE", "C:\\"), 0);
    EXPECT_FALSE(sim::MutexAbandoned(kMutex));
    EXPECT_EQ(sim::OpenMutexHandles(kMutex), 0);

    os::Handle kept = os::CreateMutexA(nullptr, 0, kMutex);
    EXPECT_EQ(sim::RunProgram("C:\\ABANDON.EXE", "C:\\"), 0);
    EXPECT_TRUE(sim::MutexAbandoned(kMutex));
    EXPECT_FALSE(sim::MutexOwned(kMutex));
    // The next waiter is told, and becomes the owner.
    EXPECT_EQ(sim::RunProgram("C:\\WAIT.EXE", "C:\\"), static_cast<int>(os::kWaitAbandoned));
    EXPECT_TRUE(sim::MutexAbandoned(kMutex)) << "the waiter ended owning it in its turn";
    EXPECT_EQ(os::WaitForSingleObject(kept, 0), os::kWaitAbandoned);
    EXPECT_TRUE(os::ReleaseMutex(kept));
    EXPECT_FALSE(sim::MutexAbandoned(kMutex));
    os::CloseHandle(kept);
}

TEST_F(Processes, HandlesAreFakeAndCheckedPerProcess) {
    EXPECT_FALSE(os::CloseHandle(reinterpret_cast<os::Handle>(0x1234)));
    EXPECT_EQ(os::GetLastError(), 6u);
    EXPECT_EQ(os::WaitForSingleObject(nullptr, 0), os::kWaitFailed);
    EXPECT_EQ(os::GetLastError(), 6u);
    EXPECT_FALSE(os::ReleaseMutex(os::InvalidHandle()));
    EXPECT_EQ(os::GetLastError(), 6u);
}

TEST_F(Processes, LastErrorsArePerProcess) {
    os::SetLastError(42);
    EXPECT_EQ(sim::RunProgram("C:\\WAIT.EXE", "C:\\"), 0);  // sets its own last error
    EXPECT_EQ(os::GetLastError(), 42u);
}

}  // namespace
