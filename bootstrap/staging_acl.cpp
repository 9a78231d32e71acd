#include "bootstrap/staging_acl.h"

namespace {

// The well-known SIDs as Windows lays a SID out: revision 1, the number of sub-authorities, the
// authority in six bytes, then each sub-authority in four, low byte first. Their values never
// change, so they are constants: nothing to allocate, free or fail.
const unsigned char kSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18
const unsigned char kAdministratorsSid[] = {1,  2, 0, 0, 0,    0, 0, 5,
                                            32, 0, 0, 0, 0x20, 2, 0, 0};  // S-1-5-32-544
// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464: the service that owns
// Windows's own folders from Vista on.
const unsigned char kTrustedInstallerSid[] = {1,  6,   0,   0,   0,   0,   0,   5,   80,  0,  0,
                                              0,  181, 137, 251, 56,  25,  132, 194, 203, 92, 108,
                                              35, 109, 87,  0,   119, 110, 192, 2,   100, 135};
// S-1-3-0 stands for whoever creates an object below, setup itself for what it stages; S-1-3-4
// for the owner, whom KeepsOthersOut vouches for first.
const unsigned char kCreatorOwnerSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
const unsigned char kOwnerRightsSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0};
const unsigned char* const kTrustedSids[] = {kSystemSid, kAdministratorsSid, kTrustedInstallerSid,
                                             kCreatorOwnerSid, kOwnerRightsSid};

// Self-relative descriptor: revision, padding, control, then the offsets of owner, group,
// SACL and DACL. ACL: revision, padding, size, entry count, padding. Entry: type, flags, size,
// access mask, SID.
constexpr size_t kDescriptorHeader = 20;
constexpr size_t kAclHeader = 8;
constexpr size_t kAceHeader = 8;
constexpr uint16_t kDaclPresent = 0x4;       // SE_DACL_PRESENT
constexpr uint16_t kDaclProtected = 0x1000;  // SE_DACL_PROTECTED
constexpr uint16_t kSelfRelative = 0x8000;   // SE_SELF_RELATIVE
constexpr unsigned char kAccessAllowed = 0;  // ACCESS_ALLOWED_ACE_TYPE
constexpr unsigned char kAccessDenied = 1;   // ACCESS_DENIED_ACE_TYPE
constexpr unsigned char kObjectInherit = 0x1;
constexpr unsigned char kContainerInherit = 0x2;
constexpr unsigned char kInheritOnly = 0x8;

uint32_t Read16(const unsigned char* at) {
    return at[0] | (at[1] << 8);
}

