// The drive survey: which logical drives the machine has, how much room each fixed drive
// offers, which one holds the system directory, and which fixed drive has the most room.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "common/path.h"
#include "common/platform.h"

constexpr int32_t kDriveTableCapacity = 25;
// The free megabytes of a fixed drive whose free space the platform did not report. Every
// comparison is unsigned, so it ranks above any real value.
constexpr uint32_t kFreeSpaceUnknown = 0xFFFFFFFFu;
// Drive roots as the system lists them (C:\) have 3 characters; room for 7 and the NUL.
constexpr size_t kDriveRootCapacity = 8;

// One logical drive.
struct DriveEntry {
    char root[kDriveRootCapacity];  // upper-cased, C:\; empty in a cleared entry
    uint32_t freeMB;                // fixed drives only: whole free megabytes or kFreeSpaceUnknown
    int32_t driveType;              // as GetDriveTypeA reports it
    int32_t isSystem;               // 1 for the drive that holds the system directory
};

// The drives in the order the system lists them, at most 25.
class DriveTable {
  public:
    DriveTable();  // count 0, every entry cleared

    // Appends a drive. kEFail, and nothing changed, when the table is full or the root does
    // not fit an entry.
    int32_t AddDrive(const char* root, uint32_t freeMB, int32_t driveType);
    // Flags the entry whose root is the system directory's root (case ignored). 0 when one
    // was flagged, kEFail when none matches, a positive Windows error number when the system
    // directory cannot be had (unreadable, too long, or without a backslash): nothing flagged.
    int32_t MarkSystemDrive();
    // The prefix of `path` up to and including its first backslash, into root (capacity
    // characters). 87 when the path holds no backslash, 206 when the prefix does not fit;
    // root is untouched then.
    static int32_t DriveRootOfPath(const char* path, char* root, size_t capacity);
    // freeMB of the flagged entry; 0 when none is flagged.
    uint32_t SystemDriveFreeMegabytes() const;

    DriveEntry entries[kDriveTableCapacity];
    int32_t count;
};

// Forgets the process's survey: no table, an empty best fixed drive. Setup calls it first
// (the simulated machine runs several setups in one process). The heap block of an earlier
// table is left alone, as the process would leave it.
void ResetDriveSurvey();

// Allocates the process's table on the heap (never freed), asks the system for its drive
// roots and records them. 0 once the table exists, whatever the recording found; kEFail when
// the table cannot be allocated.
int32_t SurveyDrives();

// Walks a list of roots (each NUL-terminated, the list ended by an empty string) that lies
// in `listSize` characters, and records each drive into `table`; remembers the best fixed
// drive, then flags the system drive. The walk never leaves the listSize characters. kEFail
// when the table overflowed or no entry could be flagged as the system drive, else 0.
int32_t RecordDrives(DriveTable* table, const char* list, size_t listSize);

// Whole free megabytes of a root, rounded down; kFreeSpaceUnknown when the query fails.
uint32_t FreeMegabytes(const char* root);

// The process's table; nullptr before SurveyDrives or when it could not be allocated.
DriveTable* ProcessDriveTable();
// The upper-cased root of the fixed drive with the most free space (C:\); empty when no
// fixed drive reported more than 0 megabytes.
const char* BestFixedDrive();
// The system drive's free megabytes from the process's table; 0 when there is no table, so
// setup turns to the best fixed drive.
uint32_t SystemDriveFreeMegabytes();
