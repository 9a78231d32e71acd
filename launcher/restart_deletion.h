// Deletion of a file at the next start of Windows.
//
// Windows NT keeps the list of pending deletions itself (MoveFileExA with
// MOVEFILE_DELAY_UNTIL_REBOOT). Windows 95/98 has no such call; there the list is the [Rename]
// section of WinInit.ini in the Windows directory, which Windows works through at its next start
// and then renames to WININIT.BAK.
#pragma once

// True when GetVersionExA succeeds and reports the NT platform (2). Asked afresh at every call.
bool IsWindowsNT();

// Schedules the file `path` (absolute, or relative to the current directory) for deletion at
// the next start of Windows. True when the deletion has been recorded.
// On NT, `path` is recorded exactly as passed. Otherwise the file's absolute short (8.3) path
// is added as NUL=<path> to the [Rename] section of WinInit.ini. False means WinInit.ini holds
// exactly what it held before; the one exception is a failure of the very rename that puts the
// old list back, which leaves it as WinInit.old for the next call to restore.
bool DeleteAtRestart(const char* path);
