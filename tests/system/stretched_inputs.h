// Every value the programs take from the machine, stretched from 0 to 1024 characters: the
// current directory, the Windows and system directories, the drive list, the command-line
// tail, a short path, and so the names built from them. Each row runs the whole program on
// the simulated machine and requires a clean outcome: a defined exit code, a process started
// only with exactly the intended command line and directory, and files created only at
// exactly the intended paths; never a silently shortened path. (A write past a buffer is
// the sanitizer build's to find: the tests run there too.)
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {

struct StretchReport {
    int rows = 0;
    int failures = 0;
    std::vector<std::string> messages;  // "<input> length <n>: <what went wrong>"
    std::vector<std::string> inputs;    // "<input>: <rows> rows, exit codes seen"
};

// 0 to 1024 in coarse steps, and every length from 236 to 240 and from 258 to 262.
std::vector<size_t> StretchLengths();

// A path of exactly `length` characters: `prefix`, then components of at most 40 letters
// (the prefix cut to `length` when it is longer).
std::string PathOfLength(const std::string& prefix, size_t length);

StretchReport StretchInputs(ProgramMain setupMain, ProgramMain launcherMain);

}  // namespace sim
