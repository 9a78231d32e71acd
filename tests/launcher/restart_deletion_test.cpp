// Deletion at restart on the simulated machine: the NT call, the WinInit.ini rewrite on disk,
// recovery of a list stranded by a cut-off replacement, and a sweep of failing platform calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/restart_deletion.h"
#include "launcher/wininit_edit.h"
#include "sim/machine.h"

namespace {

const char kList[] = "C:\\WINDOWS\\WinInit.ini";
const char kTemp[] = "C:\\WINDOWS\\WinInit.tmp";
const char kBackup[] = "C:\\WINDOWS\\WinInit.old";
const char kStaging[] = "C:\\WINDOWS\\TEMP\\Staging Init";
const char kTarget[] = "C:\\WINDOWS\\TEMP\\Staging Init\\_zorp.ex_";
const char kEntry[] = "NUL=C:\\WINDOWS\\TEMP\\STAGIN~1\\_zorp.ex_";

// A typical machine with the staged launcher in a directory whose short name differs.
void ResetWithTarget(bool windowsNt) {
    sim::ResetTypical(500, windowsNt);
    ASSERT_TRUE(sim::PutFile(kTarget, "MZ"));
    sim::SetShortName(kStaging, "STAGIN~1");
}

// The file's content, or "<absent>".
std::string Content(const std::string& path) {
    std::string content;
    return sim::GetFile(path, &content) ? content : "<absent>";
}

void PutUnlessAbsent(const std::string& path, const std::string& content,
                     os::Dword attributes = os::kAttrNormal) {
    if (content != "<absent>") {
        ASSERT_TRUE(sim::PutFile(path, content, attributes));
    }
}

// The list that must follow `old` ("<absent>" for none) once kEntry is added.
std::string WithEntry(const std::string& old) {
    if (old == "<absent>") {
        return "[Rename]\r\n" + std::string(kEntry) + "\r\n";
    }
    size_t bound = RestartEntryEditBound(old.size(), sizeof kEntry - 1);
    std::string out(bound, '\0');
    out.resize(AddRestartEntry(old.data(), old.size(), kEntry, &out[0], bound));
    return out;
}

int CallsOf(const std::string& op) {
    int count = 0;
    for (const sim::Call& call : sim::Calls()) {
        count += call.op == op;
    }
    return count;
}

int RunDeleter(const std::string& argument, const std::string& directory) {
    sim::RegisterProgram(
        "deleter", [](os::Handle, const char* tail) { return DeleteAtRestart(tail) ? 1 : 0; });
    EXPECT_TRUE(sim::PutFile("C:\\TOOLS\\DELETER.EXE", sim::ProgramImage("deleter")));
    return static_cast<int>(sim::RunProgram("C:\\TOOLS\\DELETER.EXE " + argument, directory));
}

// A file in the staging directory whose full path is `length` characters long.
std::string FileOfLength(size_t length) {
    std::string path = std::string(kStaging) + "\\";
    path += std::string(length - path.size(), 'x');
    EXPECT_TRUE(sim::PutFile(path, "x"));
    return path;
}

// A Windows directory of `length` characters: the list path is 12 characters longer.
std::string WindowsDirectoryOfLength(size_t length) {
    std::string directory = "C:\\" + std::string(length - 3, 'W');
    EXPECT_TRUE(sim::MakeDirectories(directory));
    sim::SetWindowsDirectory(directory);
    return kTarget;
}

// A file 84 characters deep whose short path is 364 characters long.
std::string FileWithLongShortPath() {
    std::string directory = "C:";
    for (int level = 0; level < 40; ++level) {
        directory += "\\d";
        EXPECT_TRUE(sim::MakeDirectories(directory));
        sim::SetShortName(directory, "LONGER~" + std::to_string(level % 10));
    }
    EXPECT_TRUE(sim::PutFile(directory + "\\f", "x"));
    return directory + "\\f";
}

TEST(RestartDeletion, NtRecordsThePathAsPassedAndLeavesTheListAlone) {
    ResetWithTarget(true);
    ASSERT_TRUE(sim::PutFile(kList, "[Rename]\r\n"));
    sim::ClearCalls();
    EXPECT_TRUE(DeleteAtRestart(kTarget));
    EXPECT_EQ(sim::PendingDeletions(), std::vector<std::string>{kTarget});  // long, as passed
    EXPECT_EQ(CallsOf("MoveFileExA"), 1);
    for (const sim::Call& call : sim::Calls()) {
        EXPECT_EQ(call.arg.find("WinInit"), std::string::npos) << call.op << " " << call.arg;
    }
    EXPECT_EQ(Content(kList), "[Rename]\r\n");
}

TEST(RestartDeletion, NtKeepsARelativePathRelative) {
    ResetWithTarget(true);
    EXPECT_EQ(RunDeleter("_zorp.ex_", kStaging), 1);
    EXPECT_EQ(sim::PendingDeletions(), std::vector<std::string>{"_zorp.ex_"});
    EXPECT_EQ(Content(kList), "<absent>");
}

struct ListCase {
    const char* comment;
    std::string old;
    std::string expected;
};

TEST(RestartDeletion, Windows9xRewritesTheListOnDisk) {
    const std::string e = std::string(kEntry) + "\r\n";
    const ListCase cases[] = {
        {"no list: header and entry, no empty first line", "<absent>", "[Rename]\r\n" + e},
        {"empty list", "", "\r\n[Rename]\r\n" + e},
        {"other sections only", "[Boot]\r\na=1\r\n", "[Boot]\r\na=1\r\n\r\n[Rename]\r\n" + e},
        {"section between others, bare LF ends", "[Rename]\nNUL=C:\\A\n\n[B]\n",
         "[Rename]\r\nNUL=C:\\A\r\n\r\n" + e + "[B]\r\n"},
        {"binary bytes and Ctrl-Z survive the file I/O", std::string("[Rename]\r\n\x1a\0\xff", 13),
         "[Rename]\r\n" + e + std::string("\x1a\0\xff", 3)},
    };
    for (const ListCase& c : cases) {
        ResetWithTarget(false);
        PutUnlessAbsent(kList, c.old);
        EXPECT_TRUE(DeleteAtRestart(kTarget)) << c.comment;
        EXPECT_EQ(Content(kList), c.expected) << c.comment;
        EXPECT_FALSE(sim::FileExists(kTemp)) << c.comment;
        EXPECT_FALSE(sim::FileExists(kBackup)) << c.comment;
        EXPECT_EQ(CallsOf("MoveFileExA"), 0) << c.comment;  // not there on Windows 95/98
    }
}

TEST(RestartDeletion, ARelativeNameIsRecordedAbsoluteAndDeletedAtRestart) {
    ResetWithTarget(false);
    EXPECT_EQ(RunDeleter("_zorp.ex_", kStaging), 1);
    EXPECT_EQ(Content(kList), "[Rename]\r\n" + std::string(kEntry) + "\r\n");
    EXPECT_EQ(sim::Restart(), 1);
    EXPECT_FALSE(sim::FileExists(kTarget));
}

TEST(RestartDeletion, DriveRootWindowsDirectoryGetsNoDoubledBackslash) {
    ResetWithTarget(false);
    sim::SetWindowsDirectory("C:\\");
    EXPECT_TRUE(DeleteAtRestart(kTarget));
    EXPECT_TRUE(sim::FileExists("C:\\WinInit.ini"));
    for (const sim::Call& call : sim::Calls()) {
        EXPECT_EQ(call.arg.find("\\\\"), std::string::npos) << call.op << " " << call.arg;
    }
}

// Each row fails before anything is written: the whole disk is as it was.
TEST(RestartDeletion, RefusalsTouchNothing) {
    struct Refusal {
        const char* comment;
        sim::FaultRule fault;  // op "": none
        const char* path;
        os::Dword listAttributes;
    };
    const Refusal refusals[] = {
        {"the file does not exist",
         {},
         "C:\\WINDOWS\\TEMP\\Staging Init\\missing.dll",
         os::kAttrNormal},
        {"an existing list that cannot be opened for reading",
         {"CreateFileA", 1, kList, os::kErrorAccessDenied, true},
         kTarget,
         os::kAttrNormal},
        {"an existing list whose read fails",
         {"ReadFile", 1, "", os::kErrorNotReady, true},
         kTarget,
         os::kAttrNormal},
        {"the Windows directory cannot be had",
         {"GetWindowsDirectoryA", 1, "", 0, true},
         kTarget,
         os::kAttrNormal},
        {"a read-only list is not replaced", {}, kTarget, os::kAttrReadOnly},
    };
    for (const Refusal& r : refusals) {
        ResetWithTarget(false);
        ASSERT_TRUE(sim::PutFile(kList, "[Rename]\r\nNUL=C:\\OLD\r\n", r.listAttributes));
        if (!r.fault.op.empty()) {
            sim::AddFault(r.fault);
        }
        std::vector<sim::Entry> before = sim::SnapshotAll();
        EXPECT_FALSE(DeleteAtRestart(r.path)) << r.comment;
        EXPECT_EQ(sim::FaultsFired(), r.fault.op.empty() ? 0 : 1) << r.comment;
        std::vector<sim::Entry> after = sim::SnapshotAll();
        ASSERT_EQ(before.size(), after.size()) << r.comment;
        for (size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(before[i].path, after[i].path) << r.comment;
            EXPECT_EQ(before[i].content, after[i].content) << r.comment;
            EXPECT_EQ(before[i].attributes, after[i].attributes) << r.comment;
        }
    }
}

// Two launchers that end together must not interleave their edits: the list is only touched
// while its mutex is owned, and left whole when another editor keeps it.
TEST(RestartDeletion, EditsTheListOnlyWhileOwningItsMutex) {
    const char kListMutex[] = "MutexToProtectWinInit";
    const std::string old = "[Rename]\r\nNUL=C:\\OLD\r\n";

    ResetWithTarget(false);
    ASSERT_TRUE(sim::PutFile(kList, old));
    sim::HoldMutex(kListMutex);  // another launcher is half-way through its edit
    sim::ClearCalls();
    EXPECT_FALSE(DeleteAtRestart(kTarget));
    EXPECT_EQ(Content(kList), old);
    EXPECT_EQ(CallsOf("CreateFileA") + CallsOf("MoveFileA") + CallsOf("DeleteFileA"), 0);

    // An editor that died half-way leaves the mutex abandoned: the next one takes it over.
    sim::AbandonHeldMutex(kListMutex);
    EXPECT_TRUE(DeleteAtRestart(kTarget));
    EXPECT_EQ(Content(kList), WithEntry(old));
    EXPECT_FALSE(sim::MutexOwned(kListMutex));
    EXPECT_EQ(sim::OpenMutexHandles(kListMutex), 0);

    // A mutex that cannot be created is gone without, as the programs' guard goes without.
    sim::FaultRule rule;
    rule.op = "CreateMutexA";
    sim::AddFault(rule);
    EXPECT_TRUE(DeleteAtRestart(kTarget));
    EXPECT_EQ(Content(kList), WithEntry(WithEntry(old)));
}

// Every path is held in 260 characters: 259 and a NUL fit, one more is refused untouched.
TEST(RestartDeletion, PathsFitUpTo259Characters) {
    struct LengthCase {
        const char* comment;
        std::string (*arrange)();  // returns the path to schedule
        bool fits;
    };
    const LengthCase cases[] = {
        {"full path of 259", [] { return FileOfLength(259); }, true},
        {"full path of 260", [] { return FileOfLength(260); }, false},
        {"list path of 259", [] { return WindowsDirectoryOfLength(247); }, true},
        {"list path of 260 (WinInit.tmp and .old are as long)",
         [] { return WindowsDirectoryOfLength(248); }, false},
        {"short path over 259 (short names longer than the long ones)",
         [] { return FileWithLongShortPath(); }, false},
    };
    for (const LengthCase& c : cases) {
        ResetWithTarget(false);
        std::string path = c.arrange();
        EXPECT_EQ(DeleteAtRestart(path.c_str()), c.fits) << c.comment;
        EXPECT_EQ(CallsOf("CreateFileA"), c.fits ? 1 : 0) << c.comment;  // WinInit.tmp only
    }
}

// Lines of about `bytes` bytes in all, ending alternately in LF and CR LF.
std::string Filler(size_t bytes) {
    std::string lines;
    for (int i = 0; lines.size() < bytes; ++i) {
        lines += "NUL=C:\\F" + std::to_string(i) + (i % 2 ? "\n" : "\r\n");
    }
    return lines;
}

// Far more than one read of the list: what the edit leaves at the end of a piece must come
// back in front of the next one, and a CR LF may be cut between two reads.
TEST(RestartDeletion, AListOfManyPiecesIsEditedAsAWhole) {
    struct PiecesCase {
        const char* comment;
        std::string old;
        std::string after;  // what follows the entry line in the new list
    };
    const std::string longLine = "  [" + std::string(70000, 'x') + "\r\n";
    const PiecesCase cases[] = {
        {"the section starts and ends far into the list",
         "[Boot]\n" + Filler(100000) + "[Rename]\n" + Filler(100000) + "[Next]\n" + Filler(9000),
         "[Next]\r\n"},
        {"a line longer than a piece, starting with [, ends the section",
         "[Rename]\r\n" + Filler(60000) + longLine + Filler(70000) + "[B]\r\n", longLine},
        {"no section: the header at the end of a long list", Filler(200000) + "x\r", ""},
    };
    const std::string entryLine = std::string(kEntry) + "\r\n";
    for (const PiecesCase& c : cases) {
        for (size_t shift = 0; shift < 3; ++shift) {  // line ends at other places in the pieces
            std::string old = std::string(shift, ' ') + c.old;
            ResetWithTarget(false);
            ASSERT_TRUE(sim::PutFile(kList, old));
            EXPECT_TRUE(DeleteAtRestart(kTarget)) << c.comment;
            std::string list = Content(kList);
            EXPECT_EQ(list, WithEntry(old)) << c.comment;
            size_t entry = list.find(entryLine);
            ASSERT_NE(entry, std::string::npos) << c.comment;
            // Independent of the edit's own code: the entry line, then what must follow it.
            size_t end = entry + entryLine.size();
            EXPECT_EQ(list.substr(end, c.after.empty() ? std::string::npos : c.after.size()),
                      c.after)
                << c.comment;
            EXPECT_GE(CallsOf("ReadFile"), 3) << c.comment;
        }
    }
}

struct StrandCase {
    const char* comment;
    std::string list, temp, backup;
    std::string expectedList;
};

TEST(RestartDeletion, AStrandedListIsRestoredBeforeTheEdit) {
    const std::string old = "[Rename]\r\nNUL=C:\\OLD\r\n";
    const StrandCase cases[] = {
        {"cut off between the renames: the old list comes back, WinInit.tmp is not promoted",
         "<absent>", "[Rename]\r\nNUL=C:\\HALF", old, WithEntry(old)},
        {"backup left after a finished replacement that Windows has since worked through: "
         "never restored",
         "<absent>", "<absent>", old, WithEntry("<absent>")},
        {"backup left beside the list: stale, discarded", "[X]\r\n", "<absent>", old,
         WithEntry("[X]\r\n")},
        {"a leftover WinInit.tmp alone is ignored", "[X]\r\n", "junk", "<absent>",
         WithEntry("[X]\r\n")},
    };
    for (const StrandCase& c : cases) {
        ResetWithTarget(false);
        PutUnlessAbsent(kList, c.list);
        PutUnlessAbsent(kTemp, c.temp);
        PutUnlessAbsent(kBackup, c.backup, os::kAttrReadOnly);
        EXPECT_TRUE(DeleteAtRestart(kTarget)) << c.comment;
        EXPECT_EQ(Content(kList), c.expectedList) << c.comment;
        EXPECT_FALSE(sim::FileExists(kTemp)) << c.comment;
        EXPECT_FALSE(sim::FileExists(kBackup)) << c.comment;
    }
}

// ---- Fault sweep

struct StartState {
    const char* comment;
    std::string list;
};

const StartState kStartStates[] = {
    {"no list", "<absent>"},
    {"empty list", ""},
    {"with a section", "[Boot]\r\n[Rename]\r\nNUL=C:\\OLD\r\n\r\n[Other]\r\n"},
    {"without a section", "[Boot]\nshell=x"},
    {"a list read and written in several pieces", "[Rename]\r\n" + Filler(150000) + "[B]\n"},
};

// After a run with faults: either recorded with the complete new list, or not recorded with
// the list exactly as before. Only when calls keep failing may the rename that puts the old
// list back fail too; the old list then waits as WinInit.old. Either way, a clean call after
// it must give the old list plus one entry.
void CheckAfterFaults(const StartState& state, bool nt, bool once, bool recorded,
                      const std::string& what) {
    std::string list = Content(kList);
    bool onNtList = nt && !sim::PendingDeletions().empty();
    if (recorded) {
        EXPECT_TRUE(onNtList || list == WithEntry(state.list)) << what;
    } else {
        EXPECT_TRUE(sim::PendingDeletions().empty()) << what;
        bool stranded = !once && list == "<absent>" && Content(kBackup) == state.list;
        EXPECT_TRUE(list == state.list || stranded) << what << " list now: " << list;
    }
    if (recorded || nt) {
        return;
    }
    sim::ClearFaults();
    EXPECT_TRUE(DeleteAtRestart(kTarget)) << what << " (clean call after)";
    EXPECT_EQ(Content(kList), WithEntry(state.list)) << what << " (clean call after)";
}

void Sweep(bool once) {
    for (bool nt : {false, true}) {
        for (const StartState& state : kStartStates) {
            for (int n = 1;; ++n) {
                ResetWithTarget(nt);
                PutUnlessAbsent(kList, state.list);
                sim::AddFault({"", n, "", 0, once});
                bool recorded = DeleteAtRestart(kTarget);
                int fired = sim::FaultsFired();
                std::string what = std::string(state.comment) + (nt ? ", NT" : ", 9x") +
                                   ", failing call " + std::to_string(n) +
                                   (once ? "" : " and later");
                CheckAfterFaults(state, nt, once, recorded, what);
                if (fired == 0) {
                    EXPECT_TRUE(recorded) << what;
                    break;
                }
                ASSERT_LT(n, 100) << what << ": the sweep does not end";
            }
        }
    }
}

// The power fails just before call n of the edit, or after its last: Windows 95/98 then start
// with the old list or the new one whole under WinInit.ini, or, cut between the two renames,
// with the old one under WinInit.old beside the new one, where the next edit puts it back.
// Never with an empty or partial list: what was not flushed is lost.
TEST(RestartDeletionFaults, APowerCutAfterAnyCallLeavesAWholeList) {
    for (const StartState& state : kStartStates) {
        bool last = false;
        for (int n = 1; !last; ++n) {
            ResetWithTarget(false);
            PutUnlessAbsent(kList, state.list);
            std::string what =
                std::string(state.comment) + ", cut before call " + std::to_string(n);
            auto check = [&] {
                sim::PowerCut();
                std::string list = Content(kList);
                if (list == "<absent>" && Content(kTemp) != "<absent>") {
                    list = Content(kBackup);
                }
                EXPECT_TRUE(list == state.list || list == WithEntry(state.list))
                    << what << ": [" << list << "]";
            };
            bool cut = false;
            sim::BeforeCall("", "", n, [&] {
                cut = true;
                check();
            });
            bool recorded = DeleteAtRestart(kTarget);
            if (!cut) {
                EXPECT_TRUE(recorded) << what;
                last = true;
                what = std::string(state.comment) + ", cut after the last call";
                check();
            }
            ASSERT_LT(n, 100) << what << ": the sweep does not end";
        }
    }
}

TEST(RestartDeletionFaults, EachSingleFailingCallKeepsTheListWhole) {
    Sweep(true);
}

TEST(RestartDeletionFaults, EveryCallFailingFromSomePointOnKeepsTheListWhole) {
    Sweep(false);
}

}  // namespace
