// _zorp, the launcher: runs the installer from the staging area, waits for it, then empties
// the staging area and schedules what is still in use for deletion at the next restart.
#pragma once

#include "common/platform.h"

// Exit codes besides kEFail (common/status.h), which means another stage held the mutex.
// The installer was started; when its end was seen, cleanup and scheduling were attempted.
constexpr int kLauncherDone = 1;
constexpr int kLauncherNotStarted = 0;  // the installer was not started; nothing was touched

// The program. `tail` is the command-line tail (common/command_line.h): the source Init
// directory when setup started us. It is handed on to the installer unchanged.
int LauncherMain(os::Handle instance, const char* tail);

// The installer's command line: the quoted program working directory + "\_zorp.exe", one
// blank, then the tail as it came. The quotes make a working directory with blanks start the
// right program (CreateProcessA without an application name otherwise takes the first blank
// as the end of the program name). False, and `commandLine` unusable, when it does not fit
// a path buffer.
bool BuildInstallerCommandLine(char* commandLine, const char* workingDirectory, const char* tail);
