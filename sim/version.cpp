// Which Windows this is: its version, and its Windows and system directories.
#include <string.h>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {

using namespace model;

void SetWindowsDirectory(const std::string& path) {
    M().windowsDirectory = path;
}
void SetSystemDirectory(const std::string& path) {
    M().systemDirectory = path;
}

void SetPlatform(os::Dword platformId) {
    M().platform = platformId;
}
void SetVersionQueryFails(bool fails) {
    M().versionQueryFails = fails;
}

}  // namespace sim

using namespace sim::model;

namespace os {

Bool GetVersionExA(OsVersionInfo* info) {
    if (Enter("GetVersionExA", nullptr)) {
        return 0;
    }
    Machine& m = M();
    if (info == nullptr || m.versionQueryFails) {
        SetError(kErrorInvalidParameter);
        return 0;
    }
    // OSVERSIONINFOA, or OSVERSIONINFOEXA (156 bytes) whose extra fields are left alone.
    if (info->size != sizeof(OsVersionInfo) && info->size != 156) {
        SetError(kErrorInsufficientBuffer);
        return 0;
    }
    memset(info->csdVersion, 0, sizeof(info->csdVersion));
    info->platformId = m.platform;
    if (m.platform == kPlatformNt) {
        info->majorVersion = 5;
        info->minorVersion = 0;
        info->buildNumber = 2195;
    } else if (m.platform == kPlatformWindows) {
        // Windows 98: the high word of the build number repeats the version.
        info->majorVersion = 4;
        info->minorVersion = 10;
        info->buildNumber = 0x040A07CEu;
    } else {
        info->majorVersion = 3;
        info->minorVersion = 10;
        info->buildNumber = 0;
    }
    return 1;
}

unsigned GetWindowsDirectoryA(char* buffer, unsigned size) {
    if (Enter("GetWindowsDirectoryA", nullptr)) {
        return 0;
    }
    return DirectoryOut(M().windowsDirectory, buffer, size);
}

unsigned GetSystemDirectoryA(char* buffer, unsigned size) {
    if (Enter("GetSystemDirectoryA", nullptr)) {
        return 0;
    }
    return DirectoryOut(M().systemDirectory, buffer, size);
}

}  // namespace os
