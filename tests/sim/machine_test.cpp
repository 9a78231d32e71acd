// The rest of the simulated machine: drives and free space, version, display, the progress
// dialog, restart-time deletion, the call log and fault injection.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/platform.h"
#include "sim/machine.h"

namespace {

const uint64_t kMb = 1ull << 20;

class Machine : public ::testing::Test {
  protected:
    void SetUp() override { sim::ResetTypical(); }
};

TEST_F(Machine, DriveStringsListRootsInOrderAndRefuseSmallBuffers) {
    sim::AddDrive("a:\\", os::kDriveRemovable, 0);
    const std::string list("C:\\\0E:\\\0A:\\\0\0", 13);
    struct Row {
        os::Dword size;
        os::Dword result;
        bool written;
    } rows[] = {
        {11, 13, false},  // one short of the final NUL
        {12, 13, false},  //
        {13, 12, true},   // exact: the count leaves the final NUL out
        {14, 12, true},   //
    };
    for (const Row& row : rows) {
        char buffer[32];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(os::GetLogicalDriveStringsA(row.size, buffer), row.result) << row.size;
        if (row.written) {
            EXPECT_EQ(std::string(buffer, 13), list);
        } else {
            EXPECT_EQ(buffer[0], '#') << row.size;
        }
    }
    // An odd list is reported byte for byte.
    sim::SetDriveStringsOverride(std::string("c:\\\0", 4));
    char buffer[32];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(os::GetLogicalDriveStringsA(sizeof buffer, buffer), 3u);
    EXPECT_EQ(std::string(buffer, 5), std::string("c:\\\0#", 5));
    sim::SetDriveStringsOverride("");
    EXPECT_EQ(os::GetLogicalDriveStringsA(sizeof buffer, buffer), 0u);
    sim::ClearDriveStringsOverride();
    EXPECT_EQ(os::GetLogicalDriveStringsA(sizeof buffer, buffer), 12u);
}

TEST_F(Machine, DriveTypesAndFreeSpace) {
    sim::AddDrive("D:\\", os::kDriveFixed, 6144 * kMb);  // 6 GiB
    sim::AddDrive("F:\\", os::kDriveFixed, 100 * kMb);
    sim::SetFreeSpaceQueryFails("F:\\", true);
    struct Row {
        const char* root;
        unsigned type;
        bool ok;
        uint64_t freeMb;
        os::Dword error;
    } rows[] = {
        {"C:\\", os::kDriveFixed, true, 500, 0},
        {"c:\\", os::kDriveFixed, true, 500, 0},   // any case
        {"D:\\", os::kDriveFixed, true, 6144, 0},  // beyond 4 GiB
        {"E:\\", os::kDriveCdrom, true, 0, 0},
        {"F:\\", os::kDriveFixed, false, 0, 21},     // query fails: not ready
        {"Q:\\", os::kDriveNoRootDir, false, 0, 3},  // no such drive
        {"C:", os::kDriveNoRootDir, false, 0, 123},  // not a root
    };
    for (const Row& row : rows) {
        EXPECT_EQ(os::GetDriveTypeA(row.root), row.type) << row.root;
        os::Dword sectors = 0, bytes = 0, freeClusters = 0, total = 0;
        os::SetLastError(0);
        EXPECT_EQ(os::GetDiskFreeSpaceA(row.root, &sectors, &bytes, &freeClusters, &total) != 0,
                  row.ok)
            << row.root;
        EXPECT_EQ(os::GetLastError(), row.error) << row.root;
        if (row.ok) {
            uint64_t freeBytes = static_cast<uint64_t>(sectors) * bytes * freeClusters;
            EXPECT_EQ(freeBytes >> 20, row.freeMb) << row.root;
            EXPECT_GE(total, freeClusters) << row.root;
        }
    }
}

TEST_F(Machine, VersionQueryChecksTheSizeField) {
    struct Row {
        os::Dword platform;
        bool fails;
        os::Dword size;
        bool ok;
        os::Dword error;
    } rows[] = {
        {os::kPlatformNt, false, 148, true, 0},    {os::kPlatformWindows, false, 148, true, 0},
        {os::kPlatformNt, false, 156, true, 0},  // OSVERSIONINFOEXA
        {os::kPlatformNt, false, 147, false, 122}, {os::kPlatformNt, false, 0, false, 122},
        {os::kPlatformNt, true, 148, false, 87},
    };
    for (const Row& row : rows) {
        sim::SetPlatform(row.platform);
        sim::SetVersionQueryFails(row.fails);
        os::OsVersionInfo info = {};
        info.size = row.size;
        info.platformId = 99;
        os::SetLastError(0);
        EXPECT_EQ(os::GetVersionExA(&info) != 0, row.ok) << row.size;
        EXPECT_EQ(os::GetLastError(), row.error) << row.size;
        EXPECT_EQ(info.platformId, row.ok ? row.platform : 99u) << row.size;
    }
}

TEST_F(Machine, DisplayDepthComesFromTheDesktopDeviceContext) {
    sim::SetDisplay(8, 2);
    os::Handle dc = os::GetDC(os::GetDesktopWindow());
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(os::GetDeviceCaps(dc, os::kBitsPixel), 8);
    EXPECT_EQ(os::GetDeviceCaps(dc, os::kPlanes), 2);
    EXPECT_EQ(sim::OpenDeviceContexts(), 1);
    EXPECT_EQ(os::ReleaseDC(os::GetDesktopWindow(), dc), 1);
    EXPECT_EQ(os::ReleaseDC(os::GetDesktopWindow(), dc), 0);
    EXPECT_EQ(os::GetDeviceCaps(dc, os::kBitsPixel), 0) << "released";
    sim::SetDisplay(32, 1, false);
    EXPECT_EQ(os::GetDC(os::GetDesktopWindow()), nullptr);
}

os::LongPtr OS_CALLBACK CountingProc(os::Handle, unsigned message, os::UintPtr, os::LongPtr) {
    static_cast<void>(message);
    return 0;
}

int gDialogs = 0;
int DialogOwner(os::Handle instance, const char*) {
    os::InitCommonControls();
    os::Handle dialog =
        os::CreateDialogParamA(instance, os::IntResource(103), nullptr, CountingProc, 0);
    gDialogs += dialog != nullptr ? 1 : 0;
    return 0;  // ends with its window still there
}

TEST_F(Machine, TheProgressDialogNeedsTheCommonControls) {
    EXPECT_EQ(os::CreateDialogParamA(nullptr, os::IntResource(103), nullptr, CountingProc, 0),
              nullptr);
    EXPECT_EQ(os::GetLastError(), 1407u) << "no msctls_progress32 class yet";
    EXPECT_FALSE(sim::Progress().dialogCreated);

    os::InitCommonControls();
    EXPECT_EQ(os::CreateDialogParamA(nullptr, os::IntResource(104), nullptr, CountingProc, 0),
              nullptr);
    os::Handle dialog =
        os::CreateDialogParamA(nullptr, os::IntResource(103), nullptr, CountingProc, 0);
    ASSERT_NE(dialog, nullptr);
    os::Handle bar = os::GetDlgItem(dialog, 1000);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(os::GetDlgItem(dialog, 1001), nullptr);
    os::SendMessageA(bar, os::kPbmSetRange, 0, os::MakeLParam(0, 21));
    EXPECT_EQ(os::SendMessageA(bar, os::kPbmSetStep, 1, 0), 10) << "the previous step";
    for (int i = 0; i < 21; ++i) {
        os::SendMessageA(bar, os::kPbmStepIt, 0, 0);
    }
    const sim::ProgressRecord& progress = sim::Progress();
    EXPECT_TRUE(progress.dialogCreated);
    EXPECT_TRUE(progress.commonControlsReady);
    EXPECT_EQ(progress.dialogId, 103u);
    EXPECT_EQ(progress.rangeLow, 0);
    EXPECT_EQ(progress.rangeHigh, 21);
    EXPECT_EQ(progress.step, 1);
    EXPECT_EQ(progress.position, 21);
    EXPECT_EQ(progress.stepCount, 21);
    // Past the top the bar starts over; every message still counts.
    os::SendMessageA(bar, os::kPbmStepIt, 0, 0);
    EXPECT_EQ(progress.position, 1);
    EXPECT_EQ(progress.stepCount, 22);
    EXPECT_TRUE(os::EndDialog(dialog, 0));
    EXPECT_TRUE(progress.dismissed);
    // Messages to nothing do nothing.
    EXPECT_EQ(os::SendMessageA(nullptr, os::kPbmStepIt, 0, 0), 0);
    EXPECT_FALSE(os::EndDialog(nullptr, 0));
}

TEST_F(Machine, AProcessesWindowsGoWithIt) {
    sim::RegisterProgram("dialog", DialogOwner);
    sim::PutFile("C:\\DIALOG.EXE", sim::ProgramImage("dialog"));
    gDialogs = 0;
    EXPECT_EQ(sim::RunProgram("C:\\DIALOG.EXE", "C:\\"), 0);
    EXPECT_EQ(gDialogs, 1);
    EXPECT_TRUE(sim::Progress().dialogCreated);
    // The common controls were the other process's: this one has none.
    EXPECT_EQ(os::CreateDialogParamA(nullptr, os::IntResource(103), nullptr, CountingProc, 0),
              nullptr);
}

TEST_F(Machine, TheWaitCursorAndItsPredecessor) {
    os::Handle wait = os::LoadCursorA(nullptr, os::IntResource(os::kIdcWait));
    ASSERT_NE(wait, nullptr);
    EXPECT_EQ(
        os::LoadCursorA(reinterpret_cast<os::Handle>(0x400000), os::IntResource(os::kIdcWait)),
        nullptr);
    EXPECT_FALSE(sim::WaitCursorShowing());
    os::Handle previous = os::SetCursor(wait);
    EXPECT_TRUE(sim::WaitCursorShowing());
    EXPECT_EQ(os::SetCursor(previous), wait);
    EXPECT_FALSE(sim::WaitCursorShowing());
}

TEST_F(Machine, MessageBoxesAreRecordedAndAnsweredOk) {
    EXPECT_EQ(os::MessageBoxA(nullptr, "text", "ERROR", os::kMbIconError), os::kIdOk);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].text, "text");
    EXPECT_EQ(sim::MessageBoxes()[0].caption, "ERROR");
    EXPECT_EQ(sim::MessageBoxes()[0].type, static_cast<unsigned>(os::kMbIconError));
    EXPECT_FALSE(sim::MessageBoxes()[0].hadOwner);
    EXPECT_EQ(sim::MessageBoxes()[0].processId, sim::kTestProcessId);
}

