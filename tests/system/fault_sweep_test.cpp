// Whole-run fault sweeps of setup and the launcher: every platform call of a run fails in turn
// (once, and from then on), on each starting state of a small matrix, and after every run the
// exit code, the disk, the medium, WinInit.ini, the pending deletions and the mutex must be as
// the programs promise. The sweep is fault_sweep.h; the invariants are setup_sweep.cpp and
// launcher_sweep.cpp.
#include <gtest/gtest.h>

#include <string>

#include "bootstrap/setup_run.h"
#include "launcher/launcher_run.h"
#include "tests/system/fault_sweep.h"

namespace {

std::string Describe(const sim::SweepReport& report) {
    std::string text = report.name + ": " + std::to_string(report.runs) + " runs, " +
                       std::to_string(report.faultsFired) + " faults fired, " +
                       std::to_string(report.violations) + " violations";
    for (const std::string& message : report.messages) {
        text += "\n  " + message;
    }
    return text;
}

// A sweep that ended at once would have tested nothing: each run of either program makes
// dozens of fallible calls.
void ExpectClean(const sim::SweepReport& report) {
    EXPECT_EQ(report.violations, 0) << Describe(report);
    EXPECT_GT(report.faultsFired, 20) << Describe(report);
    EXPECT_EQ(report.runs, report.faultsFired + 1) << Describe(report);
}

TEST(FaultSweep, SetupKeepsItsPromisesWhateverCallFails) {
    for (const sim::SetupScenario& scenario : sim::SetupScenarios()) {
        for (bool once : {true, false}) {
            ExpectClean(sim::SweepSetup(scenario, SetupMain, once));
        }
    }
}

TEST(FaultSweep, TheLauncherKeepsItsPromisesWhateverCallFails) {
    for (const sim::LauncherScenario& scenario : sim::LauncherScenarios()) {
        for (bool once : {true, false}) {
            ExpectClean(sim::SweepLauncher(scenario, LauncherMain, once));
        }
    }
}

}  // namespace
