// The staging cleanup on the simulated machine: what is deleted, in which order, and what
// stays when something cannot go.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "launcher/staging_cleanup.h"
#include "sim/machine.h"
#include "sim/medium.h"

namespace {

const char kRoot[] = "C:\\WINDOWS\\TEMP";
const char kInit[] = "C:\\WINDOWS\\TEMP\\Init";

// What setup stages, relative to the staging root.
const auto& kManifest = sim::kMediumRows;

// The cleanup's calls, in order, relative to the directory it was given.
const std::vector<std::pair<std::string, std::string>> kExpectedCalls = {
    {"DeleteFileA", "Cfgmgr32.dll"},
    {"DeleteFileA", "Arrows.dll"},
    {"DeleteFileA", "media.inf"},
    {"DeleteFileA", "Lexor2.dll"},
    {"DeleteFileA", "Lexor2r.dll"},
    {"DeleteFileA", "Journal.ini"},
    {"DeleteFileA", "Msvcirt.dll"},
    {"DeleteFileA", "Msvcrt.dll"},
    {"DeleteFileA", "Wizard.pnl"},
    {"DeleteFileA", "Setupapi.dll"},
    {"DeleteFileA", "_zorp.exe"},
    {"DeleteFileA", "Panelkit2.dll"},
    {"DeleteFileA", "Seedbank"},
    {"DeleteFileA", "Clock"},
    {"DeleteFileA", "remover.exe"},
    {"DeleteFileA", "Ft0042k_.ttf"},
    {"DeleteFileA", "..\\Config\\Qcore.cfg"},
    {"DeleteFileA", "..\\Extra\\dplay50a.exe"},
    {"DeleteFileA", "..\\Extra\\dx6core.exe"},
    {"DeleteFileA", "..\\Extra\\dx6eng.exe"},
    {"RemoveDirectoryA", "..\\Config"},
    {"RemoveDirectoryA", "..\\Extra"},
    {"RemoveDirectoryA", "..\\English"},
    {"RemoveDirectoryA", "..\\Init"},
};

std::string Staged(const std::string& relative) {
    return std::string(kRoot) + "\\" + relative;
}

void StageEverything() {
    sim::ResetTypical();
    for (const char* dir : {"Config", "Init", "Extra", "English"}) {
        ASSERT_TRUE(sim::MakeDirectories(Staged(dir)));
    }
    for (const char* row : kManifest) {
        ASSERT_TRUE(sim::PutFile(Staged(row), std::string("staged ") + row));
    }
    sim::ClearCalls();
}

// The cleanup's file and directory calls, as (operation, argument).
std::vector<std::pair<std::string, std::string>> CleanupCalls() {
    std::vector<std::pair<std::string, std::string>> calls;
    for (const sim::Call& call : sim::Calls()) {
        if (call.op == "DeleteFileA" || call.op == "RemoveDirectoryA") {
            calls.emplace_back(call.op, call.arg);
        }
    }
    return calls;
}

std::vector<std::pair<std::string, std::string>> ExpectedCalls(const std::string& prefix) {
    std::vector<std::pair<std::string, std::string>> calls;
    for (const auto& call : kExpectedCalls) {
        calls.emplace_back(call.first, prefix + call.second);
    }
    return calls;
}

TEST(StagingCleanup, DeletesEveryStagedFileThenTheEmptiedDirectoriesInOrder) {
    // The caller's spelling of the directory is kept; a trailing backslash never doubles.
    for (const std::string& directory : {std::string(kInit), std::string(kInit) + "\\"}) {
        SCOPED_TRACE(directory);
        StageEverything();
        CleanStagingArea(directory.c_str());

        EXPECT_EQ(CleanupCalls(), ExpectedCalls(std::string(kInit) + "\\"));
        EXPECT_FALSE(sim::DirectoryExists(Staged("Config")));
        EXPECT_FALSE(sim::DirectoryExists(Staged("Extra")));
        EXPECT_FALSE(sim::DirectoryExists(Staged("English")));
        // Init still holds the launcher's own file, so it stays; so does the root.
        EXPECT_TRUE(sim::DirectoryExists(Staged("Init")));
        EXPECT_TRUE(sim::DirectoryExists(kRoot));
        std::vector<sim::Entry> left = sim::Snapshot(kRoot);
        ASSERT_EQ(left.size(), 2u);
        EXPECT_EQ(left[0].path, Staged("Init\\"));
        EXPECT_EQ(left[1].path, Staged("Init\\_zorp.ex_"));
    }
}

TEST(StagingCleanup, FilesThatCannotGoStayAndTheRowsAfterThemStillRun) {
    StageEverything();
    sim::SetFileInUse(Staged("Init\\Arrows.dll"), true);
    ASSERT_TRUE(sim::PutFile(Staged("Config\\Qcore.cfg"), "read-only", os::kAttrReadOnly));
    ASSERT_TRUE(sim::PutFile(Staged("English\\readme.txt"), "left by the installer"));

    CleanStagingArea(kInit);

    // Every row is still attempted; nothing is retried and no attribute is changed.
    EXPECT_EQ(CleanupCalls(), ExpectedCalls(std::string(kInit) + "\\"));
    for (const sim::Call& call : sim::Calls()) {
        EXPECT_NE(call.op, "SetFileAttributesA") << call.arg;
    }
    EXPECT_TRUE(sim::FileExists(Staged("Init\\Arrows.dll")));
    EXPECT_TRUE(sim::FileExists(Staged("Config\\Qcore.cfg")));
    EXPECT_EQ(sim::Attributes(Staged("Config\\Qcore.cfg")) & os::kAttrReadOnly, os::kAttrReadOnly);
    EXPECT_FALSE(sim::FileExists(Staged("Init\\media.inf")));
    EXPECT_FALSE(sim::FileExists(Staged("Extra\\dx6eng.exe")));
    // A directory that still holds anything stays; the empty one goes.
    EXPECT_TRUE(sim::DirectoryExists(Staged("Config")));
    EXPECT_TRUE(sim::DirectoryExists(Staged("English")));
    EXPECT_FALSE(sim::DirectoryExists(Staged("Extra")));
}

TEST(StagingCleanup, AnAlreadyEmptiedAreaStillLosesItsDirectoriesButNotItsRoot) {
    sim::ResetTypical();
    for (const char* dir : {"Config", "Init", "Extra", "English"}) {
        ASSERT_TRUE(sim::MakeDirectories(Staged(dir)));
    }
    ASSERT_TRUE(sim::PutFile(Staged("unrelated.tmp"), "another program's"));
    sim::ClearCalls();

    CleanStagingArea(kInit);

    EXPECT_EQ(CleanupCalls(), ExpectedCalls(std::string(kInit) + "\\"));
    // Even an empty Init goes, but the shared TEMP root is never removed.
    EXPECT_FALSE(sim::DirectoryExists(Staged("Init")));
    EXPECT_FALSE(sim::DirectoryExists(Staged("English")));
    EXPECT_TRUE(sim::DirectoryExists(kRoot));
    EXPECT_TRUE(sim::FileExists(Staged("unrelated.tmp")));
}

// A directory of exactly `length` characters below C:\ (no trailing backslash).
std::string DirectoryOfLength(size_t length) {
    std::string path = "C:\\";
    while (path.size() < length) {
        if (path.size() % 50 == 49) {
            path += '\\';
        } else {
            path += 'd';
        }
    }
    if (path.back() == '\\') {
        path.back() = 'e';
    }
    return path;
}

TEST(StagingCleanup, RowsThatDoNotFitAPathBufferAreSkippedNeverShortened) {
    // 237 characters + "\" + the longest row (21) is the most a 260-byte buffer holds.
    for (size_t length : {236u, 237u, 238u, 239u, 240u, 258u, 259u, 260u, 261u, 262u}) {
        for (bool trailingBackslash : {false, true}) {
            std::string directory = DirectoryOfLength(length - 5) + "\\Init";
            SCOPED_TRACE(testing::Message() << length << " characters"
                                            << (trailingBackslash ? " and a backslash" : ""));
            sim::ResetTypical();
            std::string root = directory.substr(0, directory.rfind('\\'));
            for (const char* dir : {"Config", "Extra", "English"}) {
                ASSERT_TRUE(sim::MakeDirectories(root + "\\" + dir));
            }
            ASSERT_TRUE(sim::MakeDirectories(directory));
            std::string given = directory + (trailingBackslash ? "\\" : "");
            CleanStagingArea(given.c_str());

            // A row goes only when its path fits, and so do the paths by which its directory
            // and the root are checked first.
            auto fits = [&](const std::string& relative) {
                return directory.size() + 1 + relative.size() <= 259;
            };
            std::vector<std::pair<std::string, std::string>> expected;
            for (const auto& call : kExpectedCalls) {
                std::string relative = call.second;
                std::string checked = relative.compare(0, 3, "..\\") != 0 ? "..\\Init"
                                      : call.first == "RemoveDirectoryA"
                                          ? relative
                                          : relative.substr(0, relative.find('\\', 3));
                if (fits(relative) && fits(checked) && fits("..") && given.size() <= 259) {
                    expected.emplace_back(call.first, directory + "\\" + relative);
                }
            }
            EXPECT_EQ(CleanupCalls(), expected);
        }
    }
}

}  // namespace
