// The adversary sweep: another local user tries every attack its rights allow, at one moment
// of a whole installation (before the Nth platform call of setup or the launcher, N = 1, 2, ...,
// and once more after the launcher has ended, before the restart), and after every run the
// programs' promises to the person installing must hold.
#pragma once

#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {

struct AdversaryScenario {
    const char* name;
    NtDefaults defaults;
    bool tightSystemDrive;  // C: 10 MB free and a fixed D: with 2000 MB: staging goes to D:
    // C:\WINDOWS\TEMP's staging directories left by an earlier run: of this setup (private),
    // or of one that made them with what TEMP hands down.
    enum Earlier { kNone, kThisSetup, kOlderSetup } earlierRun;
    // The other user made C:\WINDOWS\TEMP\Init before setup ran, with setup's own entries.
    bool plantedInit;
    const char* outcome;  // the staging root of a run left alone, or "COPY ERROR"
};

struct AdversaryReport {
    std::string name;
    int runs = 0;
    int attacksTried = 0;
    int attacksDone = 0;  // those its rights allowed
    int violations = 0;
    std::vector<std::string> messages;  // the first few violations, with N and the call
    double seconds = 0;
};

// The Windows NT machines swept: each version's defaults, staging where it would, after an
// earlier run, and with Init taken by the other user first.
const std::vector<AdversaryScenario>& AdversaryScenarios();

// Runs setup from the CD (the real launcher staged as _zorp.ex_, a stand-in installer as
// _zorp.exe), the launcher, the installer and a restart, once for each moment of the other
// user, and checks after each run:
// - setup, the launcher and the restart changed nothing but the staging root they made and
//   its four directories, and left the other user's victim folder as it was;
// - no program the other user wrote was started, and nothing it wrote stood in a staging
//   directory when the installer started;
// - the run ended with the genuine installer started from the staging area, or with
//   "COPY ERROR";
// - without the other user, the run ends as `outcome` says.
AdversaryReport SweepAdversary(const AdversaryScenario& scenario, ProgramMain setupMain,
                               ProgramMain launcherMain);

}  // namespace sim
