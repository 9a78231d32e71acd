// The staging copy on the simulated machine: directories, the 21 rows, attributes, the shell's
// copy requests, and the creation of directories with their missing ancestors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bootstrap/staging_copy.h"
#include "common/status.h"
#include "sim/machine.h"
#include "tests/bootstrap/setup_machine.h"

namespace {

using setup_test::kRows;

std::vector<std::string> CallArgs(const std::string& op) {
    std::vector<std::string> args;
    for (const sim::Call& call : sim::Calls()) {
        if (call.op == op) {
            args.push_back(call.arg);
        }
    }
    return args;
}

TEST(StagingCopy, FillsTheStagingAreaWithNormalCopiesOfEveryRow) {
    setup_test::PrepareTypical();
    // An earlier run's file, read-only and hidden: replaced without a question.
    // (The test's own calls run as Administrators.)
    ASSERT_TRUE(sim::MakeStagingDirectory("C:\\WINDOWS\\TEMP\\Init", sim::kAdministratorsSid));
    ASSERT_TRUE(sim::PutFile("C:\\WINDOWS\\TEMP\\Init\\Arrows.dll", "old",
                             os::kAttrReadOnly | os::kAttrHidden));

    EXPECT_EQ(CopyManifest("C:\\WINDOWS\\TEMP", "E:"), 0);

    for (const char* row : kRows) {
        std::string staged = std::string("C:\\WINDOWS\\TEMP\\") + row;
        std::string content;
        ASSERT_TRUE(sim::GetFile(staged, &content)) << staged;
        EXPECT_EQ(content, setup_test::MediumContent(row)) << staged;
        // The medium's files are read-only; the staged copies must not be.
        EXPECT_EQ(sim::Attributes(staged), os::kAttrNormal) << staged;
        EXPECT_EQ(sim::StoredPath(staged), staged) << "the row's letter case";
    }
    for (const char* directory : setup_test::kStagingDirectories) {
        EXPECT_TRUE(sim::DirectoryExists(std::string("C:\\WINDOWS\\TEMP\\") + directory));
    }
    EXPECT_TRUE(sim::Snapshot("C:\\WINDOWS\\TEMP\\English").empty());
    EXPECT_EQ(sim::Snapshot("C:\\WINDOWS\\TEMP\\Init").size(), 17u);
}

// Whatever stands at a row's place goes first, so the copy makes a new file rather than
// writing through a link into another.
TEST(StagingCopy, EachRowIsClearedCopiedAndNormalisedInManifestOrder) {
    setup_test::PrepareTypical();
    CopyManifest("C:\\STAGE", "E:\\");

    std::vector<std::string> expected;
    for (const char* row : kRows) {
        std::string destination = std::string("C:\\STAGE\\") + row;
        expected.push_back("DeleteFileA " + destination);
        expected.push_back("SHFileOperationA E:\\" + std::string(row));
        expected.push_back("SetFileAttributesA " + destination);
    }
    std::vector<std::string> seen;
    for (const sim::Call& call : sim::Calls()) {
        if (call.op == "SetFileAttributesA" || call.op == "SHFileOperationA" ||
            call.op == "DeleteFileA") {
            seen.push_back(call.op + " " + call.arg);
        }
    }
    EXPECT_EQ(seen, expected);
    // No progress window and no questions from the shell, but its own error message, and
    // none of its windows owned by ours.
    ASSERT_EQ(sim::ShellOperations().size(), 21u);
    for (const sim::ShellOperationRecord& request : sim::ShellOperations()) {
        EXPECT_EQ(request.func, os::kFoCopy) << request.from;
        EXPECT_EQ(request.flags, os::kFofSilent | os::kFofNoConfirmation) << request.from;
        EXPECT_FALSE(request.hadOwner) << request.from;
    }
}

// Trailing backslashes on either directory, and a drive-root source, give the same paths.
TEST(StagingCopy, TrailingBackslashesAndDriveRootsYieldOneSeparator) {
    struct Case {
        const char* root;
        const char* source;
        const char* sourcePrefix;
    } cases[] = {
        {"C:\\STAGE", "E:\\MEDIUM", "E:\\MEDIUM\\"},
        {"C:\\STAGE\\", "E:\\MEDIUM\\", "E:\\MEDIUM\\"},
        {"C:\\STAGE", "E:\\", "E:\\"},  // drive root as the current directory reports it
        {"C:\\STAGE", "E:", "E:\\"},    // drive root after StripTrailingBackslash
    };
    for (const Case& c : cases) {
        setup_test::PrepareTypical();
        setup_test::PutMedium("E:\\MEDIUM");
        CopyManifest(c.root, c.source);
        std::vector<std::string> froms = CallArgs("SHFileOperationA");
        ASSERT_EQ(froms.size(), 21u) << c.root << " " << c.source;
        for (int i = 0; i < 21; ++i) {
            EXPECT_EQ(froms[i], std::string(c.sourcePrefix) + kRows[i]);
        }
        EXPECT_TRUE(sim::FileExists("C:\\STAGE\\Extra\\dx6eng.exe")) << c.root;
        std::vector<std::string> made = CallArgs("CreateDirectoryA");
        ASSERT_GE(made.size(), 4u);
        EXPECT_EQ(made[0], "C:\\STAGE\\Config") << "created under the root, no double backslash";
    }
}

// Prefix and row may have 258 characters: the shell's list needs two NULs after them.
TEST(StagingCopy, RowsThatDoNotFitAreSkippedNeverShortened) {
    for (size_t rootLength : {239u, 240u}) {
        setup_test::PrepareTypical();
        std::string root = setup_test::PathOfLength("C:\\", rootLength);
        CopyManifest(root.c_str(), "E:");
        // The longest rows have 18 characters: root + "\" + 18 is 258 for a 239-character root.
        std::vector<std::string> copied = CallArgs("SHFileOperationA");
        size_t expected = rootLength == 239 ? 21 : 19;
        EXPECT_EQ(copied.size(), expected) << rootLength;
        EXPECT_EQ(StagingRootFits(root.c_str()), rootLength == 239) << rootLength;
        for (const std::string& arg : copied) {
            EXPECT_EQ(arg.compare(0, 3, "E:\\"), 0) << arg;
        }
    }
    // A root with a trailing backslash fits as well as the same root without it.
    std::string root = setup_test::PathOfLength("C:\\", 239) + "\\";
    EXPECT_TRUE(StagingRootFits(root.c_str()));
    EXPECT_FALSE(StagingRootFits(std::string(300, 'x').c_str()));
}

TEST(CreateDirectoryPath, CreatesMissingAncestorsFromTheTopDown) {
    setup_test::PrepareTypical();
    EXPECT_EQ(CreateDirectoryPath("C:\\A\\B\\C\\"), 0);
    EXPECT_TRUE(sim::DirectoryExists("C:\\A\\B\\C"));
    std::vector<std::string> expected = {"C:\\A\\B\\C", "C:\\A\\B", "C:\\A", "C:\\A\\B",
                                         "C:\\A\\B\\C"};
    EXPECT_EQ(CallArgs("CreateDirectoryA"), expected);

    EXPECT_EQ(CreateDirectoryPath("C:\\A\\B"), 183);  // there already
    EXPECT_EQ(CreateDirectoryPath("C:\\WINDOWS\\TEMP\\"), 183);

    // A parent that another program makes between our two attempts is there all the same.
    sim::BeforeCall("CreateDirectoryA", "C:\\P", 1, [] { sim::MakeDirectories("C:\\P"); });
    EXPECT_EQ(CreateDirectoryPath("C:\\P\\Q"), 0);
    EXPECT_TRUE(sim::DirectoryExists("C:\\P\\Q"));
}

TEST(CreateDirectoryPath, FailuresReportEFail) {
    setup_test::PrepareTypical();
    // Read-only medium: neither the directory nor its missing parent can be made.
    EXPECT_EQ(CreateDirectoryPath("E:\\X\\Y"), kEFail);
    EXPECT_FALSE(sim::DirectoryExists("E:\\X"));
    // "\TEMP" on the current drive, which is the CD.
    EXPECT_EQ(CreateDirectoryPath("\\TEMP"), kEFail);
    // Longer than a path buffer: refused before any call, never shortened.
    sim::ClearCalls();
    EXPECT_EQ(CreateDirectoryPath(setup_test::PathOfLength("C:\\", 260).c_str()), kEFail);
    EXPECT_TRUE(CallArgs("CreateDirectoryA").empty());

    // A path without a backslash whose creation reports a missing path: no recursion.
    sim::ClearCalls();
    sim::FaultRule rule;
    rule.op = "CreateDirectoryA";
    rule.error = os::kErrorPathNotFound;
    sim::AddFault(rule);
    EXPECT_EQ(CreateDirectoryPath("NOSLASH"), kEFail);
    EXPECT_EQ(CallArgs("CreateDirectoryA").size(), 1u);

    // Any other error is a failure at once.
    sim::ClearFaults();
    sim::ClearCalls();
    rule.error = os::kErrorAccessDenied;
    sim::AddFault(rule);
    EXPECT_EQ(CreateDirectoryPath("C:\\NEW"), kEFail);
    EXPECT_EQ(CallArgs("CreateDirectoryA").size(), 1u);
}

TEST(CreateDirectoryPath, ParentPrefixKeepsTheLastBackslash) {
    struct Case {
        std::string path;
        const char* parent;
    } cases[] = {
        {"C:\\TEMP", "C:\\"},                // parent of TEMP on a root is the root
        {"C:\\A\\B", "C:\\A\\"},             //
        {"C:\\A\\B\\", "C:\\A\\B\\"},        // trailing backslash: the path itself
        {"\\TEMP", "\\"},                    // current drive's root
        {"NAME", ""},                        // no backslash
        {"", ""},                            // empty
        {std::string(300, 'x') + "\\", ""},  // longer than a path buffer
    };
    for (const Case& c : cases) {
        char parent[260];
        ParentPrefix(c.path.c_str(), parent);
        EXPECT_STREQ(parent, c.parent) << c.path;
    }
}

}  // namespace