TEST_F(Machine, NtDeletesPendingFilesAtRestart) {
    sim::PutFile("C:\\STAGE\\_zorp.ex_", "x");
    sim::SetCurrentDirectory("C:\\STAGE");
    EXPECT_TRUE(os::MoveFileExA("_zorp.ex_", nullptr, os::kMoveDelayUntilReboot));
    EXPECT_TRUE(os::MoveFileExA("gone.dll", nullptr, os::kMoveDelayUntilReboot));
    ASSERT_EQ(sim::PendingDeletions().size(), 2u);
    EXPECT_EQ(sim::PendingDeletions()[0], "_zorp.ex_") << "as passed";
    EXPECT_TRUE(sim::FileExists("C:\\STAGE\\_zorp.ex_")) << "not before the restart";
    EXPECT_EQ(sim::Restart(), 1);
    EXPECT_FALSE(sim::FileExists("C:\\STAGE\\_zorp.ex_"));
    EXPECT_TRUE(sim::PendingDeletions().empty());
}

TEST_F(Machine, Windows9xWorksThroughWinInitAtRestart) {
    sim::ResetTypical(500, false);
    EXPECT_FALSE(os::MoveFileExA("C:\\X", nullptr, os::kMoveDelayUntilReboot));
    EXPECT_EQ(os::GetLastError(), 120u) << "ERROR_CALL_NOT_IMPLEMENTED";
    sim::PutFile("C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_", "x");
    sim::PutFile("C:\\WINDOWS\\TEMP\\Init\\Long Name.dll", "x");
    sim::PutFile("C:\\KEEP.TXT", "x");
    sim::PutFile("C:\\WINDOWS\\WININIT.BAK", "old backup");
    sim::PutFile(
        "C:\\WINDOWS\\WinInit.ini",
        "[Other]\r\nNUL=C:\\KEEP.TXT\r\n  [rename] remark\r\n"
        "NUL=C:\\WINDOWS\\TEMP\\INIT\\_ZORP.EX_\r\nNUL=C:\\WINDOWS\\TEMP\\INIT\\LONGNA~1.DLL\n");
    EXPECT_EQ(sim::Restart(), 2);
    EXPECT_FALSE(sim::FileExists("C:\\WINDOWS\\TEMP\\Init\\_zorp.ex_"));
    EXPECT_FALSE(sim::FileExists("C:\\WINDOWS\\TEMP\\Init\\Long Name.dll"));
    EXPECT_TRUE(sim::FileExists("C:\\KEEP.TXT")) << "outside [Rename]";
    EXPECT_FALSE(sim::FileExists("C:\\WINDOWS\\WinInit.ini"));
    std::string backup;
    ASSERT_TRUE(sim::GetFile("C:\\WINDOWS\\WININIT.BAK", &backup));
    EXPECT_EQ(backup.substr(0, 7), "[Other]");
}

