// The WinInit.ini edit as bytes in, bytes out: whole files compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/wininit_edit.h"

namespace {

const char kEntry[] = "NUL=C:\\WINDOWS\\TEMP\\INIT\\_ZORP.EX_";
const std::string E = std::string(kEntry) + "\r\n";  // the entry line as it must appear

std::string Edit(const std::string& old, const char* entry = kEntry) {
    size_t bound = RestartEntryEditBound(old.size(), std::string(entry).size());
    std::string out(bound + 16, '#');
    size_t size = AddRestartEntry(old.data(), old.size(), entry, &out[0], bound);
    EXPECT_NE(size, 0u) << "a bound-sized buffer must suffice";
    EXPECT_EQ(out.substr(bound), std::string(16, '#')) << "written past the bound";
    return out.substr(0, size);
}

struct EditCase {
    const char* comment;
    std::string old;
    std::string expected;
};

const std::string kLong(1023, 'x');  // one character more than is looked at

const EditCase kCases[] = {
    {"empty file", "", "\r\n[Rename]\r\n" + E},
    {"no section, last line ended: an empty line before the header", "[Boot]\r\na=1\r\n",
     "[Boot]\r\na=1\r\n\r\n[Rename]\r\n" + E},
    {"no section, last line not ended: the CR LF completes it", "[Boot]\r\na=1",
     "[Boot]\r\na=1\r\n[Rename]\r\n" + E},
    {"section ends the file", "[Rename]\r\nNUL=C:\\A\r\n", "[Rename]\r\nNUL=C:\\A\r\n" + E},
    {"section ends the file without a line end: one is added before the entry",
     "[Rename]\r\nNUL=C:\\A", "[Rename]\r\nNUL=C:\\A\r\n" + E},
    {"bare header at the very end", "[Rename]", "[Rename]\r\n" + E},
    {"blank line then another section: entry after the blank, before the header",
     "[Rename]\r\nNUL=C:\\A\r\n\r\n[Other]\r\nx=1\r\n",
     "[Rename]\r\nNUL=C:\\A\r\n\r\n" + E + "[Other]\r\nx=1\r\n"},
    {"header in capitals with leading blanks, kept as it was", "  \t[RENAME]\r\n[Next]\r\n",
     "  \t[RENAME]\r\n" + E + "[Next]\r\n"},
    {"header with a remark after it", "[rename] ; pending\r\n", "[rename] ; pending\r\n" + E},
    {"RenameAll is no header", "[RenameAll]\r\n", "[RenameAll]\r\n\r\n[Rename]\r\n" + E},
    {"a line of blanks and then [ ends the section", "[Rename]\r\nNUL=C:\\A\r\n   [Other]\r\n",
     "[Rename]\r\nNUL=C:\\A\r\n" + E + "   [Other]\r\n"},
    {"two sections: only the first gets the entry", "[Rename]\r\n[Rename]\r\nNUL=C:\\B\r\n",
     "[Rename]\r\n" + E + "[Rename]\r\nNUL=C:\\B\r\n"},
    {"section after other sections", "[A]\r\n[Rename]\r\nNUL=C:\\A\r\n[B]\r\n",
     "[A]\r\n[Rename]\r\nNUL=C:\\A\r\n" + E + "[B]\r\n"},
    {"bare LF line ends become CR LF", "[Boot]\na=1\n[Rename]\nNUL=C:\\A\n",
     "[Boot]\r\na=1\r\n[Rename]\r\nNUL=C:\\A\r\n" + E},
    {"a lone CR is an ordinary byte, CR LF stays, CR CR LF keeps its first CR",
     "a\rb\r\n[Rename]\r\r\nc\r", "a\rb\r\n[Rename]\r\r\nc\r\r\n" + E},
    // A reader in text mode sees the list end at the first Ctrl-Z: the entry goes before it.
    {"Ctrl-Z ends the section: the entry before it, the rest kept",
     "[Rename]\r\nNUL=C:\\OLD1.TXT\r\n\x1a[Z]\r\n",
     "[Rename]\r\nNUL=C:\\OLD1.TXT\r\n" + E + "\x1a[Z]\r\n"},
    {"a line cut by Ctrl-Z gets its CR LF before the entry", "[Rename]\r\nNUL=C:\\A\x1a\n",
     "[Rename]\r\nNUL=C:\\A\r\n" + E + "\x1a\r\n"},
    {"no section before Ctrl-Z: one is added there, whatever follows", "[Boot]\r\n\x1a[Rename]\r\n",
     "[Boot]\r\n\r\n[Rename]\r\n" + E + "\x1a[Rename]\r\n"},
    {"a section that begins right before Ctrl-Z", "[Rename]\x1a", "[Rename]\r\n" + E + "\x1a"},
    {"NUL bytes and bytes above 127 are copied", std::string("[Rename]\r\n\0\xff\r\n", 14),
     std::string("[Rename]\r\n\0\xff\r\n", 14) + E},
    // A line longer than 1022 characters is judged by its first 1022, its rest never.
    {"a long header line is a header", "[Rename]" + kLong + "\r\n",
     "[Rename]" + kLong + "\r\n" + E},
    {"a long line starting with [ ends the section", "[Rename]\r\n[" + kLong + "\n[B]\r\n",
     "[Rename]\r\n" + E + "[" + kLong + "\r\n[B]\r\n"},
    {"a header of 1023 characters is judged by its first 1022",
     "[Rename]" + std::string(1015, ' ') + "\r\n",
     "[Rename]" + std::string(1015, ' ') + "\r\n" + E},
    {"a header whose 8th character is the 1023rd is none", std::string(1015, ' ') + "[Rename]\r\n",
     std::string(1015, ' ') + "[Rename]\r\n\r\n[Rename]\r\n" + E},
    {"the rest of a long line is no header", std::string(1022, 'x') + "[Rename]\r\n",
     std::string(1022, 'x') + "[Rename]\r\n\r\n[Rename]\r\n" + E},
    {"the rest of a long line does not end the section",
     "[Rename]\r\n" + std::string(1022, 'x') + "[B]\r\n",
     "[Rename]\r\n" + std::string(1022, 'x') + "[B]\r\n" + E},
    {"the header's 8 characters must all be on the line", "[Renam\r\ne]\r\n",
     "[Renam\r\ne]\r\n\r\n[Rename]\r\n" + E},
    {"vertical tab and form feed are white space before the header", "\v\f[Rename]\n",
     "\v\f[Rename]\r\n" + E},
    {"a byte above 127 is no white space", "\xa0[Rename]\r\n",
     "\xa0[Rename]\r\n\r\n[Rename]\r\n" + E},
};

TEST(WinInitEdit, EveryCaseGivesTheExpectedFile) {
    for (const EditCase& c : kCases) {
        EXPECT_EQ(Edit(c.old), c.expected) << c.comment;
    }
}

TEST(WinInitEdit, SchedulingTwiceGivesTwoIdenticalEntries) {
    EXPECT_EQ(Edit(Edit("")), "\r\n[Rename]\r\n" + E + E);
}

TEST(WinInitEdit, BufferTooSmallWritesNothingPastIt) {
    std::string old = "[Rename]\nNUL=C:\\A\n";
    std::string expected = Edit(old);
    for (size_t capacity = 0; capacity <= expected.size(); ++capacity) {
        std::string out(capacity + 4, '#');
        size_t size = AddRestartEntry(old.data(), old.size(), kEntry, &out[0], capacity);
        EXPECT_EQ(size, capacity == expected.size() ? expected.size() : 0u) << capacity;
        EXPECT_EQ(out.substr(capacity), "####") << capacity;
    }
}

TEST(WinInitEdit, BoundCoversTheWorstCaseAndRefusesOverflow) {
    std::string allLineFeeds(100, '\n');  // every byte doubles
    size_t bound = RestartEntryEditBound(allLineFeeds.size(), sizeof kEntry - 1);
    EXPECT_LE(Edit(allLineFeeds).size(), bound);
    EXPECT_EQ(Edit(allLineFeeds).size(), 200 + 14 + sizeof kEntry - 1);  // worst case is exact
    EXPECT_EQ(RestartEntryEditBound(SIZE_MAX / 2, 10), 0u);
    EXPECT_EQ(RestartEntryEditBound(10, SIZE_MAX - 30), 0u);
}

// ---- The edit in pieces

bool Collect(EditOutput* out) {
    static_cast<std::string*>(out->context)->append(out->data, out->used);
    out->used = 0;
    return true;
}

// Feeds `old` in pieces of `pieceSize` as restart_deletion.cpp does: what the edit leaves goes
// again in front of the next piece. The output passes through a buffer of `outputSize` bytes.
std::string EditInPieces(const std::string& old, size_t pieceSize, size_t outputSize) {
    std::string collected;
    std::vector<char> buffer(outputSize);
    EditOutput out = {buffer.data(), outputSize, 0, Collect, &collected, false};
    RestartEdit edit;
    StartRestartEdit(&edit, kEntry);
    std::string room;  // what the edit left, then the next piece
    for (size_t at = 0;;) {
        size_t piece = std::min(pieceSize, old.size() - at);
        room += old.substr(at, piece);
        at += piece;
        bool last = at == old.size();
        std::vector<char> exact(room.begin(), room.end());  // AddressSanitizer sees its end
        size_t taken = ContinueRestartEdit(&edit, exact.data(), exact.size(), last, &out);
        if (last) {
            EXPECT_EQ(taken, room.size()) << "the last piece is taken whole";
            break;
        }
        EXPECT_LE(room.size() - taken, kRestartEditCarry) << "left more than a line's start";
        room.erase(0, taken);
    }
    EXPECT_FALSE(out.failed);
    return collected + std::string(out.data, out.used);
}

TEST(WinInitEdit, PiecesOfAnySizeGiveTheSameFile) {
    std::vector<EditCase> cases(std::begin(kCases), std::end(kCases));
    std::string manyLines = "[Boot]\n";
    for (int i = 0; i < 300; ++i) {
        manyLines +=
            (i == 150 ? "[Rename]" : "NUL=C:\\F" + std::to_string(i)) + (i % 2 ? "\n" : "\r\n");
    }
    cases.push_back({"a section in the middle of many lines", manyLines + "[B]\n", ""});
    cases.push_back({"a long line starting with [ in the section",
                     manyLines + "[" + kLong + kLong + "\r\n[B]", ""});
    for (EditCase& c : cases) {
        std::string whole = Edit(c.old);
        if (!c.expected.empty()) {
            EXPECT_EQ(whole, c.expected) << c.comment;
        }
        for (size_t piece : {1, 2, 7, 1021, 1022, 1023, 1024, 4096}) {
            for (size_t output : {1, 3, 64}) {
                EXPECT_EQ(EditInPieces(c.old, piece, output), whole)
                    << c.comment << ", pieces of " << piece << ", output buffer " << output;
            }
        }
    }
}

bool FailSecondDrain(EditOutput* out) {
    int* drains = static_cast<int*>(out->context);
    out->used = 0;
    return ++*drains < 2;
}

TEST(WinInitEdit, AFailedDrainStopsTheOutput) {
    char buffer[4];
    int drains = 0;
    EditOutput out = {buffer, sizeof buffer, 0, FailSecondDrain, &drains, false};
    RestartEdit edit;
    StartRestartEdit(&edit, kEntry);
    std::string old = "[Rename]\r\nNUL=C:\\A\r\n[B]\r\n";
    EXPECT_EQ(ContinueRestartEdit(&edit, old.data(), old.size(), true, &out), old.size());
    EXPECT_TRUE(out.failed);
    EXPECT_EQ(drains, 2) << "no drain after the one that failed";
}

TEST(WinInitEdit, EntryFormatFitsAPathOf259AndRefusesMore) {
    RestartEntry entry = "untouched";
    std::string path259(259, 'A');
    ASSERT_TRUE(FormatRestartEntry(path259.c_str(), entry));
    EXPECT_EQ(std::string(entry), "NUL=" + path259);
    RestartEntry refused = "untouched";
    EXPECT_FALSE(FormatRestartEntry((path259 + "A").c_str(), refused));
    EXPECT_STREQ(refused, "untouched");
}

}  // namespace
