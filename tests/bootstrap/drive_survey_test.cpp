// The drive survey on the simulated machine: what is recorded, in which order, which drive is
// best, which is the system drive, and lists that are odd or too long.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

#include "bootstrap/drive_survey.h"
#include "common/status.h"
#include "sim/machine.h"

namespace {

constexpr uint64_t kMb = 1ull << 20;

// A machine with the given drives and the system directory on `systemDirectory`.
void Machine(const std::string& systemDirectory) {
    sim::Reset();
    sim::SetWindowsDirectory("C:\\WINDOWS");
    sim::SetSystemDirectory(systemDirectory);
}

// Runs the process's survey from scratch; the table it built.
const DriveTable& Survey() {
    ResetDriveSurvey();
    EXPECT_EQ(SurveyDrives(), 0);
    EXPECT_NE(ProcessDriveTable(), nullptr);
    static DriveTable empty;
    return ProcessDriveTable() != nullptr ? *ProcessDriveTable() : empty;
}

int FreeSpaceQueries(const std::string& root) {
    int queries = 0;
    for (const sim::Call& call : sim::Calls()) {
        queries += call.op == "GetDiskFreeSpaceA" && call.arg == root ? 1 : 0;
    }
    return queries;
}

TEST(DriveSurvey, RecordsDrivesInListOrderUpperCasedAndFlagsTheSystemDrive) {
    Machine("c:\\windows\\system");
    sim::AddDrive("A:\\", os::kDriveRemovable, 0);
    sim::AddDrive("C:\\", os::kDriveFixed, 300 * kMb);
    sim::AddDrive("D:\\", os::kDriveFixed, 300 * kMb);
    sim::SetDriveStringsOverride(std::string("A:\\\0c:\\\0D:\\\0\0", 13));  // c: in lower case
    sim::ClearCalls();

    const DriveTable& table = Survey();

    ASSERT_EQ(table.count, 3);
    const char* roots[] = {"A:\\", "C:\\", "D:\\"};
    const uint32_t free[] = {0, 300, 300};
    const int32_t types[] = {os::kDriveRemovable, os::kDriveFixed, os::kDriveFixed};
    const int32_t system[] = {0, 1, 0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(table.entries[i].root, roots[i]) << i;
        EXPECT_EQ(table.entries[i].freeMB, free[i]) << i;
        EXPECT_EQ(table.entries[i].driveType, types[i]) << i;
        EXPECT_EQ(table.entries[i].isSystem, system[i]) << i;
    }
    EXPECT_STREQ(table.entries[3].root, "");  // the rest stay cleared
    // Equal free space: the drive listed first is best, remembered upper-cased.
    EXPECT_STREQ(BestFixedDrive(), "C:\\");
    EXPECT_EQ(SystemDriveFreeMegabytes(), 300u);
    EXPECT_EQ(FreeSpaceQueries("A:\\"), 0) << "only fixed drives are asked for free space";
}

TEST(DriveSurvey, FreeMegabytesAreWholeAndNeverWrapAtFourGigabytes) {
    struct Case {
        uint64_t bytes;
        uint32_t megabytes;
    } cases[] = {
        {6ull << 30, 6144},          // 6 GiB
        {(10 * kMb) + kMb / 2, 10},  // rounded down
        {kMb - 1, 0},                // less than one megabyte
        {4ull << 30, 4096},          // exactly 4 GiB
    };
    for (const Case& c : cases) {
        Machine("C:\\WINDOWS\\SYSTEM");
        sim::AddDrive("C:\\", os::kDriveFixed, c.bytes);
        EXPECT_EQ(FreeMegabytes("C:\\"), c.megabytes) << c.bytes;
    }
    Machine("C:\\WINDOWS\\SYSTEM");
    sim::AddDrive("C:\\", os::kDriveFixed, 500 * kMb);
    sim::SetFreeSpaceQueryFails("C:\\", true);
    EXPECT_EQ(FreeMegabytes("C:\\"), 0xFFFFFFFFu);
}

TEST(DriveSurvey, TableHoldsTwentyFiveButTheTwentySixthCanStillBeBest) {
    Machine("C:\\WINDOWS\\SYSTEM");
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        sim::AddDrive(std::string(1, letter) + ":\\", os::kDriveFixed,
                      (letter == 'Z' ? 900 : 100) * kMb);
    }
    const DriveTable& table = Survey();

