// The launcher's Windows entry: WinMain hands the instance and the command-line tail to the
// run.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "launcher/launcher_run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int) {
    return LauncherMain(instance, tail);
}
