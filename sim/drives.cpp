// Drives: the list of drives, their types, free space and volumes, and what can be written on
// them.
#include <string.h>

#include <algorithm>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

Drive* FindDrive(char letter) {
    char upper = static_cast<char>(UpperChar(static_cast<unsigned char>(letter)));
    for (auto& drive : M().drives) {
        if (drive->letter == upper) {
            return drive.get();
        }
    }
    return nullptr;
}

os::Dword WriteProtection(const Drive* drive) {
    if (drive->type == os::kDriveCdrom) {
        return os::kErrorAccessDenied;
    }
    return drive->readOnly ? static_cast<os::Dword>(os::kErrorWriteProtect) : 0;
}

}  // namespace model

using namespace model;

void AddDrive(const std::string& root, unsigned type, uint64_t freeBytes) {
    if (root.empty() || FindDrive(root[0]) != nullptr) {
        return;
    }
    auto drive = std::make_unique<Drive>();
    drive->letter = static_cast<char>(UpperChar(static_cast<unsigned char>(root[0])));
    drive->root = std::string(1, drive->letter) + ":\\";
    drive->type = type;
    drive->freeBytes = freeBytes;
    drive->keepsOwners = type == os::kDriveFixed;
    drive->top = std::make_shared<Node>();
    drive->top->directory = true;
    drive->top->attributes = 0;
    drive->top->owner = kAdministratorsSid;
    M().drives.push_back(std::move(drive));
}

void SetDriveFreeBytes(const std::string& root, uint64_t freeBytes) {
    if (Drive* drive = root.empty() ? nullptr : FindDrive(root[0])) {
        drive->freeBytes = freeBytes;
    }
}

uint64_t DriveFreeBytes(const std::string& root) {
    Drive* drive = root.empty() ? nullptr : FindDrive(root[0]);
    return drive == nullptr ? 0 : drive->freeBytes;
}

void SetFreeSpaceQueryFails(const std::string& root, bool fails) {
    if (Drive* drive = root.empty() ? nullptr : FindDrive(root[0])) {
        drive->freeQueryFails = fails;
    }
}

void SetDriveReadOnly(const std::string& root, bool readOnly) {
    if (Drive* drive = root.empty() ? nullptr : FindDrive(root[0])) {
        drive->readOnly = readOnly;
    }
}

void SetDriveStringsOverride(const std::string& bytes) {
    M().driveStringsOverridden = true;
    M().driveStringsOverride = bytes;
}

void ClearDriveStringsOverride() {
    M().driveStringsOverridden = false;
    M().driveStringsOverride.clear();
}

}  // namespace sim

using namespace sim::model;

namespace {

// FS_CASE_IS_PRESERVED: every file system here keeps the case of names.
const os::Dword kFsCaseIsPreserved = 0x2;
const uint64_t kClusterBytes = 8 * 512;

}  // namespace

