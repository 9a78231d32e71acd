// The reliability report: every whole-run fault sweep of setup and the launcher (runs, faults
// fired, invariant violations, time) and the stretched-input rows, from the same code the
// system tests run (tests/system: the fault sweeps, stretched_inputs). Exits 1 when anything
// broke.
#include <stdio.h>

#include <chrono>
#include <string>

#include "bootstrap/setup_run.h"
#include "launcher/launcher_run.h"
#include "tests/system/fault_sweep.h"
#include "tests/system/stretched_inputs.h"

namespace {

struct Totals {
    int runs = 0;
    int faultsFired = 0;
    int violations = 0;
    double seconds = 0;
};

void Print(const sim::SweepReport& report, Totals* totals) {
    printf("%6d %7d %10d %8.3f  %s\n", report.runs, report.faultsFired, report.violations,
           report.seconds, report.name.c_str());
    for (const std::string& message : report.messages) {
        printf("       ! %s\n", message.c_str());
    }
    totals->runs += report.runs;
    totals->faultsFired += report.faultsFired;
    totals->violations += report.violations;
    totals->seconds += report.seconds;
}

}  // namespace

int main() {
    printf(
        "Whole-run fault sweeps (the Nth platform call fails, N = 1, 2, ... until none fires)\n");
    printf("%6s %7s %10s %8s  %s\n", "runs", "faults", "violations", "seconds", "sweep");
    Totals totals;
    for (bool once : {true, false}) {
        for (const sim::SetupScenario& scenario : sim::SetupScenarios()) {
            Print(sim::SweepSetup(scenario, SetupMain, once), &totals);
        }
        for (const sim::LauncherScenario& scenario : sim::LauncherScenarios()) {
            Print(sim::SweepLauncher(scenario, LauncherMain, once), &totals);
        }
    }
    printf("%6d %7d %10d %8.3f  all sweeps\n\n", totals.runs, totals.faultsFired, totals.violations,
           totals.seconds);

    auto start = std::chrono::steady_clock::now();
    sim::StretchReport stretch = sim::StretchInputs(SetupMain, LauncherMain);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("Stretched inputs (lengths 0..1024, every length at 236-240 and 258-262)\n");
    for (const std::string& input : stretch.inputs) {
        printf("  %s\n", input.c_str());
    }
    for (const std::string& message : stretch.messages) {
        printf("  ! %s\n", message.c_str());
    }
    printf("%d rows, %d failures, %.3f s\n", stretch.rows, stretch.failures, seconds);
    return totals.violations == 0 && stretch.failures == 0 ? 0 : 1;
}
