#include "bootstrap/staging_guard.h"

#include "common/path.h"
#include "common/plain_directory.h"
#include "common/status.h"

namespace {

// A descriptor read from a directory: an owner and a few entries fit on the stack; a longer
// list goes to the heap.
constexpr os::Dword kDescriptorOnStack = 512;
constexpr os::Dword kDescriptorLimit = 0x10000;
constexpr os::Dword kDescriptorParts = os::kOwnerSecurityInformation | os::kDaclSecurityInformation;

// The rules of the two places that are judged by their entries.
constexpr AclRule kPrivateDirectory = {kChangingRights, kChangingRights};
// What the drive root must not grant: deleting or renaming its TEMP whatever TEMP's own entries
// say, or the right to grant that.
constexpr AclRule kDriveRootOfTemp = {
    kRightDeleteChild | kRightWriteDac | kRightWriteOwner | kRightGenericAll, 0};
// TEMP under Windows: its owner only.
constexpr AclRule kOwnerOnly = {0, 0};

const unsigned char* UserSid(const StagingGuard* guard) {
    os::TokenUser user;
    __builtin_memcpy(&user, guard->user, sizeof user);
    return static_cast<const unsigned char*>(user.sid);
}

// Reads the user this process runs as. Windows 95/98 answers that it has no such thing.
enum class UserRead { kRead, kNoSecurity, kFailed };

UserRead ReadUser(StagingGuard* guard) {
    os::Handle token = nullptr;
    if (!os::OpenProcessToken(os::CurrentProcess(), os::kTokenQuery, &token)) {
        return os::GetLastError() == os::kErrorCallNotImplemented ? UserRead::kNoSecurity
                                                                  : UserRead::kFailed;
    }
    os::Dword needed = 0;
    bool read = os::GetTokenInformation(token, os::kTokenUserClass, guard->user, sizeof guard->user,
                                        &needed) != 0;
    os::CloseHandle(token);
    return read ? UserRead::kRead : UserRead::kFailed;
}

// Whether the descriptor of `path` keeps others out by `rule`; false when it cannot be read.
bool DirectoryKeepsOthersOut(const StagingGuard* guard, const char* path, AclRule rule) {
    alignas(8) unsigned char onStack[kDescriptorOnStack];
    unsigned char* descriptor = onStack;
    os::Dword needed = 0;
    bool read =
        os::GetFileSecurityA(path, kDescriptorParts, descriptor, sizeof onStack, &needed) != 0;
    os::Dword size = sizeof onStack;
    if (!read && os::GetLastError() == os::kErrorInsufficientBuffer && needed <= kDescriptorLimit) {
        size = needed;
        descriptor = static_cast<unsigned char*>(os::HeapAlloc(size));
        read = descriptor != nullptr &&
               os::GetFileSecurityA(path, kDescriptorParts, descriptor, size, &needed) != 0;
    }
    // The descriptor's own size, where Windows reports it.
    if (read && needed != 0 && needed < size) {
        size = needed;
    }
    bool kept = read && KeepsOthersOut(descriptor, size, UserSid(guard), rule);
    if (descriptor != onStack && descriptor != nullptr) {
        os::HeapFree(descriptor);
    }
    return kept;
}

// Opens `path` itself, a link not followed, so that nobody can delete, rename or replace it
// while the guard holds it. False when it cannot be opened or the guard holds enough already.
bool Hold(StagingGuard* guard, const char* path) {
    if (guard->heldCount == kMaxHeldDirectories) {
        return false;
    }
    os::Handle directory = os::CreateFileA(
        path, os::kFileTraverse, os::kShareRead | os::kShareWrite, nullptr, os::kOpenExisting,
        os::kFlagBackupSemantics | os::kFlagOpenReparsePoint, nullptr);
    if (directory == os::InvalidHandle()) {
        return false;
    }
    guard->held[guard->heldCount++] = directory;
    return true;
}

// The root of the drive of `path` ("C:\"), false when it names none.
bool DriveRootOf(const char* path, char (&root)[4]) {
    if (path[0] == '\0' || path[1] != ':') {
        return false;
    }
    root[0] = path[0];
    root[1] = ':';
    root[2] = '\\';
    root[3] = '\0';
    return true;
}

}  // namespace

bool StartStagingGuard(StagingGuard* guard, const char* root) {
    ZeroBytes(guard, sizeof *guard);
    char drive[4];
    os::Dword flags = 0;
    // Without a drive letter ("\TEMP"), the current directory's drive. When the volume cannot
    // tell, it is guarded all the same.
    bool keepsPermissions =
        !os::GetVolumeInformationA(DriveRootOf(root, drive) ? drive : nullptr, nullptr, 0, nullptr,
                                   nullptr, &flags, nullptr, 0) ||
        (flags & os::kFsPersistentAcls) != 0;
    if (!keepsPermissions) {
        return true;
    }
    switch (ReadUser(guard)) {
        case UserRead::kNoSecurity:
            return true;
        case UserRead::kFailed:
            return false;
        case UserRead::kRead:
            break;
    }
    if (BuildPrivateDescriptor(UserSid(guard), guard->descriptor, sizeof guard->descriptor) == 0) {
        return false;
    }
    guard->attributes.length = sizeof guard->attributes;
    guard->attributes.descriptor = guard->descriptor;
    guard->attributes.inheritHandle = 0;
    guard->guarded = true;
    return true;
}

void* NewDirectorySecurity(StagingGuard* guard) {
    return guard->guarded ? &guard->attributes : nullptr;
}

bool ClaimStagingDirectory(StagingGuard* guard, const char* path, int32_t creation,
                           StagingPlace place) {
    if (!guard->guarded) {
        return true;
    }
    // Asked by path once the directory is held, so the answer stays true.
    if (!Succeeded(creation) || !Hold(guard, path) || !IsPlainDirectory(path)) {
        return false;
    }
    bool made = creation == 0;
    switch (place) {
        case StagingPlace::kWindowsTemp:
            return made || DirectoryKeepsOthersOut(guard, path, kOwnerOnly);
        case StagingPlace::kDriveTemp: {
            char drive[4];
            return DriveRootOf(path, drive) &&
                   DirectoryKeepsOthersOut(guard, drive, kDriveRootOfTemp) &&
                   (made || DirectoryKeepsOthersOut(guard, path, kPrivateDirectory));
        }
        case StagingPlace::kStagingDirectory:
            return made || DirectoryKeepsOthersOut(guard, path, kPrivateDirectory);
    }
    return false;
}

void ReleaseStagingGuard(StagingGuard* guard) {
    for (int i = 0; i < guard->heldCount; ++i) {
        os::CloseHandle(guard->held[i]);
    }
    guard->heldCount = 0;
}
