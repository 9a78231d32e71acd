#include "bootstrap/drive_survey.h"

#include <new>

#include "common/status.h"

// Zero-initialised process-wide state: no constructor runs for it at start.
static DriveTable* g_driveTable;
static PathBuffer g_bestFixedDrive;

static void ClearEntry(DriveEntry* entry) {
    ZeroBytes(entry->root, sizeof(entry->root));
    entry->freeMB = 0;
    entry->driveType = 0;
    entry->isSystem = 0;
}

DriveTable::DriveTable() : count(0) {
    for (int32_t i = 0; i < kDriveTableCapacity; ++i) {
        ClearEntry(&entries[i]);
    }
}

int32_t DriveTable::AddDrive(const char* root, uint32_t freeMB, int32_t driveType) {
    if (count >= kDriveTableCapacity) {
        return kEFail;
    }
    DriveEntry* entry = &entries[count];
    if (!CopyText(entry->root, root)) {
        return kEFail;
    }
    entry->freeMB = freeMB;
    entry->driveType = driveType;
    ++count;
    return 0;
}

int32_t DriveTable::MarkSystemDrive() {
    PathBuffer systemDirectory;
    unsigned length = os::GetSystemDirectoryA(systemDirectory, kMaxPath);
    if (length == 0) {
        return static_cast<int32_t>(os::GetLastError());
    }
    // A directory that does not fit is reported by the size it needs, with the buffer unfilled.
    if (length >= kMaxPath) {
        return os::kErrorInsufficientBuffer;
    }
    PathBuffer systemRoot;
    int32_t status = DriveRootOfPath(systemDirectory, systemRoot, kMaxPath);
    if (status != 0) {
        return status;  // no root to match: flag nothing
    }
    for (int32_t i = 0; i < count; ++i) {
        if (os::lstrcmpiA(entries[i].root, systemRoot) == 0) {
            entries[i].isSystem = 1;
            return 0;
        }
    }
    return kEFail;
}

int32_t DriveTable::DriveRootOfPath(const char* path, char* root, size_t capacity) {
    size_t end = 0;
    while (path[end] != '\0' && path[end] != '\\') {
        ++end;
    }
    if (path[end] != '\\') {
        return os::kErrorInvalidParameter;
    }
    if (end + 1 >= capacity) {
        return os::kErrorFilenameTooLong;
    }
    // The path up to its first backslash: copy it whole, then end it after that backslash.
    PathBuffer prefix;
    if (!CopyText(prefix, path)) {
        return os::kErrorFilenameTooLong;
    }
    prefix[end + 1] = '\0';
    CopyText(root, capacity, prefix);
    return 0;
}

uint32_t DriveTable::SystemDriveFreeMegabytes() const {
    for (int32_t i = 0; i < count; ++i) {
        if (entries[i].isSystem == 1) {
            return entries[i].freeMB;
        }
    }
    return 0;
}

void ResetDriveSurvey() {
    g_driveTable = nullptr;
    ZeroBytes(g_bestFixedDrive, sizeof(g_bestFixedDrive));
}

int32_t SurveyDrives() {
    void* block = os::HeapAlloc(sizeof(DriveTable));
    if (block == nullptr) {
        return kEFail;
    }
    g_driveTable = new (block) DriveTable();

    // The buffer is zero-filled, so whatever the call leaves in it ends inside it.
    PathBuffer list;
    ZeroBytes(list, sizeof(list));
    os::Dword length = os::GetLogicalDriveStringsA(kMaxPath, list);
    // 0 is a failed call; a list that does not fit is reported by the size it needs, with the
    // buffer unfilled. Neither is a list to walk: the survey then finds no drive.
    if (length == 0 || length >= kMaxPath) {
        list[0] = '\0';
    }
    RecordDrives(g_driveTable, list, kMaxPath);
    return 0;
}

int32_t RecordDrives(DriveTable* table, const char* list, size_t listSize) {
    uint32_t bestSoFar = 0;
    size_t cursor = 0;
    // An empty list (or one that is only its end marker) holds no root at all.
    while (cursor < listSize && list[cursor] != '\0') {
        const char* listed = list + cursor;
        size_t length = 0;
        while (cursor + length < listSize && listed[length] != '\0') {
            ++length;
        }
        if (cursor + length >= listSize) {
            break;  // the last root runs off the end of the list: nothing more to trust
        }
        cursor += length + 1;

        // Drive-letter roots have 3 characters. A longer one cannot be held by an entry, and
        // a shortened copy would name another directory, so it is passed over entirely: it
        // is neither recorded nor a candidate for the best fixed drive.
        if (length >= kDriveRootCapacity) {
            continue;
        }
        PathBuffer root;
        CopyText(root, listed);  // fits: shorter than an entry's root
        os::CharUpperA(root);

        int32_t driveType = static_cast<int32_t>(os::GetDriveTypeA(root));
        uint32_t freeMB = 0;
        if (driveType == static_cast<int32_t>(os::kDriveFixed)) {
            freeMB = FreeMegabytes(root);
            if (freeMB > bestSoFar) {
                bestSoFar = freeMB;
                CopyText(g_bestFixedDrive, root);
            }
        }
        if (table->AddDrive(root, freeMB, driveType) != 0) {
            return kEFail;  // table full: later roots are not looked at, nothing is flagged
        }
    }
    return Succeeded(table->MarkSystemDrive()) ? 0 : kEFail;
}

uint32_t FreeMegabytes(const char* root) {
    os::Dword sectorsPerCluster = 0;
    os::Dword bytesPerSector = 0;
    os::Dword freeClusters = 0;
    os::Dword totalClusters = 0;
    if (!os::GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                               &totalClusters)) {
        return kFreeSpaceUnknown;
    }
    // The free bytes are sectors x bytes x clusters, which can pass 64 bits for absurd
    // values; so whole megabytes per cluster and the remainder are counted apart. A drive of
    // 4 PB or more is reported as just below the "unknown" value rather than wrapped.
    uint64_t bytesPerCluster = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
    uint64_t wholeMegabytes = bytesPerCluster >> 20;  // per cluster
    uint64_t remainder = bytesPerCluster & 0xFFFFFu;  // bytes per cluster below 1 MB
    if (freeClusters != 0 && wholeMegabytes > 0xFFFFFFFFu) {
        return kFreeSpaceUnknown - 1;
    }
    // Both products stay below 2^64: each factor of the first is below 2^32, and the
    // second is below 2^52.
    uint64_t megabytes = wholeMegabytes * freeClusters + ((remainder * freeClusters) >> 20);
    if (megabytes >= kFreeSpaceUnknown) {
        return kFreeSpaceUnknown - 1;
    }
    return static_cast<uint32_t>(megabytes);
}

DriveTable* ProcessDriveTable() {
    return g_driveTable;
}

const char* BestFixedDrive() {
    return g_bestFixedDrive;
}

uint32_t SystemDriveFreeMegabytes() {
    return g_driveTable == nullptr ? 0 : g_driveTable->SystemDriveFreeMegabytes();
}
