// Who may own the staging area. What setup stages runs with the rights of the person
// installing, often an administrator, while the TEMP directories it stages in are open to
// every local user on Windows NT: a directory or file that another user made there could
// hold, or later become, that user's program in the place of ours.
#pragma once

// What the owner checks below one staging root share, read once for them all.
struct StagingOwners {
    bool volumeKeepsOwners;  // NTFS does; FAT and CD file systems do not
    bool userAsked;          // the process's user has been asked for
    bool userKnown;          // ... and `user` holds its TOKEN_USER
    alignas(8) unsigned char user[256];
};

// Starts the checks of the paths below `root`: whether its volume keeps owners. When that
// cannot be told, the owners are looked at all the same.
void StartStagingOwners(StagingOwners* owners, const char* root);

// True when `path`, a staging directory or a staged file below the root, may be used: its
// owner is the user running setup, the Administrators group, SYSTEM or TrustedInstaller, or
// there is no owner to ask about (nothing at `path`, Windows 95/98, or a volume that keeps
// none, such as FAT on NT). False for any other owner, and for an owner that cannot be read
// where the volume keeps owners. A file that a copy overwrote keeps its owner, and with it the
// owner's right to write.
bool StagingOwnerTrusted(StagingOwners* owners, const char* path);