    EXPECT_EQ(table.count, kDriveTableCapacity);
    EXPECT_STREQ(table.entries[24].root, "Y:\\");
    EXPECT_STREQ(BestFixedDrive(), "Z:\\");
    for (int i = 0; i < table.count; ++i) {
        EXPECT_EQ(table.entries[i].isSystem, 0) << table.entries[i].root;
    }
    EXPECT_EQ(SystemDriveFreeMegabytes(), 0u);
}

TEST(DriveSurvey, UnknownFreeSpaceRanksAboveEveryRealValue) {
    Machine("C:\\WINDOWS\\SYSTEM");
    sim::AddDrive("C:\\", os::kDriveFixed, 500 * kMb);
    sim::AddDrive("D:\\", os::kDriveFixed, 100 * kMb);
    sim::SetFreeSpaceQueryFails("D:\\", true);
    sim::AddDrive("E:\\", os::kDriveFixed, 900 * kMb);  // more, but listed after D:
    sim::AddDrive("F:\\", os::kDriveFixed, 100 * kMb);
    sim::SetFreeSpaceQueryFails("F:\\", true);  // a second unknown does not displace D:

    const DriveTable& table = Survey();

    EXPECT_STREQ(BestFixedDrive(), "D:\\");
    EXPECT_EQ(table.entries[1].freeMB, kFreeSpaceUnknown);
    EXPECT_EQ(SystemDriveFreeMegabytes(), 500u);

    // The system drive's own query failing reads as "unknown", not as 0.
    sim::SetFreeSpaceQueryFails("C:\\", true);
    Survey();
    EXPECT_EQ(SystemDriveFreeMegabytes(), kFreeSpaceUnknown);
    EXPECT_STREQ(BestFixedDrive(), "C:\\");
}

TEST(DriveSurvey, NoFixedDriveWithRoomLeavesTheBestFixedDriveEmpty) {
    struct Case {
        const char* name;
        unsigned cType;
        uint64_t cBytes;
    } cases[] = {
        {"no fixed drive", os::kDriveRemote, 500 * kMb},
        {"fixed drive with 0 MB", os::kDriveFixed, kMb - 1},
    };
    for (const Case& c : cases) {
        Machine("C:\\WINDOWS\\SYSTEM");
        sim::AddDrive("C:\\", c.cType, c.cBytes);
        sim::AddDrive("E:\\", os::kDriveCdrom, 600 * kMb);
        const DriveTable& table = Survey();
        EXPECT_EQ(table.count, 2) << c.name;
        EXPECT_STREQ(BestFixedDrive(), "") << c.name;
        EXPECT_EQ(SystemDriveFreeMegabytes(), 0u) << c.name;
    }
}

TEST(DriveSurvey, SystemDirectoryOnANetworkDriveIsFlaggedWithNoRoom) {
    Machine("F:\\WINDOWS\\SYSTEM");
    sim::AddDrive("C:\\", os::kDriveFixed, 500 * kMb);
    sim::AddDrive("F:\\", os::kDriveRemote, 500 * kMb);
    const DriveTable& table = Survey();
    ASSERT_EQ(table.count, 2);
    EXPECT_EQ(table.entries[1].isSystem, 1);
    EXPECT_EQ(table.entries[1].freeMB, 0u);
    EXPECT_EQ(SystemDriveFreeMegabytes(), 0u);
}

// The walk over the system's list must stop at its end, whatever the list holds.
TEST(DriveSurvey, OddDriveListsAreNeverWalkedPastTheirEnd) {
    struct Case {
        const char* name;
        std::string bytes;  // what GetLogicalDriveStringsA reports
        int count;
        const char* best;  // nullptr: whatever the type query says of the odd root
    } cases[] = {
        {"empty list", std::string(), 0, ""},
        {"only the end marker", std::string(1, '\0'), 0, ""},
        {"no final empty string", std::string("C:\\\0D:\\", 7), 2, "C:\\"},
        // Longer than 7 characters: not a drive-letter root, passed over, never shortened.
        {"long root", std::string("C:\\MOUNTED\\\0D:\\\0\0", 17), 1, "D:\\"},
        {"8 characters", std::string("C:\\ABCD\\\0D:\\\0\0", 14), 1, "D:\\"},
        {"exactly 7 characters", std::string("C:\\ABC\\\0\0", 9), 1, nullptr},
        {"longer than the buffer", std::string(300, 'x') + std::string(2, '\0'), 0, ""},
    };
    for (const Case& c : cases) {
        Machine("C:\\WINDOWS\\SYSTEM");
        sim::AddDrive("C:\\", os::kDriveFixed, 100 * kMb);
        sim::AddDrive("D:\\", os::kDriveFixed, 100 * kMb);
        sim::SetDriveStringsOverride(c.bytes);
        const DriveTable& table = Survey();
        EXPECT_EQ(table.count, c.count) << c.name;
        if (c.best != nullptr) {
            EXPECT_STREQ(BestFixedDrive(), c.best) << c.name;
        }
    }

    // The call failing outright.
    Machine("C:\\WINDOWS\\SYSTEM");
    sim::AddDrive("C:\\", os::kDriveFixed, 100 * kMb);
    sim::FaultRule rule;
    rule.op = "GetLogicalDriveStringsA";
    sim::AddFault(rule);
    EXPECT_EQ(Survey().count, 0);
    EXPECT_EQ(sim::FaultsFired(), 1);
}

