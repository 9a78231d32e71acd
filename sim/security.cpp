// Security on Windows NT: security identifiers, the owner of each file and directory, the user
// a process runs as, and the security functions of the seam. Windows 95/98 have none.
#include <string.h>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

// Revision 1, the count of sub-authorities, the authority in 6 bytes (big-endian), then each
// sub-authority in 4 bytes (little-endian).
std::string SidBytes(const std::string& text) {
    if (text.compare(0, 4, "S-1-") != 0) {
        return "";
    }
    std::vector<uint64_t> numbers;
    size_t at = 4;
    while (at <= text.size()) {
        size_t end = text.find('-', at);
        end = end == std::string::npos ? text.size() : end;
        if (end == at || end - at > 10 || text.find_first_not_of("0123456789", at) < end) {
            return "";
        }
        numbers.push_back(std::stoull(text.substr(at, end - at)));
        at = end + 1;
    }
    if (numbers.size() < 2 || numbers.size() > 16 || numbers[0] > 0xFFFFFFFFFFFFull) {
        return "";
    }
    std::string bytes;
    bytes += '\1';
    bytes += static_cast<char>(numbers.size() - 1);
    for (int shift = 40; shift >= 0; shift -= 8) {
        bytes += static_cast<char>((numbers[0] >> shift) & 0xFF);
    }
    for (size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] > 0xFFFFFFFFull) {
            return "";
        }
        for (int shift = 0; shift < 32; shift += 8) {
            bytes += static_cast<char>((numbers[i] >> shift) & 0xFF);
        }
    }
    return bytes;
}

std::string SidText(const unsigned char* bytes, size_t size) {
    if (size < 8 || bytes[0] != 1 || bytes[1] > 15 || size < 8 + 4u * bytes[1]) {
        return "";
    }
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) {
        authority = (authority << 8) | bytes[i];
    }
    std::string text = "S-1-" + std::to_string(authority);
    for (int i = 0; i < bytes[1]; ++i) {
        const unsigned char* part = bytes + 8 + 4 * i;
        uint32_t value =
            part[0] | (part[1] << 8) | (part[2] << 16) | (static_cast<uint32_t>(part[3]) << 24);
        text += "-" + std::to_string(value);
    }
    return text;
}

}  // namespace model

using namespace model;

bool SetOwner(const std::string& path, const std::string& sid) {
    Node* node = Walk(path, false, false, nullptr);
    if (node != nullptr) {
        node->owner = sid;
    }
    return node != nullptr;
}

std::string Owner(const std::string& path) {
    Node* node = Walk(path, false, false, nullptr);
    return node == nullptr ? "" : node->owner;
}

void SetDriveKeepsOwners(const std::string& root, bool keepsOwners) {
    if (Drive* drive = root.empty() ? nullptr : FindDrive(root[0])) {
        drive->keepsOwners = keepsOwners;
    }
}

}  // namespace sim

using namespace sim::model;

namespace {

// A self-relative security descriptor: revision, padding, control, then the offsets of owner,
// group, SACL and DACL; SE_SELF_RELATIVE in the control word.
const size_t kDescriptorHeader = 20;
const uint16_t kSelfRelative = 0x8000;

}  // namespace

