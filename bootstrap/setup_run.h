// setup, the bootstrap: guard, display check, progress window, drive survey, staging, and the
// hand-off to the launcher staged as Init\_zorp.ex_.
#pragma once

#include "common/platform.h"

// The whole run. The command-line tail is ignored. Exit code: 1 when the launcher was
// started, 0 when staging or the launch failed, kEFail when another stage holds the mutex.
int SetupMain(os::Handle instance, const char* tail);

// True when the desktop shows at least 16 bits per pixel (bits per pixel / colour planes).
bool HasEnoughColors();

// The progress window's dialog procedure: false for every message, so the dialog manager's
// default handling applies.
os::LongPtr OS_CALLBACK ProgressDialogProc(os::Handle dialog, unsigned message, os::UintPtr wParam,
                                           os::LongPtr lParam);
