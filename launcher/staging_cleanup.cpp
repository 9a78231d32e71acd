#include "launcher/staging_cleanup.h"

#include "common/path.h"
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

void CleanStagingArea(const char* directory) {
    PathBuffer path;
    // Every file goes before the first directory: RemoveDirectoryA removes only empty ones.
    for (int i = 0; i < kStagedFileCount; ++i) {
        if (BuildStagedPath(path, directory, kStagedFiles[i])) {
            os::DeleteFileA(path);  // in use or read-only: it stays, the next row follows
        }
    }
    for (int i = 0; i < kStagedDirectoryCount; ++i) {
        if (BuildStagedPath(path, directory, kStagedDirectories[i])) {
            os::RemoveDirectoryA(path);  // not empty: it stays
        }
    }
}
