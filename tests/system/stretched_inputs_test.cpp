// Inputs stretched past their buffers: every value setup and the launcher take from the
// machine, from 0 to 1024 characters, must end cleanly with the exact paths or not at all.
// The rows and their checks are stretched_inputs.cpp; under the sanitizer build a write past
// any buffer on the way fails here too.
#include <gtest/gtest.h>

#include <string>

#include "bootstrap/setup_run.h"
#include "launcher/launcher_run.h"
#include "tests/system/stretched_inputs.h"

namespace {

TEST(StretchedInputs, EveryLengthEndsCleanlyWithWholePaths) {
    sim::StretchReport report = sim::StretchInputs(SetupMain, LauncherMain);
    std::string seen;
    for (const std::string& line : report.messages) {
        seen += "\n  " + line;
    }
    for (const std::string& line : report.inputs) {
        seen += "\n  " + line;
    }
    EXPECT_EQ(report.failures, 0) << seen;
    // Eleven inputs over the lengths; fewer rows would mean some input was never stretched.
    EXPECT_GT(report.rows, 11 * 40) << seen;
}

// The table's lengths are the buffer edges: 259 characters and a NUL fit, 260 do not.
TEST(StretchedInputs, LengthsCoverTheBufferEdges) {
    std::vector<size_t> lengths = sim::StretchLengths();
    for (size_t edge : {0, 236, 237, 238, 239, 240, 258, 259, 260, 261, 262, 1024}) {
        EXPECT_NE(std::find(lengths.begin(), lengths.end(), edge), lengths.end()) << edge;
    }
    EXPECT_EQ(sim::PathOfLength("E:\\", 259).size(), 259u);
    EXPECT_EQ(sim::PathOfLength("E:\\", 2), "E:");
}

}  // namespace