TEST_F(Machine, TheCallLogKeepsOrderProcessAndArgument) {
    sim::ClearCalls();
    os::CreateDirectoryA("C:\\A", nullptr);
    os::GetDriveTypeA("C:\\");
    ASSERT_EQ(sim::Calls().size(), 2u);
    EXPECT_EQ(sim::Calls()[0].op, "CreateDirectoryA");
    EXPECT_EQ(sim::Calls()[0].arg, "C:\\A");
    EXPECT_EQ(sim::Calls()[0].processId, sim::kTestProcessId);
    EXPECT_EQ(sim::Calls()[1].op, "GetDriveTypeA");
}

TEST_F(Machine, FaultRulesPickTheirCalls) {
    struct Row {
        const char* comment;
        sim::FaultRule rule;
        const char* fails;  // which of the five calls fail, as '1' and '0'
        int fired;
    } rows[] = {
        {"the second call", {"CreateDirectoryA", 2, "", 0, true}, "01000", 1},
        {"every call", {"CreateDirectoryA", 0, "", 0, false}, "11111", 5},
        {"the first only", {"CreateDirectoryA", 0, "", 0, true}, "10000", 1},
        {"from the fourth on", {"CreateDirectoryA", 4, "", 0, false}, "00011", 2},
        {"any operation, third", {"", 3, "", 0, true}, "00100", 1},
        {"by path, any case", {"", 0, "c:\\d3", 0, false}, "00100", 1},
        {"another operation", {"DeleteFileA", 0, "", 0, false}, "00000", 0},
    };
    for (const Row& row : rows) {
        sim::ResetTypical();
        sim::AddFault(row.rule);
        std::string fails;
        for (int i = 1; i <= 5; ++i) {
            std::string path = "C:\\D" + std::to_string(i);
            os::SetLastError(0);
            bool ok = os::CreateDirectoryA(path.c_str(), nullptr) != 0;
            fails += ok ? '0' : '1';
            if (!ok) {
                EXPECT_EQ(os::GetLastError(), 5u) << row.comment << " default error";
                EXPECT_FALSE(sim::DirectoryExists(path)) << row.comment;
            }
        }
        EXPECT_EQ(fails, row.fails) << row.comment;
        EXPECT_EQ(sim::FaultsFired(), row.fired) << row.comment;
    }
}

