#include "bootstrap/staging_copy.h"

#include "bootstrap/progress.h"
#include "bootstrap/staging_guard.h"
#include "common/platform.h"
#include "common/status.h"

// SHFileOperationA takes double-NUL-terminated lists: a path in a path buffer may use all but
// the last character, which stays the second NUL.
constexpr size_t kShellPathCapacity = kMaxPath - 1;

// directory without its trailing backslash, then one backslash. False when it does not fit.
static bool BuildPrefix(char (&prefix)[kMaxPath], const char* directory) {
    if (!CopyText(prefix, directory)) {
        return false;
    }
    StripTrailingBackslash(prefix);
    return AppendText(prefix, "\\");
}

// path = prefix + row in a zero-filled buffer, leaving room for the shell's second NUL.
static bool BuildRowPath(char (&path)[kMaxPath], const char* prefix, const char* row) {
    ZeroBytes(path, sizeof(path));
    return CopyText(path, kShellPathCapacity, prefix) && AppendText(path, kShellPathCapacity, row);
}

// One file over any existing one: no progress window from the shell, every question answered
// yes. FOF_NOERRORUI is left out, so the shell may say why a file could not be copied. True
// when the shell reports the file copied.
static bool CopyOneFile(const char* source, const char* destination) {
    os::FileOperation request;
    ZeroBytes(&request, sizeof(request));
    request.hwnd = nullptr;
    request.func = os::kFoCopy;
    request.from = source;
    request.to = destination;
    request.flags = os::kFofSilent | os::kFofNoConfirmation;
    return os::SHFileOperationA(&request) == 0 && !request.anyOperationsAborted;
}

// Only Windows's "not found" says that the medium lacks a file: any other failure cannot tell.
static bool MissingFromMedium(const char* source) {
    if (os::GetFileAttributesA(source) != os::kInvalidFileAttributes) {
        return false;
    }
    os::Dword error = os::GetLastError();
    return error == os::kErrorFileNotFound || error == os::kErrorPathNotFound;
}

// Clears a row's place by name, so that the copy makes a new file of ours there rather than
// writing through whatever stands there: a hard link or a file link would take our bytes into
// a file elsewhere, and a file another user left would keep that user's rights on it. Only a
// read-only file has its attributes cleared first: on a hard link that would change the other
// name's file too. True when nothing stands there any more.
static bool ClearRowPlace(const char* destination) {
    if (os::DeleteFileA(destination)) {
        return true;
    }
    os::Dword error = os::GetLastError();
    if (error == os::kErrorAccessDenied) {
        os::SetFileAttributesA(destination, os::kAttrNormal);
        if (os::DeleteFileA(destination)) {
            return true;
        }
        error = os::GetLastError();
    }
    return error == os::kErrorFileNotFound || error == os::kErrorPathNotFound;
}

int32_t CopyManifest(const char* stagingRoot, const char* sourceDirectory) {
    StagingGuard guard;
    int32_t status = StartStagingGuard(&guard, stagingRoot)
                         ? CopyManifest(stagingRoot, sourceDirectory, &guard)
                         : kEFail;
    ReleaseStagingGuard(&guard);
    return status;
}

int32_t CopyManifest(const char* stagingRoot, const char* sourceDirectory, StagingGuard* guard) {
    PathBuffer sourcePrefix;
    PathBuffer destinationPrefix;
    bool prefixesFit =
        BuildPrefix(sourcePrefix, sourceDirectory) && BuildPrefix(destinationPrefix, stagingRoot);

    if (prefixesFit) {
        for (const char* name : kStagingDirectories) {
            PathBuffer directory;
            if (CopyText(directory, destinationPrefix) && AppendText(directory, name) &&
                !ClaimStagingDirectory(guard, directory,
                                       CreateDirectoryPath(directory, NewDirectorySecurity(guard)),
                                       StagingPlace::kStagingDirectory)) {
                return kEFail;  // nothing of ours goes where others may add or change
            }
        }
    }

    bool staged = true;
    for (int i = 0; i < kManifestRowCount; ++i) {
        const char* row = kManifest[i];
        PathBuffer source;
        PathBuffer destination;
        // A row whose paths do not fit is not copied at all: a shortened path would name
        // another file. It still counts on the bar, like any row whose copy fails.
        if (prefixesFit && BuildRowPath(source, sourcePrefix, row) &&
            BuildRowPath(destination, destinationPrefix, row)) {
            // A row the medium lacks has its place cleared all the same: the installer may
            // load whatever stands there.
            bool cleared = ClearRowPlace(destination);
            bool copied = cleared && CopyOneFile(source, destination);
            // A copy from a CD keeps the medium's read-only attribute. Only our own copy is
            // touched: what could not be cleared may be a link to another file.
            if (copied) {
                os::SetFileAttributesA(destination, os::kAttrNormal);
            }
            // A row that was not copied may be one the medium lacks, but for the launcher:
            // setup starts it itself, so it must be there in any case.
            staged =
                staged && (copied || (cleared && i != kLauncherRow && MissingFromMedium(source)));
        } else if (i == kLauncherRow) {
            staged = false;
        }
        StepProgressBar();
    }
    return staged ? 0 : kEFail;
}

bool StagingRootFits(const char* stagingRoot) {
    PathBuffer prefix;
    if (!BuildPrefix(prefix, stagingRoot)) {
        return false;
    }
    for (const char* row : kManifest) {
        PathBuffer path;
        if (!BuildRowPath(path, prefix, row)) {
            return false;
        }
    }
    return true;
}

int32_t CreateDirectoryPath(const char* path, void* security) {
    PathBuffer directory;
    if (!CopyText(directory, path)) {
        return kEFail;  // CreateDirectoryA could not take it either
    }
    StripTrailingBackslash(directory);
    if (os::CreateDirectoryA(directory, security)) {
        return 0;
    }
    os::Dword error = os::GetLastError();
    if (error == os::kErrorAlreadyExists) {
        return os::kErrorAlreadyExists;
    }
    if (error != os::kErrorPathNotFound) {
        return kEFail;
    }
    // A missing ancestor: create the parent (and so on upwards), then this directory.
    PathBuffer parent;
    ParentPrefix(directory, parent);
    if (parent[0] == '\0') {
        return kEFail;
    }
    if (CreateDirectoryPath(parent, security) == kEFail) {
        return kEFail;
    }
    return os::CreateDirectoryA(directory, security) ? 0 : kEFail;
}

void ParentPrefix(const char* path, char (&parent)[kMaxPath]) {
    if (!CopyText(parent, path)) {
        parent[0] = '\0';
        return;
    }
    size_t end = 0;  // just past the last backslash
    for (size_t i = 0; parent[i] != '\0'; ++i) {
        if (parent[i] == '\\') {
            end = i + 1;
        }
    }
    parent[end] = '\0';
}
