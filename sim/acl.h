// Permissions on the simulated NT machine: DACLs as lists of entries, what a new file or
// directory inherits, who may do what, the default DACLs of the places setup stages in, and
// security descriptors in the bytes Windows hands over. Private to sim/.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {
namespace model {

// Entry flags (winnt.h).
enum : uint8_t {
    kAceObjectInherit = 0x1,
    kAceContainerInherit = 0x2,
    kAceNoPropagate = 0x4,
    kAceInheritOnly = 0x8,
    kAceInherited = 0x10,
};

// Access rights.
enum : uint32_t {
    kFileReadData = 0x1,  // FILE_LIST_DIRECTORY
    kFileWriteData = 0x2,  // FILE_ADD_FILE
    kFileAppendData = 0x4,  // FILE_ADD_SUBDIRECTORY
    kFileExecute = 0x20,  // FILE_TRAVERSE
    kFileDeleteChild = 0x40,
    kFileWriteAttributes = 0x100,
    kDelete = 0x10000,
    kReadControl = 0x20000,
    kWriteDac = 0x40000,
    kWriteOwner = 0x80000,
    kSynchronize = 0x100000,
    kGenericAll = 0x10000000,
    kGenericExecute = 0x20000000,
    kGenericWrite = 0x40000000,
    kGenericRead = 0x80000000u,
    kFileAllAccess = 0x1F01FF,
    kFileModify = 0x1301BF,       // "Change" on NT 4.0, "Modify" from 2000 on
    kFileReadExecute = 0x1200A9,  // "Read & Execute"
};

// The well-known SIDs the defaults name.
extern const char kEveryoneSid[];
extern const char kCreatorOwnerSid[];
extern const char kAuthenticatedUsersSid[];
extern const char kInteractiveSid[];
extern const char kUsersSid[];
extern const char kPowerUsersSid[];
extern const char kServerOperatorsSid[];

// GENERIC_* rights as file rights.
uint32_t MapGenericRights(uint32_t mask);

// Whether a token of `user` and `groups` may have every right of `desired` on an object of
// `owner` with `dacl`: Windows's walk through the entries in order, a deny entry for a right not
// yet granted ending it. The owner may always read and change the DACL.
bool AccessAllowed(const Dacl& dacl, const std::string& owner, const std::string& user,
                   const std::vector<std::string>& groups, uint32_t desired);

// The DACL a new file or directory gets below `parent`, made by `creator`: `given` (may be null)
// as passed at creation, with the parent's inheritable entries merged in after it unless it is
// protected or the version is NT 4.0, which merges nothing; without one, the parent's
// inheritable entries alone.
Dacl NewObjectDacl(const Dacl* given, const Dacl& parent, bool directory,
                   const std::string& creator, NtDefaults version);

// The default DACLs of a drive root (every fixed drive's, as the system drive's), the Windows
// directory, its TEMP, and a TEMP at a drive root, by NT version.
Dacl DefaultDriveRootDacl(NtDefaults version);
Dacl DefaultWindowsDacl(NtDefaults version);
Dacl DefaultWindowsTempDacl(NtDefaults version);
Dacl DefaultDriveTempDacl(NtDefaults version);  // only NT 4.0 has one; the others: inherited

// A self-relative descriptor with the owner and/or DACL that `parts` asks for
// (OWNER_SECURITY_INFORMATION, DACL_SECURITY_INFORMATION).
std::string DescriptorBytes(const std::string& owner, const Dacl& dacl, uint32_t parts);
// Reads the descriptor a program passes in SECURITY_ATTRIBUTES, checked as Windows checks it:
// 0, or ERROR_INVALID_SECURITY_DESCR (1338) / ERROR_INVALID_ACL (1336) for one that is not
// whole. Only self-relative descriptors are read (the programs pass no other kind), and no more
// of them than their own offsets and sizes say. `*hasDacl` tells whether it carries a DACL.
uint32_t ParseDescriptor(const unsigned char* bytes, Dacl* dacl, bool* hasDacl);

}  // namespace model
}  // namespace sim
