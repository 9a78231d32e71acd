// Permissions on the simulated NT machine: DACLs as lists of entries, what a new file or
// directory inherits, who may do what, the default DACLs of the places setup stages in, and
// security descriptors in the bytes Windows hands over.
#include <algorithm>

#include "sim/model.h"

namespace sim {
namespace model {

const char kEveryoneSid[] = "S-1-1-0";
const char kCreatorOwnerSid[] = "S-1-3-0";
const char kAuthenticatedUsersSid[] = "S-1-5-11";
const char kInteractiveSid[] = "S-1-5-4";
const char kUsersSid[] = "S-1-5-32-545";
const char kPowerUsersSid[] = "S-1-5-32-547";
const char kServerOperatorsSid[] = "S-1-5-32-549";

namespace {

constexpr uint8_t kInheritable = kAceObjectInherit | kAceContainerInherit;
// The rights that take part in the walk: what an entry may grant.
constexpr uint32_t kGrantable = 0x01FF01FF;

// Windows Temp's entry for Users: traverse, add file and add folder (S, WD, AD, X).
constexpr uint32_t kAddAndTraverse = kSynchronize | kFileExecute | kFileWriteData | kFileAppendData;

Ace Entry(const char* sid, uint32_t mask, uint8_t flags) {
    Ace ace;
    ace.sid = sid;
    ace.mask = mask;
    ace.flags = flags;
    return ace;
}

Dacl Of(std::vector<Ace> entries) {
    Dacl dacl;
    dacl.entries = std::move(entries);
    return dacl;
}

bool InToken(const std::string& sid, const std::string& user,
             const std::vector<std::string>& groups) {
    return sid == user || std::find(groups.begin(), groups.end(), sid) != groups.end();
}

// The entries a child inherits from one of its parent's, in the child's own DACL.
void Inherit(const Ace& entry, bool directory, const std::string& creator, std::vector<Ace>* out) {
    bool objectInherit = (entry.flags & kAceObjectInherit) != 0;
    bool containerInherit = (entry.flags & kAceContainerInherit) != 0;
    bool noPropagate = (entry.flags & kAceNoPropagate) != 0;
    Ace effective = entry;
    effective.flags = kAceInherited;
    // CREATOR OWNER stands for whoever creates the object; generic rights apply mapped.
    if (entry.sid == kCreatorOwnerSid) {
        effective.sid = creator;
    }
    effective.mask = MapGenericRights(entry.mask);
    if (!directory) {
        if (objectInherit) {
            out->push_back(effective);
        }
        return;
    }
    bool changed = effective.sid != entry.sid || effective.mask != entry.mask;
    if (containerInherit) {
        if (noPropagate || changed) {
            out->push_back(effective);  // applies here only
        } else {
            effective.flags = kAceInherited | (entry.flags & kInheritable);
            out->push_back(effective);  // here and below
            return;
        }
    }
    // Passed on as it stood, inherit-only: to files (OI alone), or below in its generic form.
    if (!noPropagate && (objectInherit || (containerInherit && changed))) {
        Ace passed = entry;
        passed.flags = kAceInherited | kAceInheritOnly | (entry.flags & kInheritable);
        out->push_back(passed);
    }
}

void PutSid(std::string* bytes, const std::string& sid) {
    *bytes += SidBytes(sid);
}

void Put16(std::string* bytes, size_t at, uint32_t value) {
    (*bytes)[at] = static_cast<char>(value & 0xFF);
    (*bytes)[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string* bytes, size_t at, uint32_t value) {
    Put16(bytes, at, value);
    Put16(bytes, at + 2, value >> 16);
}

uint32_t Read16(const unsigned char* at) {
    return at[0] | (at[1] << 8);
}

uint32_t Read32(const unsigned char* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

const uint16_t kDaclPresent = 0x4;
const uint16_t kDaclProtected = 0x1000;
const uint16_t kSelfRelative = 0x8000;
const uint32_t kInvalidSecurityDescriptor = 1338;
const uint32_t kInvalidAcl = 1336;
const uint32_t kOwnerPart = 0x1;
const uint32_t kDaclPart = 0x4;

}  // namespace

uint32_t MapGenericRights(uint32_t mask) {
    uint32_t mapped = mask & kGrantable;
    if ((mask & kGenericRead) != 0) {
        mapped |= 0x120089;  // FILE_GENERIC_READ
    }
    if ((mask & kGenericWrite) != 0) {
        mapped |= 0x120116;  // FILE_GENERIC_WRITE
    }
    if ((mask & kGenericExecute) != 0) {
        mapped |= 0x1200A0;  // FILE_GENERIC_EXECUTE
    }
    if ((mask & kGenericAll) != 0) {
        mapped |= kFileAllAccess;
    }
    return mapped;
}

bool AccessAllowed(const Dacl& dacl, const std::string& owner, const std::string& user,
                   const std::vector<std::string>& groups, uint32_t desired) {
    uint32_t remaining = MapGenericRights(desired);
    if (!dacl.present) {
        return true;
    }
    if (!owner.empty() && InToken(owner, user, groups)) {
        remaining &= ~(kReadControl | kWriteDac);
    }
    for (const Ace& entry : dacl.entries) {
        if (remaining == 0) {
            break;
        }
        // CREATOR OWNER on an object itself names nobody.
        if ((entry.flags & kAceInheritOnly) != 0 || entry.sid == kCreatorOwnerSid ||
            !InToken(entry.sid, user, groups)) {
            continue;
        }
        uint32_t rights = MapGenericRights(entry.mask);
        if (entry.deny && (rights & remaining) != 0) {
            return false;
        }
        if (!entry.deny) {
            remaining &= ~rights;
        }
    }
    return remaining == 0;
}

bool KeepsPermissions(const Drive* drive) {
    return drive != nullptr && drive->keepsOwners && M().platform == os::kPlatformNt;
}

bool MayAccess(const Node* node, const Drive* drive, uint32_t rights) {
    if (!KeepsPermissions(drive)) {
        return true;
    }
    const Process& process = Current();
    return AccessAllowed(node->data->dacl, node->data->owner, process.user, process.groups, rights);
}

bool MayDelete(const Node* node, const Drive* drive) {
    return MayAccess(node, drive, kDelete) ||
           (node->parent != nullptr && MayAccess(node->parent, drive, kFileDeleteChild));
}

std::vector<std::string> InstallingUserGroups() {
    return {kAdministratorsSid, kUsersSid, kAuthenticatedUsersSid, kInteractiveSid, kEveryoneSid};
}

Dacl NewObjectDacl(const Dacl* given, const Dacl& parent, bool directory,
                   const std::string& creator, NtDefaults version) {
    Dacl dacl;
    if (given != nullptr) {
        dacl = *given;
        if (dacl.isProtected || version == NtDefaults::kNt4 || !dacl.present) {
            return dacl;
        }
    }
    if (!parent.present) {
        if (given == nullptr) {
            dacl.present = false;  // nothing to inherit from a null DACL: it stays open
        }
        return dacl;
    }
    for (const Ace& entry : parent.entries) {
        if ((entry.flags & kInheritable) != 0) {
            Inherit(entry, directory, creator, &dacl.entries);
        }
    }
    return dacl;
}

// The lists of the places setup stages in, from Microsoft's documented defaults: Knowledge Base
// Q172008 (NT 4.0 on NTFS as first formatted), Q244600 and "Default Access Control Settings in
// Windows 2000" (a clean install), and the cacls/icacls comparisons of XP, 2003, Vista and later.
// Entries the sources leave out (Administrators and SYSTEM on 2000's Windows Temp) are the full
// control every such folder gives them.
Dacl DefaultDriveRootDacl(NtDefaults version) {
    switch (version) {
        case NtDefaults::kNt4:
            return DefaultDriveTempDacl(version);
        case NtDefaults::kWindows2000:
            // Setup leaves a freshly formatted root as it is.
            return Of({Entry(kEveryoneSid, kFileAllAccess, kInheritable)});
        case NtDefaults::kXp:
            return Of({Entry(kAdministratorsSid, kFileAllAccess, kInheritable),
                       Entry(kSystemSid, kFileAllAccess, kInheritable),
                       Entry(kCreatorOwnerSid, kFileAllAccess, kInheritable | kAceInheritOnly),
                       Entry(kUsersSid, kFileReadExecute, kInheritable),
                       Entry(kUsersSid, kFileAppendData, kAceContainerInherit),
                       Entry(kUsersSid, kFileWriteData, kAceContainerInherit | kAceInheritOnly),
                       Entry(kEveryoneSid, kFileReadExecute, 0)});
        case NtDefaults::kVista:
            return Of({Entry(kAdministratorsSid, kFileAllAccess, kInheritable),
                       Entry(kSystemSid, kFileAllAccess, kInheritable),
                       Entry(kUsersSid, kFileReadExecute, kInheritable),
                       Entry(kAuthenticatedUsersSid, kFileModify, kInheritable | kAceInheritOnly),
                       Entry(kAuthenticatedUsersSid, kFileAppendData, 0)});
    }
    return Dacl();
}

Dacl DefaultWindowsDacl(NtDefaults version) {
    if (version == NtDefaults::kNt4) {
        return Of({Entry(kAdministratorsSid, kFileAllAccess, kInheritable),
                   Entry(kCreatorOwnerSid, kFileAllAccess, kInheritable | kAceInheritOnly),
                   Entry(kServerOperatorsSid, kFileModify, kInheritable),
                   Entry(kSystemSid, kFileAllAccess, kInheritable),
                   Entry(kEveryoneSid, kFileModify, kInheritable)});
    }
    return Of({Entry(kAdministratorsSid, kFileAllAccess, kInheritable),
               Entry(kCreatorOwnerSid, kFileAllAccess, kInheritable | kAceInheritOnly),
               Entry(kPowerUsersSid, kFileModify, kInheritable),
               Entry(kUsersSid, kFileReadExecute, kInheritable),
               Entry(kSystemSid, kFileAllAccess, kInheritable)});
}

Dacl DefaultWindowsTempDacl(NtDefaults version) {
    if (version == NtDefaults::kNt4) {
        return DefaultDriveTempDacl(version);
    }
    Dacl dacl = Of({Entry(kUsersSid, kAddAndTraverse, kAceContainerInherit),
                    Entry(kCreatorOwnerSid, kFileAllAccess, kInheritable | kAceInheritOnly),
                    Entry(kSystemSid, kFileAllAccess, kInheritable),
                    Entry(kAdministratorsSid, kFileAllAccess, kInheritable)});
    dacl.isProtected = true;  // its own list, not the Windows directory's
    return dacl;
}

Dacl DefaultDriveTempDacl(NtDefaults version) {
    if (version != NtDefaults::kNt4) {
        return Dacl();  // no such folder by default
    }
    return Of({Entry(kAdministratorsSid, kFileAllAccess, kInheritable),
               Entry(kCreatorOwnerSid, kFileAllAccess, kInheritable | kAceInheritOnly),
               Entry(kEveryoneSid, kFileModify, kInheritable),
               Entry(kSystemSid, kFileAllAccess, kInheritable)});
}

std::string DescriptorBytes(const std::string& owner, const Dacl& dacl, uint32_t parts) {
    std::string bytes(20, '\0');
    bytes[0] = 1;
    uint32_t control = kSelfRelative;
    std::string ownerBytes = (parts & kOwnerPart) != 0 ? SidBytes(owner) : std::string();
    if (!ownerBytes.empty()) {
        Put32(&bytes, 4, static_cast<uint32_t>(bytes.size()));
        bytes += ownerBytes;
    }
    if ((parts & kDaclPart) != 0) {
        control |= kDaclPresent | (dacl.isProtected ? kDaclProtected : 0);
        if (dacl.present) {
            size_t at = bytes.size();
            Put32(&bytes, 16, static_cast<uint32_t>(at));
            bytes += std::string(8, '\0');
            bytes[at] = 2;
            for (const Ace& entry : dacl.entries) {
                size_t ace = bytes.size();
                bytes += std::string(8, '\0');
                bytes[ace] = entry.deny ? 1 : 0;
                bytes[ace + 1] = static_cast<char>(entry.flags);
                PutSid(&bytes, entry.sid);
                Put16(&bytes, ace + 2, static_cast<uint32_t>(bytes.size() - ace));
                Put32(&bytes, ace + 4, entry.mask);
            }
            Put16(&bytes, at + 2, static_cast<uint32_t>(bytes.size() - at));
            Put16(&bytes, at + 4, static_cast<uint32_t>(dacl.entries.size()));
        }
    }
    Put16(&bytes, 2, control);
    return bytes;
}

uint32_t ParseDescriptor(const unsigned char* bytes, Dacl* dacl, bool* hasDacl) {
    *hasDacl = false;
    uint32_t control = Read16(bytes + 2);
    if (bytes[0] != 1 || (control & kSelfRelative) == 0) {
        return kInvalidSecurityDescriptor;
    }
    uint32_t ownerAt = Read32(bytes + 4);
    if (ownerAt != 0 && (ownerAt < 20 || SidText(bytes + ownerAt, 68).empty())) {
        return kInvalidSecurityDescriptor;
    }
    if ((control & kDaclPresent) == 0) {
        return 0;
    }
    *hasDacl = true;
    *dacl = Dacl();
    dacl->isProtected = (control & kDaclProtected) != 0;
    uint32_t daclAt = Read32(bytes + 16);
    if (daclAt == 0) {
        dacl->present = false;
        return 0;
    }
    if (daclAt < 20) {
        return kInvalidSecurityDescriptor;
    }
    const unsigned char* acl = bytes + daclAt;
    size_t aclSize = Read16(acl + 2);
    size_t count = Read16(acl + 4);
    if ((acl[0] != 2 && acl[0] != 4) || aclSize < 8 || aclSize % 4 != 0) {
        return kInvalidAcl;
    }
    size_t at = 8;
    for (size_t i = 0; i < count; ++i) {
        if (aclSize - at < 8) {
            return kInvalidAcl;
        }
        const unsigned char* ace = acl + at;
        size_t aceSize = Read16(ace + 2);
        if (aceSize < 8 || aceSize % 4 != 0 || aceSize > aclSize - at || ace[0] > 1) {
            return kInvalidAcl;  // only allow and deny entries are modelled
        }
        Ace entry;
        entry.deny = ace[0] == 1;
        entry.flags = ace[1];
        entry.mask = Read32(ace + 4);
        entry.sid = SidText(ace + 8, aceSize - 8);
        if (entry.sid.empty() || SidBytes(entry.sid).size() != aceSize - 8) {
            return kInvalidAcl;
        }
        dacl->entries.push_back(entry);
        at += aceSize;
    }
    return 0;
}

}  // namespace model

using namespace model;

void SetNtDefaults(NtDefaults version) {
    Machine& m = M();
    m.ntDefaults = version;
    for (auto& drive : m.drives) {
        if (drive->type == os::kDriveFixed) {
            drive->top->data->dacl = DefaultDriveRootDacl(version);
        }
    }
    if (m.windowsDirectory.empty()) {
        return;
    }
    MakeDirectories(m.windowsDirectory + "\\TEMP");
    SetDacl(m.windowsDirectory, DefaultWindowsDacl(version));
    SetDacl(m.windowsDirectory + "\\TEMP", DefaultWindowsTempDacl(version));
    if (version == NtDefaults::kNt4) {
        std::string temp = m.windowsDirectory.substr(0, 2) + "\\TEMP";
        MakeDirectories(temp);
        SetDacl(temp, DefaultDriveTempDacl(version));
    }
}

bool SetDacl(const std::string& path, const Dacl& dacl) {
    Node* node = Walk(path, false, false, nullptr);
    if (node != nullptr) {
        node->data->dacl = dacl;
        NoteChange(node);
    }
    return node != nullptr;
}

Dacl GetDacl(const std::string& path) {
    Node* node = Walk(path, false, false, nullptr);
    return node == nullptr ? Dacl() : node->data->dacl;
}

}  // namespace sim
