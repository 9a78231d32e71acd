#include "launcher/staging_cleanup.h"

#include "common/path.h"
#include "common/plain_directory.h"
#include "common/platform.h"

const char* const kStagedFiles[kStagedFileCount] = {
    "Cfgmgr32.dll",
    "Arrows.dll",
    "media.inf",
    "Lexor2.dll",
    "Lexor2r.dll",
    "Journal.ini",
    "Msvcirt.dll",
    "Msvcrt.dll",
    "Wizard.pnl",
    "Setupapi.dll",
    "_zorp.exe",  // the installer, ended by now
    "Panelkit2.dll",
    "Seedbank",
    "Clock",
    "remover.exe",
    "Ft0042k_.ttf",
    "..\\Config\\Qcore.cfg",
    "..\\Extra\\dplay50a.exe",
    "..\\Extra\\dx6core.exe",
    "..\\Extra\\dx6eng.exe",
};

// Init comes last and normally stays: it still holds _zorp.ex_ and is our current directory.
// The staging root itself is never removed; it is TEMP, which other programs share.
const char* const kStagedDirectories[kStagedDirectoryCount] = {
    "..\\Config",
    "..\\Extra",
    "..\\English",
    "..\\Init",
};

bool BuildStagedPath(char* path, const char* directory, const char* row) {
    if (!CopyText(path, kMaxPath, directory)) {
        return false;
    }
    StripTrailingBackslash(path);
    return AppendText(path, kMaxPath, "\\") && AppendText(path, kMaxPath, row);
}

// The staging root, from the staging Init directory.
static const char kStagingRootRow[] = "..";
// Rows without "..\" are in Init, the last of kStagedDirectories.
constexpr int kInitDirectory = kStagedDirectoryCount - 1;

// Whether `row` below `directory` is a plain directory, no link.
static bool IsPlainRow(const char* directory, const char* row) {
    PathBuffer path;
    return BuildStagedPath(path, directory, row) && IsPlainDirectory(path);
}

// The index in kStagedDirectories of the directory that holds the file `row`.
static int DirectoryOfRow(const char* row) {
    for (int i = 0; i < kStagedDirectoryCount; ++i) {
        const char* name = kStagedDirectories[i];
        size_t length = TextLength(name);
        bool within = true;
        for (size_t at = 0; within && at < length; ++at) {
            within = row[at] == name[at];  // stops at the end of a shorter row
        }
        if (within && row[length] == '\\') {
            return i;
        }
    }
    return kInitDirectory;
}

bool CleanStagingArea(const char* directory) {
    bool plain[kStagedDirectoryCount];
    bool rootPlain = IsPlainRow(directory, kStagingRootRow);
    for (int i = 0; i < kStagedDirectoryCount; ++i) {
        plain[i] = rootPlain && IsPlainRow(directory, kStagedDirectories[i]);
    }
    PathBuffer path;
    // Every file goes before the first directory: RemoveDirectoryA removes only empty ones.
    for (int i = 0; i < kStagedFileCount; ++i) {
        if (plain[DirectoryOfRow(kStagedFiles[i])] &&
            BuildStagedPath(path, directory, kStagedFiles[i])) {
            os::DeleteFileA(path);  // in use or read-only: it stays, the next row follows
        }
    }
    for (int i = 0; i < kStagedDirectoryCount; ++i) {
        if (plain[i] && BuildStagedPath(path, directory, kStagedDirectories[i])) {
            os::RemoveDirectoryA(path);  // not empty: it stays
        }
    }
    return plain[kInitDirectory];
}