TEST_F(Machine, FaultsFailEachOperationTheWayItFails) {
    sim::AddFault({"", 0, "", 0, false});
    char buffer[300] = "untouched";
    EXPECT_EQ(os::CreateMutexA(nullptr, 0, "M"), nullptr);
    EXPECT_EQ(os::GetCurrentDirectoryA(sizeof buffer, buffer), 0u);
    EXPECT_EQ(os::GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
    EXPECT_EQ(os::GetShortPathNameA("C:\\WINDOWS", buffer, sizeof buffer), 0u);
    EXPECT_EQ(os::GetLastError(), 2u);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(os::HeapAlloc(16), nullptr);
    EXPECT_EQ(os::GetLastError(), 8u);
    EXPECT_EQ(os::GetDC(os::GetDesktopWindow()), nullptr);
    EXPECT_EQ(os::MessageBoxA(nullptr, "t", "c", 0), 0);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    os::Dword a = 0, b = 0, c = 0, d = 0;
    EXPECT_FALSE(os::GetDiskFreeSpaceA("C:\\", &a, &b, &c, &d));
    EXPECT_EQ(os::GetLastError(), 21u);
    EXPECT_EQ(
        os::CreateFileA("C:\\F", os::kGenericWrite, 0, nullptr, os::kCreateAlways, 0, nullptr),
        os::InvalidHandle());
    // Operations that cannot fail are untouched by the rule.
    int fired = sim::FaultsFired();
    os::SetCursor(nullptr);
    os::InitCommonControls();
    EXPECT_EQ(os::lstrlenA("abc"), 3);
    EXPECT_EQ(sim::FaultsFired(), fired);
    for (const char* op : {"CloseHandle", "SendMessageA", "GetLastError", "lstrcmpiA"}) {
        for (const std::string& fallible : sim::FallibleOperations()) {
            EXPECT_NE(op, fallible);
        }
    }
}

// A sweep over every call of a small job: each run is deterministic and the sweep ends at the
// first run in which no fault fires.
int Job() {
    if (!os::CreateDirectoryA("C:\\JOB", nullptr)) {
        return 0;
    }
    os::Handle file = os::CreateFileA("C:\\JOB\\F.TXT", os::kGenericWrite, 0, nullptr,
                                      os::kCreateAlways, 0, nullptr);
    if (file == os::InvalidHandle()) {
        return 0;
    }
    os::Dword written = 0;
    bool ok = os::WriteFile(file, "data", 4, &written, nullptr) != 0;
    os::CloseHandle(file);
    return ok ? 1 : 0;
}

TEST_F(Machine, AFaultSweepEndsAndIsRepeatable) {
    int runs = 0;
    for (int nth = 1; nth < 100; ++nth) {
        std::vector<sim::Call> first;
        for (int repeat = 0; repeat < 2; ++repeat) {
            sim::ResetTypical();
            sim::AddFault({"", nth, "", 0, true});
            int result = Job();
            if (repeat == 0) {
                first = sim::Calls();
            } else {
                EXPECT_EQ(sim::Calls().size(), first.size()) << nth;
            }
            EXPECT_EQ(result == 1, sim::FaultsFired() == 0) << nth;
            // Nothing half-made: the file exists with its data or not at all.
            std::string content;
            if (sim::GetFile("C:\\JOB\\F.TXT", &content)) {
                EXPECT_TRUE(content.empty() || content == "data") << nth;
            }
        }
        ++runs;
        if (sim::FaultsFired() == 0) {
            break;
        }
    }
    EXPECT_EQ(runs, 4) << "three fallible calls, then a clean run";
}

}  // namespace