TEST(DriveSurvey, RecordDrivesReportsOverflowAndUnmatchedSystemDrive) {
    struct Case {
        const char* name;
        const char* systemDirectory;
        int drives;
        int32_t result;
        int flagged;  // index of the flagged entry, -1 for none
    } cases[] = {
        {"system drive found", "C:\\WINDOWS\\SYSTEM", 3, 0, 2},
        {"system drive not listed", "Q:\\WINDOWS\\SYSTEM", 3, kEFail, -1},
        {"table overflows", "A:\\WINDOWS\\SYSTEM", 26, kEFail, -1},
        // No root to match: nothing flagged, the positive error number passes as success.
        {"system directory without backslash", "C:", 3, 0, -1},
    };
    for (const Case& c : cases) {
        Machine(c.systemDirectory);
        std::string list;
        for (int i = 0; i < c.drives; ++i) {
            std::string root = std::string(1, static_cast<char>('A' + i)) + ":\\";
            sim::AddDrive(root, os::kDriveFixed, 50 * kMb);
            list += root + '\0';
        }
        list += '\0';
        DriveTable table;
        EXPECT_EQ(RecordDrives(&table, list.data(), list.size()), c.result) << c.name;
        for (int i = 0; i < table.count; ++i) {
            EXPECT_EQ(table.entries[i].isSystem, i == c.flagged ? 1 : 0) << c.name << " " << i;
        }
    }

    // The system directory cannot be read: nothing flagged, still success.
    Machine("C:\\WINDOWS\\SYSTEM");
    sim::AddDrive("C:\\", os::kDriveFixed, 50 * kMb);
    sim::FaultRule rule;
    rule.op = "GetSystemDirectoryA";
    sim::AddFault(rule);
    DriveTable table;
    const char list[] = "C:\\\0";
    EXPECT_EQ(RecordDrives(&table, list, sizeof list), 0);
    EXPECT_EQ(table.entries[0].isSystem, 0);
    EXPECT_EQ(table.SystemDriveFreeMegabytes(), 0u);
}

TEST(DriveSurvey, DriveRootOfPathTakesThePrefixUpToTheFirstBackslash) {
    struct Case {
        const char* path;
        size_t capacity;
        int32_t result;
        const char* root;  // "untouched" stays when the call fails
    } cases[] = {
        {"C:\\WINDOWS\\SYSTEM", 260, 0, "C:\\"}, {"C:\\", 260, 0, "C:\\"},
        {"\\\\server\\share", 260, 0, "\\"},     {"C:", 260, 87, "untouched"},  // no backslash
        {"C:\\WINDOWS", 4, 0, "C:\\"},                                          // exact fit
        {"C:\\WINDOWS", 3, 206, "untouched"},                                   // one short
    };
    for (const Case& c : cases) {
        char root[260] = "untouched";
        EXPECT_EQ(DriveTable::DriveRootOfPath(c.path, root, c.capacity), c.result) << c.path;
        EXPECT_STREQ(root, c.root) << c.path;
    }
}

TEST(DriveSurvey, AFailedAllocationLeavesNoTableAndNoSystemRoom) {
    Machine("C:\\WINDOWS\\SYSTEM");
    sim::AddDrive("C:\\", os::kDriveFixed, 500 * kMb);
    sim::FaultRule rule;
    rule.op = "HeapAlloc";
    sim::AddFault(rule);
    ResetDriveSurvey();
    EXPECT_EQ(SurveyDrives(), kEFail);
    EXPECT_EQ(ProcessDriveTable(), nullptr);
    EXPECT_STREQ(BestFixedDrive(), "");
    EXPECT_EQ(SystemDriveFreeMegabytes(), 0u);
}

}  // namespace
