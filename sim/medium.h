// The installation medium as the tests lay it out. Written out here, not taken from the
// programs' own lists, so that tests compare the programs against an independent copy.
#pragma once

#include <string>

#include "sim/machine.h"

namespace sim {

// The 21 files of the medium, relative to its root, in the order setup copies them.
extern const char* const kMediumRows[21];
// The staging directories setup creates, in order.
extern const char* const kMediumDirectories[4];

// Makes `directory` and every missing ancestor, and gives it the DACL setup gives the
// directories it creates: full control for SYSTEM, Administrators and `user` (setup's user),
// inherited below, protected from its parent's entries. As an earlier run leaves them.
bool MakeStagingDirectory(const std::string& directory,
                          const std::string& user = kInstallingUserSid);

}  // namespace sim
