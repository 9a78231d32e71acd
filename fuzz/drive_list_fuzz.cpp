// Fuzzes the drive-list walk: arbitrary bytes as GetLogicalDriveStringsA would leave them in the
// survey's buffer, with an arbitrary mix of drive types and free space on the simulated machine.
//
// The first byte picks the system directory's drive letter; the rest is the list, handed to
// RecordDrives in an exact-size heap block, so AddressSanitizer sees any read past it.
// Checked for every input:
// - the table holds at most 25 entries, each a root that the list holds whole, upper-cased;
// - at most one entry is flagged as the system drive;
// - the best fixed drive is empty or the upper-cased root of a fixed drive in the table (or,
//   when the table overflowed, one listed before the overflow stopped the walk).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <set>
#include <string>

#include "bootstrap/drive_survey.h"
#include "sim/machine.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

// Upper-cased as CharUpperA does it (code page 1252: accented letters too).
std::string Upper(std::string text) {
    os::CharUpperA(&text[0]);
    return text;
}

// A machine whose drive letters have types and free space that depend on the letter, so
// fixed, removable and failing drives all occur.
void PrepareMachine(char systemLetter) {
    sim::Reset();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        unsigned kind = static_cast<unsigned>(letter - 'A') % 5;
        unsigned type =
            kind == 0 ? os::kDriveRemovable : (kind == 4 ? os::kDriveCdrom : os::kDriveFixed);
        std::string root = std::string(1, letter) + ":\\";
        sim::AddDrive(root, type, static_cast<uint64_t>((letter * 37) % 11) << 20);
        if (kind == 3) {
            sim::SetFreeSpaceQueryFails(root, true);
        }
    }
    sim::SetSystemDirectory(std::string(1, systemLetter) + ":\\WINDOWS\\SYSTEM");
}

// Every NUL-terminated root that lies whole in the list, upper-cased.
std::set<std::string> RootsListed(const char* list, size_t size) {
    std::set<std::string> roots;
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
        if (list[i] == '\0') {
            if (i > start) {
                roots.insert(Upper(std::string(list + start, i - start)));
            }
            start = i + 1;
        }
    }
    return roots;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    PrepareMachine(static_cast<char>('A' + data[0] % 26));
    size_t listSize = size - 1;
    std::unique_ptr<char[]> list(new char[listSize == 0 ? 1 : listSize]);
    if (listSize != 0) {
        memcpy(list.get(), data + 1, listSize);
    }

    ResetDriveSurvey();
    std::unique_ptr<DriveTable> table(new DriveTable());
    int32_t status = RecordDrives(table.get(), list.get(), listSize);
    (void)status;

    std::set<std::string> listed = RootsListed(list.get(), listSize);
    Require(table->count >= 0 && table->count <= kDriveTableCapacity, "count within 0..25");
    int systems = 0;
    std::set<std::string> fixedRoots;
    for (int32_t i = 0; i < table->count; ++i) {
        const DriveEntry& entry = table->entries[i];
        Require(memchr(entry.root, '\0', sizeof entry.root) != nullptr, "root ends in its field");
        Require(listed.count(entry.root) != 0, "root listed whole");
        Require(Upper(entry.root) == entry.root, "root upper-cased");
        systems += entry.isSystem;
        Require(entry.isSystem == 0 || entry.isSystem == 1, "flag is 0 or 1");
        if (entry.driveType == static_cast<int32_t>(os::kDriveFixed)) {
            fixedRoots.insert(entry.root);
        } else {
            Require(entry.freeMB == 0, "free space only for fixed drives");
        }
    }
    for (int32_t i = table->count; i < kDriveTableCapacity; ++i) {
        Require(table->entries[i].root[0] == '\0', "unused entries stay cleared");
    }
    Require(systems <= 1, "at most one system entry");
    std::string best = BestFixedDrive();
    bool overflowed = table->count == kDriveTableCapacity;
    Require(best.empty() || fixedRoots.count(best) != 0 || (overflowed && listed.count(best) != 0),
            "best fixed drive is a listed fixed root");

    // The same bytes through the survey's own call: the system's answer in its 260 bytes.
    if (listSize <= 260) {
        sim::SetDriveStringsOverride(std::string(list.get(), listSize));
        ResetDriveSurvey();
        Require(SurveyDrives() == 0, "survey allocates its table");
        DriveTable* surveyed = ProcessDriveTable();
        Require(surveyed != nullptr && surveyed->count <= kDriveTableCapacity, "survey table");
        int surveyedSystems = 0;
        for (int32_t i = 0; i < surveyed->count; ++i) {
            surveyedSystems += surveyed->entries[i].isSystem;
        }
        Require(surveyedSystems <= 1, "survey: at most one system entry");
    }
    return 0;
}
