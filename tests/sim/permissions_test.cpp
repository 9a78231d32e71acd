// Permissions and links on the simulated NT machine: what NT's default permissions let
// another user do in folders made where setup stages, how a DACL given at creation is merged,
// and how directory links and hard links are followed.
#include <gtest/gtest.h>

#include <string>

#include "common/platform.h"
#include "sim/machine.h"

namespace {

// What another user may do in a folder an administrator makes with no DACL of its own, by NT
// version: the documented defaults hand these rights down.
TEST(Permissions, FoldersMadeWhereSetupStagesLetOthersInByDefault) {
    struct Row {
        sim::NtDefaults version;
        bool addsInWindowsTemp;  // a file in a new folder of the Windows directory's TEMP
        bool addsUnderRoot;      // a file in a new folder at the drive's root
        bool renamesUnderRoot;   // that folder itself, by its own entries or the root's
        bool renamesWindowsTemp;
    } rows[] = {
        {sim::NtDefaults::kNt4, true, true, true, true},           // Everyone: Change, everywhere
        {sim::NtDefaults::kWindows2000, true, true, true, false},  // a root of Everyone: Full
        {sim::NtDefaults::kXp, true, true, false, false},    // Users create files below the root
        {sim::NtDefaults::kVista, true, true, true, false},  // Authenticated Users: Modify below
    };
    for (const Row& row : rows) {
        sim::ResetTypical();
        sim::SetNtDefaults(row.version);
        int version = static_cast<int>(row.version);
        ASSERT_TRUE(sim::MakeDirectories("C:\\WINDOWS\\TEMP\\Made"));
        ASSERT_TRUE(sim::MakeDirectories("C:\\Made"));
        EXPECT_EQ(sim::OtherUserAddsFile("C:\\WINDOWS\\TEMP\\Made\\x.dll", "x"),
                  row.addsInWindowsTemp)
            << version;
        EXPECT_EQ(sim::OtherUserAddsFile("C:\\Made\\x.dll", "x"), row.addsUnderRoot) << version;
        EXPECT_EQ(sim::OtherUserMoves("C:\\Made", "C:\\Moved"), row.renamesUnderRoot) << version;
        EXPECT_EQ(sim::OtherUserMoves("C:\\WINDOWS\\TEMP", "C:\\WINDOWS\\TEMP2"),
                  row.renamesWindowsTemp)
            << version;
        // What the other user makes is its own, and nobody's business of a program's.
        EXPECT_FALSE(sim::OtherUserWritesFile("C:\\WINDOWS\\WinInit.ini", "x")) << version;
    }
}

// A DACL given at creation: as given on NT 4.0; from 2000 on with the parent's inheritable
// entries merged after it, unless it is protected. Deny entries come before allow entries.
TEST(Permissions, AGivenDaclIsMergedWithTheParentsUnlessProtected) {
    sim::Dacl given;
    given.entries.push_back(sim::Ace{sim::kAdministratorsSid, 0x1F01FF, 0x3, false});
    for (sim::NtDefaults version : {sim::NtDefaults::kNt4, sim::NtDefaults::kVista}) {
        for (bool isProtected : {false, true}) {
            sim::ResetTypical();
            sim::SetNtDefaults(version);
            given.isProtected = isProtected;
            // The descriptor as a program passes it, from what the machine hands out.
            ASSERT_TRUE(sim::MakeDirectories("C:\\WINDOWS\\TEMP\\Model"));
            ASSERT_TRUE(sim::SetDacl("C:\\WINDOWS\\TEMP\\Model", given));
            unsigned char descriptor[512];
            os::Dword needed = 0;
            ASSERT_TRUE(os::GetFileSecurityA("C:\\WINDOWS\\TEMP\\Model", 0x4, descriptor,
                                             sizeof descriptor, &needed));
            os::SecurityAttributes attributes = {sizeof attributes, descriptor, 0};
            ASSERT_TRUE(os::CreateDirectoryA("C:\\WINDOWS\\TEMP\\New", &attributes));
            bool merged = version != sim::NtDefaults::kNt4 && !isProtected;
            EXPECT_EQ(sim::GetDacl("C:\\WINDOWS\\TEMP\\New").entries.size() > 1, merged)
                << static_cast<int>(version) << isProtected;
            EXPECT_EQ(sim::OtherUserAddsFile("C:\\WINDOWS\\TEMP\\New\\x.dll", "x"), merged)
                << static_cast<int>(version) << isProtected;
        }
    }
    // A descriptor that is not whole is refused, whatever the parent.
    unsigned char broken[20] = {1, 0, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0};
    os::SecurityAttributes attributes = {sizeof attributes, broken, 0};
    os::SetLastError(0);
    EXPECT_FALSE(os::CreateDirectoryA("C:\\WINDOWS\\TEMP\\Broken", &attributes));
    EXPECT_EQ(os::GetLastError(), 1338u);
}

// A directory link is followed on the way to what lies beyond it and reported as itself where
// it is the last name; deleting by that name takes the link, not what it names. A hard link is
// the same file under a second name.
TEST(Permissions, LinksAreFollowedOnTheWayAndTakenThemselvesAtTheEnd) {
    sim::ResetTypical();
    ASSERT_TRUE(sim::PutFile("C:\\VICTIM\\precious.dll", "precious"));
    ASSERT_TRUE(sim::MakeDirectoryLink("C:\\WINDOWS\\TEMP\\Init", "C:\\VICTIM"));
    EXPECT_EQ(os::GetFileAttributesA("C:\\WINDOWS\\TEMP\\Init"),
              os::kAttrDirectory | os::kAttrReparsePoint);
    EXPECT_EQ(os::GetFileAttributesA("C:\\WINDOWS\\TEMP\\Init\\precious.dll"), os::kAttrNormal);
    EXPECT_FALSE(os::CreateDirectoryA("C:\\WINDOWS\\TEMP\\Init", nullptr));
    EXPECT_EQ(os::GetLastError(), 183u);
    // Opened as itself, the link is held; followed, it is what it names.
    os::Handle link =
        os::CreateFileA("C:\\WINDOWS\\TEMP\\Init", os::kFileTraverse, 0, nullptr, os::kOpenExisting,
                        os::kFlagBackupSemantics | os::kFlagOpenReparsePoint, nullptr);
    ASSERT_NE(link, os::InvalidHandle());
    EXPECT_FALSE(os::RemoveDirectoryA("C:\\WINDOWS\\TEMP\\Init")) << "held without delete sharing";
    os::CloseHandle(link);
    EXPECT_TRUE(os::RemoveDirectoryA("C:\\WINDOWS\\TEMP\\Init"));
    EXPECT_TRUE(sim::FileExists("C:\\VICTIM\\precious.dll"));

    ASSERT_TRUE(sim::MakeHardLink("C:\\WINDOWS\\TEMP\\Setupapi.dll", "C:\\VICTIM\\precious.dll"));
    os::FileOperation copy = {};
    sim::PutFile("C:\\Setupapi.dll", "ours");
    copy.func = os::kFoCopy;
    copy.from = "C:\\Setupapi.dll\0";
    copy.to = "C:\\WINDOWS\\TEMP\\Setupapi.dll\0";
    copy.flags = os::kFofSilent | os::kFofNoConfirmation;
    EXPECT_EQ(os::SHFileOperationA(&copy), 0);
    std::string content;
    ASSERT_TRUE(sim::GetFile("C:\\VICTIM\\precious.dll", &content));
    EXPECT_EQ(content, "ours") << "a copy over a hard link writes into its other name";
    EXPECT_TRUE(os::DeleteFileA("C:\\WINDOWS\\TEMP\\Setupapi.dll"));
    EXPECT_TRUE(sim::FileExists("C:\\VICTIM\\precious.dll"));

    // Pending deletions go through a link on the way, as the session manager goes.
    ASSERT_TRUE(sim::MakeDirectoryLink("C:\\WINDOWS\\TEMP\\Init", "C:\\VICTIM"));
    ASSERT_TRUE(os::MoveFileExA("C:\\WINDOWS\\TEMP\\Init\\precious.dll", nullptr,
                                os::kMoveDelayUntilReboot));
    EXPECT_EQ(sim::Restart(), 1);
    EXPECT_FALSE(sim::FileExists("C:\\VICTIM\\precious.dll"));
}

}  // namespace
