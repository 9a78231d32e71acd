// The adversary sweep (adversary_sweep.h): at every moment of an installation on Windows NT,
// another local user tries every attack its rights allow, and the programs keep their promises.
#include <gtest/gtest.h>

#include <string>

#include "bootstrap/setup_run.h"
#include "launcher/launcher_run.h"
#include "tests/system/adversary_sweep.h"

namespace {

TEST(AdversarySweep, NobodyElseChangesWhatTheInstallerRunsNorMakesTheProgramsHarmOthers) {
    for (const sim::AdversaryScenario& scenario : sim::AdversaryScenarios()) {
        sim::AdversaryReport report = sim::SweepAdversary(scenario, SetupMain, LauncherMain);
        std::string text = report.name + ": " + std::to_string(report.runs) + " runs, " +
                           std::to_string(report.attacksTried) + " attacks tried, " +
                           std::to_string(report.attacksDone) + " allowed, " +
                           std::to_string(report.violations) + " violations";
        for (const std::string& message : report.messages) {
            text += "\n  " + message;
        }
        EXPECT_EQ(report.violations, 0) << text;
        // A moment before each call of setup at least: a sweep that ended at once tested
        // nothing, and one whose attacks were all refused tried nothing.
        EXPECT_GT(report.runs, 20) << text;
        EXPECT_GT(report.attacksDone, 100) << text;
    }
}

}  // namespace
