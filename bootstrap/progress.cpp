#include "bootstrap/progress.h"

// Zero-initialised: no constructor runs for it at start.
static os::Handle g_progressBar;

os::Handle ProgressBar() {
    return g_progressBar;
}

void SetProgressBar(os::Handle bar) {
    g_progressBar = bar;
}

void StepProgressBar() {
    os::SendMessageA(g_progressBar, os::kPbmStepIt, 0, 0);
}