namespace os {

Dword GetLogicalDriveStringsA(Dword bufferLength, char* buffer) {
    if (Enter("GetLogicalDriveStringsA", nullptr)) {
        return 0;
    }
    Machine& m = M();
    std::string bytes;
    if (m.driveStringsOverridden) {
        bytes = m.driveStringsOverride;
    } else {
        for (auto& drive : m.drives) {
            bytes += drive->root;
            bytes += '\0';
        }
        bytes += '\0';
    }
    if (bytes.empty()) {
        return 0;
    }
    if (bufferLength < bytes.size() || buffer == nullptr) {
        return static_cast<Dword>(bytes.size());  // the size needed; nothing written
    }
    memcpy(buffer, bytes.data(), bytes.size());
    // The count leaves out the NUL that ends the list.
    return static_cast<Dword>(bytes.back() == '\0' ? bytes.size() - 1 : bytes.size());
}

// The drive of a root "X:\" (nullptr for the current drive), or nullptr.
static Drive* DriveOfRoot(const char* root, bool* wellFormed) {
    std::string text;
    if (root == nullptr) {
        text = Current().currentDirectory.substr(0, 3);
    } else {
        text = root;
    }
    *wellFormed = text.size() == 3 && text[1] == ':' && text[2] == '\\';
    return *wellFormed ? FindDrive(text[0]) : nullptr;
}

// The drive of `root` for a query about it; nullptr, with the last error set, when there is
// none (3) or `root` is no drive root (123).
static Drive* DriveForQuery(const char* root) {
    bool wellFormed = false;
    Drive* drive = DriveOfRoot(root, &wellFormed);
    if (drive == nullptr) {
        SetError(wellFormed ? static_cast<Dword>(kErrorPathNotFound) : kErrorInvalidName);
    }
    return drive;
}

unsigned GetDriveTypeA(const char* root) {
    if (Enter("GetDriveTypeA", root)) {
        return kDriveUnknown;
    }
    bool wellFormed = false;
    Drive* drive = DriveOfRoot(root, &wellFormed);
    return drive == nullptr ? static_cast<unsigned>(kDriveNoRootDir) : drive->type;
}

Bool GetDiskFreeSpaceA(const char* root, Dword* sectorsPerCluster, Dword* bytesPerSector,
                       Dword* freeClusters, Dword* totalClusters) {
    if (Enter("GetDiskFreeSpaceA", root)) {
        return 0;
    }
    Drive* drive = DriveForQuery(root);
    if (drive == nullptr) {
        return 0;
    }
    if (drive->freeQueryFails) {
        SetError(kErrorNotReady);
        return 0;
    }
    // 8 sectors of 512 bytes per cluster; counts beyond 32 bits are capped.
    uint64_t free = drive->freeBytes / kClusterBytes;
    uint64_t total = (drive->freeBytes + TreeBytes(drive->top.get())) / kClusterBytes;
    if (sectorsPerCluster != nullptr) {
        *sectorsPerCluster = 8;
    }
    if (bytesPerSector != nullptr) {
        *bytesPerSector = 512;
    }
    if (freeClusters != nullptr) {
        *freeClusters = static_cast<Dword>(std::min<uint64_t>(free, 0xFFFFFFFFu));
    }
    if (totalClusters != nullptr) {
        *totalClusters = static_cast<Dword>(std::min<uint64_t>(total, 0xFFFFFFFFu));
    }
    return 1;
}

Bool GetVolumeInformationA(const char* root, char* volumeName, Dword volumeNameSize,
                           Dword* serialNumber, Dword* maximumComponentLength,
                           Dword* fileSystemFlags, char* fileSystemName, Dword fileSystemNameSize) {
    if (Enter("GetVolumeInformationA", root)) {
        return 0;
    }
    Drive* drive = DriveForQuery(root);
    if (drive == nullptr) {
        return 0;
    }
    // Windows 95/98 know no owners, whatever the disk holds.
    bool owners = drive->keepsOwners && M().platform == kPlatformNt;
    std::string name = drive->type == kDriveCdrom ? "CDFS" : owners ? "NTFS" : "FAT";
    if ((volumeName != nullptr && volumeNameSize < 1) ||
        (fileSystemName != nullptr && fileSystemNameSize < name.size() + 1)) {
        SetError(kErrorInsufficientBuffer);
        return 0;
    }
    if (volumeName != nullptr) {
        volumeName[0] = '\0';
    }
    if (fileSystemName != nullptr) {
        memcpy(fileSystemName, name.c_str(), name.size() + 1);
    }
    if (serialNumber != nullptr) {
        *serialNumber = 0x1234ABCDu + static_cast<Dword>(drive->letter);
    }
    if (maximumComponentLength != nullptr) {
        *maximumComponentLength = 255;
    }
    if (fileSystemFlags != nullptr) {
        *fileSystemFlags =
            kFsCaseIsPreserved | (owners ? static_cast<Dword>(kFsPersistentAcls) : 0);
    }
    return 1;
}

}  // namespace os
