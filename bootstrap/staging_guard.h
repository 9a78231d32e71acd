// Keeping other users out of the staging area. What setup stages runs with the rights of the
// person installing, often an administrator, while the TEMP directories it stages in are open
// to every local user on Windows NT: a directory or file that another user made or may still
// change there could hold, or later become, that user's program in the place of ours; a
// directory that another user replaced with a link would send our copies, and the launcher's
// deletions, into a folder of that user's choosing.
//
// So on a volume that keeps permissions, every directory setup creates is private from the
// start, and a directory that was there already is used only when it is no link and its
// owner and entries keep others from adding, changing or removing anything in it. Each
// directory is held open without delete sharing from its check until setup ends, so that
// nobody can rename or replace it in between. Windows 95/98 and volumes without permissions
// (FAT) have nothing to check: anyone may do anything there.
#pragma once

#include <stdint.h>

#include "bootstrap/staging_acl.h"
#include "common/platform.h"

// The staging root and its four directories.
constexpr int kMaxHeldDirectories = 5;

struct StagingGuard {
    bool guarded;  // the volume keeps permissions and this is Windows NT
    // TOKEN_USER of the process, which points into itself; a SID is at most 68 bytes.
    alignas(8) unsigned char user[16 + 68];
    os::SecurityAttributes attributes;  // for CreateDirectoryA: the private descriptor
    alignas(8) unsigned char descriptor[kPrivateDescriptorCapacity];
    os::Handle held[kMaxHeldDirectories];
    int heldCount;
};

// Where a directory lies, which says what must hold of one found in place.
enum class StagingPlace {
    // TEMP under the Windows directory. Every user may add to it by design, and whoever may
    // change the Windows directory may rename it: only its owner and that it is no link count.
    kWindowsTemp,
    // TEMP at a drive's root: nobody else may add to it, change it or remove it, neither by its
    // own entries nor by the drive root's right to delete what is in the root.
    kDriveTemp,
    // Config, Init, Extra and English: nobody else may add to them, change them or remove them.
    kStagingDirectory,
};

// Starts the guard of the staging area at `root`: whether its volume keeps permissions, and
// then the user and the private descriptor. False when it keeps them but the user cannot be
// read: then no directory can be made private, and none may be used.
bool StartStagingGuard(StagingGuard* guard, const char* root);

// What CreateDirectoryA gets: the private descriptor, or nullptr where nothing is guarded.
void* NewDirectorySecurity(StagingGuard* guard);

// Whether setup may use the directory `path`, for which CreateDirectoryPath gave `creation`,
// as `place`. One it made itself needs only holding; one that was there already is checked as
// above; where nothing is guarded, any may be used. A directory that could not be created is
// refused where something is guarded: the shell's copy would otherwise make it itself, with
// whatever permissions its parent hands down.
bool ClaimStagingDirectory(StagingGuard* guard, const char* path, int32_t creation,
                           StagingPlace place);

// Closes every directory the guard holds.
void ReleaseStagingGuard(StagingGuard* guard);