uint32_t Read32(const unsigned char* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

void Write16(unsigned char* at, uint32_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void Write32(unsigned char* at, uint32_t value) {
    Write16(at, value);
    Write16(at + 2, value >> 16);
}

bool SameSid(const unsigned char* a, size_t aSize, const unsigned char* b) {
    if (SidSize(b, aSize) != aSize) {
        return false;
    }
    for (size_t i = 0; i < aSize; ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

bool Trusted(const unsigned char* sid, size_t size, const unsigned char* userSid) {
    for (const unsigned char* trusted : kTrustedSids) {
        if (SameSid(sid, size, trusted)) {
            return true;
        }
    }
    return userSid != nullptr && SameSid(sid, size, userSid);
}

// One inherited full-control entry for `sid` at `at`; its size.
size_t WriteFullControlEntry(unsigned char* at, const unsigned char* sid, size_t sidSize) {
    size_t size = kAceHeader + sidSize;
    at[0] = kAccessAllowed;
    at[1] = kObjectInherit | kContainerInherit;
    Write16(at + 2, static_cast<uint32_t>(size));
    Write32(at + 4, kRightFullControl);
    for (size_t i = 0; i < sidSize; ++i) {
        at[kAceHeader + i] = sid[i];
    }
    return size;
}

// The rights an entry of `flags` grants that `rule` forbids: on the directory itself unless it
// is inherit-only, and on what is created below when it is inherited.
uint32_t ForbiddenBy(AclRule rule, unsigned char flags) {
    uint32_t forbidden = (flags & kInheritOnly) == 0 ? rule.onItself : 0;
    if ((flags & (kObjectInherit | kContainerInherit)) != 0) {
        forbidden |= rule.onChildren;
    }
    return forbidden;
}

// Whether the DACL of `size` bytes at `acl` grants no one untrusted a right `rule` forbids.
bool AclKeepsOthersOut(const unsigned char* acl, size_t size, const unsigned char* userSid,
                       AclRule rule) {
    if (size < kAclHeader || (acl[0] != 2 && acl[0] != 4)) {
        return false;  // ACL_REVISION or ACL_REVISION_DS
    }
    size_t aclSize = Read16(acl + 2);
    if (aclSize < kAclHeader || aclSize > size) {
        return false;
    }
    size_t count = Read16(acl + 4);
    size_t at = kAclHeader;
    for (size_t i = 0; i < count; ++i) {
        if (aclSize - at < kAceHeader) {
            return false;
        }
        const unsigned char* ace = acl + at;
        size_t aceSize = Read16(ace + 2);
        if (aceSize < kAceHeader || aceSize > aclSize - at) {
            return false;
        }
        at += aceSize;
        uint32_t forbidden = ForbiddenBy(rule, ace[1]);
        if (forbidden == 0 || ace[0] == kAccessDenied) {
            continue;
        }
        if (ace[0] != kAccessAllowed) {
            return false;  // object or conditional entries: not ours to read, so not trusted
        }
        const unsigned char* sid = ace + kAceHeader;
        size_t sidSize = SidSize(sid, aceSize - kAceHeader);
        if (sidSize == 0 ||
            ((Read32(ace + 4) & forbidden) != 0 && !Trusted(sid, sidSize, userSid))) {
            return false;
        }
    }
    return true;
}

}  // namespace

size_t SidSize(const unsigned char* sid, size_t size) {
    if (size < 8 || sid[0] != 1 || sid[1] > 15) {
        return 0;
    }
    size_t needed = 8 + 4u * sid[1];
    return needed <= size ? needed : 0;
}

size_t BuildPrivateDescriptor(const unsigned char* userSid, unsigned char* out, size_t capacity) {
    size_t userSize = userSid != nullptr ? SidSize(userSid, 68) : 0;
    size_t aclSize =
        kAclHeader + 3 * kAceHeader + sizeof kSystemSid + sizeof kAdministratorsSid + userSize;
    size_t size = kDescriptorHeader + aclSize;
    if (userSize == 0 || size > capacity) {
        return 0;
    }
    for (size_t i = 0; i < kDescriptorHeader + kAclHeader; ++i) {
        out[i] = 0;
    }
    out[0] = 1;  // SECURITY_DESCRIPTOR_REVISION
    Write16(out + 2, kDaclPresent | kDaclProtected | kSelfRelative);
    Write32(out + 16, kDescriptorHeader);
    unsigned char* acl = out + kDescriptorHeader;
    acl[0] = 2;  // ACL_REVISION
    Write16(acl + 2, static_cast<uint32_t>(aclSize));
    Write16(acl + 4, 3);
    size_t at = kAclHeader;
    at += WriteFullControlEntry(acl + at, kSystemSid, sizeof kSystemSid);
    at += WriteFullControlEntry(acl + at, kAdministratorsSid, sizeof kAdministratorsSid);
    WriteFullControlEntry(acl + at, userSid, userSize);
    return size;
}

bool KeepsOthersOut(const unsigned char* descriptor, size_t size, const unsigned char* userSid,
                    AclRule rule) {
    if (size < kDescriptorHeader || descriptor[0] != 1 ||
        (Read16(descriptor + 2) & kSelfRelative) == 0) {
        return false;
    }
    uint32_t control = Read16(descriptor + 2);
    uint32_t ownerAt = Read32(descriptor + 4);
    uint32_t daclAt = Read32(descriptor + 16);
    if (ownerAt < kDescriptorHeader || ownerAt >= size) {
        return false;  // no owner to vouch for
    }
    size_t ownerSize = SidSize(descriptor + ownerAt, size - ownerAt);
    if (ownerSize == 0 || !Trusted(descriptor + ownerAt, ownerSize, userSid)) {
        return false;
    }
    if ((control & kDaclPresent) == 0 || daclAt == 0) {
        return (rule.onItself | rule.onChildren) == 0;  // a null DACL lets everyone do anything
    }
    if (daclAt < kDescriptorHeader || daclAt >= size) {
        return false;
    }
    return AclKeepsOthersOut(descriptor + daclAt, size - daclAt, userSid, rule);
}
