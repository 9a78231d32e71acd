// The staging copy: the four staging directories and the 21 support files copied into them
// from the installation medium, and the directory creation that the bootstrap uses.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bootstrap/manifest.h"
#include "common/path.h"

struct StagingGuard;

// Creates the staging directories under stagingRoot and copies every manifest row from
// sourceDirectory to the same relative path under stagingRoot, stepping the progress bar once
// per row. Either directory may end in a backslash. Before each copy, whatever stands at the
// row's place is deleted by name, so the copy always makes a new file; a row the medium lacks
// has its place cleared too. A row whose paths do not fit a path buffer with the shell's second
// NUL is passed over. 0, or kEFail when the area may not be used: a staging directory the guard
// does not let us claim (nothing is copied then; bootstrap/staging_guard.h), a place that
// could not be cleared, or a row the medium holds, or the launcher in any case, not copied.
// Setup must not start, nor let the installer load, a file it did not put there. The guard's
// directories stay held; without a guard, one is made for the call.
int32_t CopyManifest(const char* stagingRoot, const char* sourceDirectory, StagingGuard* guard);
int32_t CopyManifest(const char* stagingRoot, const char* sourceDirectory);

// True when every path CopyManifest builds under stagingRoot fits its buffer, so the whole
// manifest can be staged there.
bool StagingRootFits(const char* stagingRoot);

// Creates a directory and every missing ancestor, from the top down, each with `security`
// (CreateDirectoryA's SECURITY_ATTRIBUTES, or nullptr). 0 when it was created, 183
// (ERROR_ALREADY_EXISTS) when it was there, kEFail otherwise (also for a path that does not fit
// a path buffer).
int32_t CreateDirectoryPath(const char* path, void* security = nullptr);

// The part of path up to and including its last backslash (C:\ for C:\TEMP); empty when the
// path holds no backslash or is longer than a path buffer.
void ParentPrefix(const char* path, char (&parent)[kMaxPath]);
