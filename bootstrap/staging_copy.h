// The staging copy: the four staging directories and the 21 support files copied into them
// from the installation medium, and the directory creation that the bootstrap uses.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bootstrap/manifest.h"
#include "common/path.h"

// Creates the staging directories under stagingRoot and copies every manifest row from
// sourceDirectory to the same relative path under stagingRoot, stepping the progress bar once
// per row. Either directory may end in a backslash. A row the medium lacks, or whose paths do
// not fit a path buffer with the shell's second NUL, is passed over. 0, or kEFail when the
// area may not be used: a staging directory that was there already has an owner we do not
// trust (nothing is copied then), a row the medium holds, or the launcher in any case, was not
// copied, or a copy overwrote a file of an owner we do not trust. Setup must not start, nor let
// the installer load, a file it did not put there.
int32_t CopyManifest(const char* stagingRoot, const char* sourceDirectory);

// Whether setup may stage in `directory`, for which CreateDirectoryPath gave `creation`: one
// it made itself (0), or any other whose owner it trusts (bootstrap/staging_owner.h). A
// creation that failed says nothing about a directory that was there already.
bool MayStageIn(const char* directory, int32_t creation);

// True when every path CopyManifest builds under stagingRoot fits its buffer, so the whole
// manifest can be staged there.
bool StagingRootFits(const char* stagingRoot);

// Creates a directory and every missing ancestor, from the top down. 0 when it was created,
// 183 (ERROR_ALREADY_EXISTS) when it was there, kEFail otherwise (also for a path that does
// not fit a path buffer).
int32_t CreateDirectoryPath(const char* path);

// The part of path up to and including its last backslash (C:\ for C:\TEMP); empty when the
// path holds no backslash or is longer than a path buffer.
void ParentPrefix(const char* path, char (&parent)[kMaxPath]);
