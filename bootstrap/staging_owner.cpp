#include "bootstrap/staging_owner.h"

#include "common/platform.h"

namespace {

// The well-known owners as Windows lays a SID out: revision 1, the number of sub-authorities,
// the authority (5, NT) in six bytes, then each sub-authority in four, low byte first. Their
// values never change, so they are constants: nothing to allocate, free or fail.
const unsigned char kSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18
const unsigned char kAdministratorsSid[] = {1,  2, 0, 0, 0,    0, 0, 5,
                                            32, 0, 0, 0, 0x20, 2, 0, 0};  // S-1-5-32-544
// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464: the service that owns
// Windows's own folders from Vista on.
const unsigned char kTrustedInstallerSid[] = {1,  6,   0,   0,   0,   0,   0,   5,   80,  0,  0,
                                              0,  181, 137, 251, 56,  25,  132, 194, 203, 92, 108,
                                              35, 109, 87,  0,   119, 110, 192, 2,   100, 135};
const unsigned char* const kTrustedOwners[] = {kSystemSid, kAdministratorsSid,
                                               kTrustedInstallerSid};

// A self-relative descriptor with only an owner takes 20 bytes and the SID (68 at most); a
// TOKEN_USER its record and the SID.
constexpr unsigned kSecurityBufferSize = sizeof(StagingOwners::user);

// Whether `owner` is the user this process runs as; false when that cannot be told. The user
// is asked for once.
bool IsRunningUser(StagingOwners* owners, const void* owner) {
    if (!owners->userAsked) {
        owners->userAsked = true;
        os::Handle token = nullptr;
        if (os::OpenProcessToken(os::CurrentProcess(), os::kTokenQuery, &token)) {
            os::Dword needed = 0;
            owners->userKnown = os::GetTokenInformation(token, os::kTokenUserClass, owners->user,
                                                        sizeof owners->user, &needed) != 0;
            os::CloseHandle(token);
        }
    }
    if (!owners->userKnown) {
        return false;
    }
    os::TokenUser user;
    __builtin_memcpy(&user, owners->user, sizeof user);
    return os::EqualSid(user.sid, owner) != 0;
}

}  // namespace

void StartStagingOwners(StagingOwners* owners, const char* root) {
    owners->userAsked = false;
    owners->userKnown = false;
    char drive[4] = {root[0], ':', '\\', '\0'};
    bool hasDrive = root[0] != '\0' && root[1] == ':';
    os::Dword flags = 0;
    // Without a drive letter ("\TEMP"), the current directory's drive.
    owners->volumeKeepsOwners = !os::GetVolumeInformationA(hasDrive ? drive : nullptr, nullptr, 0,
                                                           nullptr, nullptr, &flags, nullptr, 0) ||
                                (flags & os::kFsPersistentAcls) != 0;
}

bool StagingOwnerTrusted(StagingOwners* owners, const char* path) {
    if (!owners->volumeKeepsOwners) {
        return true;
    }
    alignas(8) unsigned char descriptor[kSecurityBufferSize];
    os::Dword needed = 0;
    if (!os::GetFileSecurityA(path, os::kOwnerSecurityInformation, descriptor, sizeof descriptor,
                              &needed)) {
        // Windows 95/98 keep no owners at all. Where nothing is, what the copy makes there is
        // ours. Any other failure hides the owner.
        os::Dword error = os::GetLastError();
        return error == os::kErrorCallNotImplemented || error == os::kErrorFileNotFound ||
               error == os::kErrorPathNotFound;
    }
    void* owner = nullptr;
    os::Bool defaulted = 0;
    if (!os::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
        return false;
    }
    for (const unsigned char* trusted : kTrustedOwners) {
        if (os::EqualSid(trusted, owner)) {
            return true;
        }
    }
    return IsRunningUser(owners, owner);
}
