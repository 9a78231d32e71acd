// bench_exit.exe: a program that ends at once with exit code 1. The benchmarks stage it as the
// stand-in launcher (the staging benchmark times setup up to the hand-off only) and as the
// stand-in installer (the chain benchmarks).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 1;
}
