// Who may own a staging directory. What setup stages runs with the rights of the person
// installing, often an administrator, while the TEMP directories it stages in are open to
// every local user on Windows NT: a directory that another user made there could hold that
// user's files in the place of ours.
#pragma once

// True when `directory` may hold the staging area: its owner is the user running setup, the
// Administrators group, SYSTEM or TrustedInstaller, or there is no owner to ask about (no such
// directory, Windows 95/98, or a volume that keeps none, such as FAT on NT). False for any
// other owner, and for an owner that cannot be read where the volume keeps owners.
bool StagingDirectoryOwnerTrusted(const char* directory);
