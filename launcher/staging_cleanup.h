// Emptying the staging area once the installer has ended.
#pragma once

// What setup staged, relative to the staging Init directory. The rows with "..\" reach the
// sibling directories under the staging root; the file system resolves them, we do not.
// _zorp.ex_ is in neither list: it is still running, so it is deleted at restart instead.
constexpr int kStagedFileCount = 20;
extern const char* const kStagedFiles[kStagedFileCount];
constexpr int kStagedDirectoryCount = 4;
extern const char* const kStagedDirectories[kStagedDirectoryCount];

// Deletes every staged file, then removes every staged directory that is empty by then.
// `directory` is the staging Init directory (a trailing backslash is allowed). Nothing is
// reported: a file or directory that cannot be removed stays, and the next row follows.
// A row whose full path would not fit a path buffer is skipped, never shortened, so a
// shortened name can never hit some other file.
//
// Nothing is deleted through a link: a staging directory that is no plain directory any more
// (a junction or symbolic link put in its place, or one whose attributes cannot be read) is
// left alone with everything in it, and so is all of the staging area when its root is one.
// True when the staging root and Init were both reached as themselves, so that what stays in
// Init may be scheduled for deletion at restart by its path.
bool CleanStagingArea(const char* directory);

// Builds directory + "\" + row in `path` (directory without its trailing backslash). False,
// and `path` unusable, when the result does not fit a path buffer.
bool BuildStagedPath(char* path, const char* directory, const char* row);
