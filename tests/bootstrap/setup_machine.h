// A simulated machine with an installation medium, for the bootstrap's tests: the manifest's
// files on the medium, setup and a stand-in launcher registered as programs.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/machine.h"
#include "sim/medium.h"
#include "tests/system/stretched_inputs.h"

namespace setup_test {

// The manifest as the medium carries it (written out here, not taken from the code).
inline constexpr const auto& kRows = sim::kMediumRows;
inline constexpr const auto& kStagingDirectories = sim::kMediumDirectories;

// What the stand-in launcher saw when it ran.
struct LauncherView {
    int runs = 0;
    std::string tail;
    std::string currentDirectory;
};
extern LauncherView gLauncher;

// The content the medium holds for a row.
std::string MediumContent(const std::string& row);

// Every manifest row below `sourceDirectory` (read-only, as on a CD) but `leaveOut`, and but
// those whose path would pass 259 characters; _zorp.ex_ is the stand-in launcher.
void PutMedium(const std::string& sourceDirectory, const std::string& leaveOut = "");

// sim::ResetTypical(cFreeMb) with the programs registered, setup.exe at E:\ and the medium
// at E:\ (less `leaveOut`).
void PrepareTypical(uint32_t cFreeMb = 500, const std::string& leaveOut = "");

// Starts E:\setup.exe with `sourceDirectory` as its current directory, then lets what it
// started run; setup's exit code.
int64_t RunSetup(const std::string& sourceDirectory = "E:\\");

// The exit code as the 32-bit value Windows reports (kEFail is 0x80004005).
inline uint32_t ExitCode(int64_t code) {
    return static_cast<uint32_t>(code);
}

// The processes setup started (CreateProcessA records whose parent is not the test).
std::vector<sim::ProcessRecord> Children();

// A path of exactly `length` characters (components of at most 40).
using sim::PathOfLength;

}  // namespace setup_test
