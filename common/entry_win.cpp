// The programs' entry point, in place of the C runtime's start-up code.
//
// setup and the launcher link no C runtime, so that they start on a bare Windows 95 or NT 4
// machine from the medium without any DLL of their own. The linker is told to start here
// (_Entry@0 on i686, Entry on x86_64); we do the little that the runtime's start-up would
// have done for a WinMain program.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "common/command_line.h"

extern "C" void __stdcall Entry() {
    // GetCommandLineA returns the process's own writable copy; WinMain receives the part of it
    // after the program name, as the runtime would pass it.
    char* line = ::GetCommandLineA();
    char* tail = line + (CommandLineTail(line) - line);
    int result = WinMain(::GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWDEFAULT);
    // The entry has no caller to hand a result to: the exit code goes to ExitProcess, and a
    // negative result such as E_FAIL goes out as its 32-bit pattern 0x80004005.
    ::ExitProcess(static_cast<UINT>(result));
}
