// The installation medium as the tests lay it out. Written out here, not taken from the
// programs' own lists, so that tests compare the programs against an independent copy.
#pragma once

namespace sim {

// The 21 files of the medium, relative to its root, in the order setup copies them.
extern const char* const kMediumRows[21];
// The staging directories setup creates, in order.
extern const char* const kMediumDirectories[4];

}  // namespace sim
