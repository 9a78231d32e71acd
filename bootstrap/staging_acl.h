// The permissions of the staging directories, as Windows NT lays them out in bytes: the
// private descriptor that setup gives every directory it creates, and the judgement of a
// descriptor that a directory found in place already carries. Nothing here calls Windows, so
// both can be tested and fuzzed on their own.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Access rights (winnt.h), as a directory's entries grant them.
enum : uint32_t {
    kRightAddFile = 0x2,       // FILE_ADD_FILE, FILE_WRITE_DATA on a file
    kRightAddFolder = 0x4,     // FILE_ADD_SUBDIRECTORY, FILE_APPEND_DATA on a file
    kRightWriteEa = 0x10,      // FILE_WRITE_EA
    kRightDeleteChild = 0x40,  // FILE_DELETE_CHILD: delete or rename anything inside
    kRightWriteAttributes = 0x100,
    kRightDelete = 0x10000,      // DELETE: delete or rename the object itself
    kRightWriteDac = 0x40000,    // WRITE_DAC: change who may
    kRightWriteOwner = 0x80000,  // WRITE_OWNER: take it over
    kRightGenericAll = 0x10000000,
    kRightGenericWrite = 0x40000000,
    kRightFullControl = 0x1F01FF,  // FILE_ALL_ACCESS
};

// Every right that lets its holder add anything, change or remove anything, or change who may.
constexpr uint32_t kChangingRights =
    kRightAddFile | kRightAddFolder | kRightWriteEa | kRightDeleteChild | kRightWriteAttributes |
    kRightDelete | kRightWriteDac | kRightWriteOwner | kRightGenericAll | kRightGenericWrite;

// A SID's size from its header, 0 when `sid` holds no whole SID within `size` bytes.
size_t SidSize(const unsigned char* sid, size_t size);

// The largest private descriptor: header, ACL header, three entries and the largest SID.
constexpr size_t kPrivateDescriptorCapacity = 20 + 8 + 3 * 8 + 12 + 16 + 68;

// Writes the self-relative descriptor that keeps a new directory to SYSTEM, Administrators
// and `userSid`: each gets full control, inherited by the files and folders created below; the
// DACL is protected, so nothing of the parent's entries is merged in. No owner: Windows gives
// the creator's. Returns its size, or 0 when `userSid` is no SID or `capacity` is too small.
size_t BuildPrivateDescriptor(const unsigned char* userSid, unsigned char* out, size_t capacity);

// What must hold of a directory's descriptor for others to be kept out of it: the rights no
// one else may hold on the directory itself, and on what is created in it.
struct AclRule {
    uint32_t onItself;
    uint32_t onChildren;
};

// Whether a self-relative descriptor read from a directory keeps everyone but SYSTEM,
// Administrators, TrustedInstaller, CREATOR OWNER, OWNER RIGHTS and `userSid` (null: no user is
// known) from the rights `rule` names: its owner is one of them (an owner may always change the
// DACL), and no allow entry for anyone else grants such a right. A missing DACL grants everyone
// everything. Deny entries are passed over, which errs on the safe side; an entry of any other
// kind, or a descriptor that is not whole, keeps no one out.
bool KeepsOthersOut(const unsigned char* descriptor, size_t size, const unsigned char* userSid,
                    AclRule rule);