namespace os {

// Windows 95/98 export the security functions, and each fails there.
static bool SecurityImplemented() {
    if (M().platform == kPlatformNt) {
        return true;
    }
    SetError(kErrorCallNotImplemented);
    return false;
}

Bool GetFileSecurityA(const char* path, Dword requested, void* descriptor, Dword length,
                      Dword* needed) {
    if (Enter("GetFileSecurityA", path) || !SecurityImplemented()) {
        return 0;
    }
    Found found = FindExisting(path);
    if (found.node == nullptr) {
        return 0;
    }
    // A disk that keeps no owners answers with a descriptor that names none.
    std::string owner;
    if ((requested & kOwnerSecurityInformation) != 0 && found.drive->keepsOwners) {
        owner = SidBytes(found.node->owner);
    }
    size_t size = kDescriptorHeader + owner.size();
    if (needed != nullptr) {
        *needed = static_cast<Dword>(size);
    }
    if (descriptor == nullptr || length < size) {
        SetError(kErrorInsufficientBuffer);
        return 0;
    }
    unsigned char* bytes = static_cast<unsigned char*>(descriptor);
    memset(bytes, 0, kDescriptorHeader);
    bytes[0] = 1;
    bytes[2] = kSelfRelative & 0xFF;
    bytes[3] = kSelfRelative >> 8;
    if (!owner.empty()) {
        bytes[4] = static_cast<unsigned char>(kDescriptorHeader);
        memcpy(bytes + kDescriptorHeader, owner.data(), owner.size());
    }
    return 1;
}

Bool GetSecurityDescriptorOwner(void* descriptor, void** owner, Bool* defaulted) {
    if (Enter("GetSecurityDescriptorOwner", nullptr) || !SecurityImplemented()) {
        return 0;
    }
    unsigned char* bytes = static_cast<unsigned char*>(descriptor);
    if (bytes == nullptr || owner == nullptr || defaulted == nullptr || bytes[0] != 1) {
        SetError(kErrorInvalidSecurityDescriptor);
        return 0;
    }
    uint32_t offset =
        bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (static_cast<uint32_t>(bytes[7]) << 24);
    *owner = offset == 0 ? nullptr : bytes + offset;
    *defaulted = 0;
    return 1;
}

Bool OpenProcessToken(Handle process, Dword access, Handle* token) {
    (void)access;
    if (Enter("OpenProcessToken", nullptr) || !SecurityImplemented()) {
        return 0;
    }
    if (process != CurrentProcess() || token == nullptr) {
        SetError(kErrorInvalidHandle);
        return 0;
    }
    HandleObject object;
    object.kind = Kind::kToken;
    object.processId = Current().id;
    object.targetProcess = Current().id;
    *token = NewHandle(object);
    return 1;
}

Bool GetTokenInformation(Handle token, Dword infoClass, void* info, Dword length, Dword* needed) {
    if (Enter("GetTokenInformation", nullptr) || !SecurityImplemented()) {
        return 0;
    }
    HandleObject* handle = FindHandle(token);
    if (handle == nullptr || handle->kind != Kind::kToken) {
        SetError(kErrorInvalidHandle);
        return 0;
    }
    if (infoClass != kTokenUserClass) {
        SetError(kErrorInvalidParameter);
        return 0;
    }
    std::string sid = SidBytes(M().processes[handle->targetProcess].user);
    if (sid.empty()) {
        SetError(kErrorNoToken);
        return 0;
    }
    size_t size = sizeof(TokenUser) + sid.size();
    if (needed != nullptr) {
        *needed = static_cast<Dword>(size);
    }
    if (info == nullptr || length < size) {
        SetError(kErrorInsufficientBuffer);
        return 0;
    }
    // The record, then the SID it points to, in the caller's buffer.
    unsigned char* bytes = static_cast<unsigned char*>(info);
    memcpy(bytes + sizeof(TokenUser), sid.data(), sid.size());
    TokenUser user;
    user.sid = bytes + sizeof(TokenUser);
    user.attributes = 0;
    memcpy(bytes, &user, sizeof user);
    return 1;
}

// A SID is as long as its count of sub-authorities says.
static std::string SidAt(const void* sid) {
    const unsigned char* bytes = static_cast<const unsigned char*>(sid);
    if (bytes == nullptr || bytes[0] != 1 || bytes[1] > 15) {
        return "";
    }
    return SidText(bytes, 8 + 4u * bytes[1]);
}

Bool EqualSid(const void* a, const void* b) {
    if (Enter("EqualSid", nullptr) || !SecurityImplemented()) {
        return 0;
    }
    std::string first = SidAt(a);
    std::string second = SidAt(b);
    if (first.empty() || second.empty()) {
        SetError(kErrorInvalidParameter);
        return 0;
    }
    SetError(kErrorSuccess);
    return first == second ? 1 : 0;
}

}  // namespace os
