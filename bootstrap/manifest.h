// What setup stages: the four staging directories and the 21 support files of the medium.
// Compiled in and nothing else here, so that a tool for publishers can check a medium against
// the very table setup is built from.
#pragma once

// Created directly under the staging root, in this order. No file goes into "English".
constexpr int kStagingDirectoryCount = 4;
extern const char* const kStagingDirectories[kStagingDirectoryCount];

// The manifest: each row is relative both to the source directory and to the staging root.
constexpr int kManifestRowCount = 21;
extern const char* const kManifest[kManifestRowCount];

// The row of the launcher, which setup itself starts once the area is staged.
constexpr int kLauncherRow = 11;
