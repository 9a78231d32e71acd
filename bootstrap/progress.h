// The bar of setup's progress window, which the staging copy steps once per manifest row.
#pragma once

#include "common/platform.h"

// The process-wide handle of the bar; nullptr before the window exists or when it could not
// be created (messages to it then have no effect).
os::Handle ProgressBar();
void SetProgressBar(os::Handle bar);

// One PBM_STEPIT to the bar.
void StepProgressBar();
