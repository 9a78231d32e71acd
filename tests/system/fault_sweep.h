// Whole-run fault sweeps on the simulated machine.
//
// One generic sweep: for N = 1, 2, 3 ... the machine is set up afresh, the program runs with
// its Nth fallible platform call failing (once, or from then on), and a checker looks at the
// exit code and the whole machine afterwards. The sweep ends with the first run in which no
// fault fired, so every call site of the program is covered without anyone listing them.
//
// Besides the harness, the two programs' starting-state matrices and the invariants they
// must keep live here (setup_sweep.cpp, launcher_sweep.cpp), so the tests and the reliability
// report run the very same sweeps.
// The programs come in as entry points: the sweeps do not link the programs' code themselves.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace sim {

// What one run of a sweep looked like, for its checker.
struct FaultedRun {
    int nth = 0;
    bool once = true;
    bool fired = false;
    // Index in Calls() of the first call that failed; Calls().size() when none did.
    size_t faultIndex = 0;
    std::string faultedCall;  // "Op(arg)" of that call, for messages
    int64_t exitCode = 0;
};

// True when the call at `index` of Calls() was made to fail in this run.
bool CallFailed(const FaultedRun& run, size_t index);

struct SweepTarget {
    std::function<void()> prepare;  // the starting state; runs before every run
    std::function<int64_t()> run;   // the whole program
    // Appends one text per broken invariant. Runs with no fault rule left in place.
    std::function<void(const FaultedRun&, std::vector<std::string>*)> check;
};

struct SweepReport {
    std::string name;
    int runs = 0;
    int faultsFired = 0;  // runs in which the injected fault fired
    int violations = 0;
    std::vector<std::string> messages;  // the first few violations, with N and the call
    double seconds = 0;
};

// Sweeps until a run fires no fault; gives up (one violation) after `maxRuns` runs.
SweepReport SweepFaults(const std::string& name, const SweepTarget& target, bool once,
                        int maxRuns = 4000);

// ---- Changes to the simulated disk, from two SnapshotAll()s. Paths as Snapshot gives them
// (directories with a trailing backslash).
struct TreeDiff {
    std::vector<std::string> added;
    std::vector<std::string> changed;  // content or attributes
    std::vector<std::string> removed;
};
TreeDiff DiffTrees(const std::vector<Entry>& before, const std::vector<Entry>& after);
// `path` is `root` itself or lies below it (case ignored; `root` without trailing backslash).
bool PathIsBelow(const std::string& path, const std::string& root);

enum class WinInitState {
    kAbsent,
    kEmpty,
    kWithRename,     // [boot], a [Rename] section with an entry, then [386Enh]
    kWithoutRename,  // [boot] and [386Enh] only
};

struct SetupScenario {
    const char* name;
    bool tightSystemDrive;    // C: 10 MB free and a fixed D: with 2000 MB: staging goes to D:
    bool mediumMissingFiles;  // two rows absent from the medium
    bool stagingLeftOver;     // an earlier run's read-only, hidden files in the staging roots
    WinInitState winInit;
    bool windowsNt;
    // Another user's C:\WINDOWS\TEMP\Init; on NT setup must stage on the fallback instead.
    bool foreignInit;
    // Another user's programs at the places of _zorp.ex_ and _zorp.exe in C:\WINDOWS\TEMP,
    // held open so that no copy replaces them: setup must stage on the fallback instead.
    bool plantedPrograms;
};

struct LauncherScenario {
    const char* name;
    bool fallbackDrive;           // staged at D:\TEMP instead of C:\WINDOWS\TEMP
    bool onlyProgramsStaged;      // the staging area holds _zorp.ex_ and _zorp.exe only
    bool readOnlyStaged;          // some staged files read-only: their deletion fails
    bool installerKeepsSetupapi;  // the installer leaves Setupapi.dll in use
    WinInitState winInit;
    bool windowsNt;
};

// ---- What the sweeps of setup and of the launcher share
constexpr char kWinInit[] = "C:\\WINDOWS\\WinInit.ini";
void PutWinInit(WinInitState state);                        // puts kWinInit in that state
std::string UpperText(std::string text);                    // with ASCII letters in upper case
std::string Joined(const std::vector<std::string>& items);  // "a, b, c"
// The exit code as Windows reports it, so kEFail compares as 0x80004005.
uint32_t ExitCode32(int64_t code);
// A call `op` failed in this run, at its first failed call or after.
bool FaultedOp(const FaultedRun& run, const std::string& op);
std::vector<ProcessRecord> Children();  // the processes that programs started, in order
// The exit code is allowed, and kEFail exactly when the guard was refused.
void CheckExitCode(const FaultedRun& run, std::vector<std::string>* violations);
// Mutex, waits, handles, heap blocks and device contexts after every process has ended.
void CheckLeftovers(const FaultedRun& run, std::vector<std::string>* violations);

// Each axis both ways for each program, few enough rows to sweep in seconds.
const std::vector<SetupScenario>& SetupScenarios();
const std::vector<LauncherScenario>& LauncherScenarios();

// The sweep of setup (with a stand-in launcher staged as _zorp.ex_) and of the launcher
// (started as setup starts it, with a stand-in installer), checking after every run:
// exit codes, what changed on disk, the medium, WinInit.ini and the pending deletions, the
// mutex, waits, heap blocks, device contexts and screen repaints; that setup hands off only
// to a staging area it filled itself, so no program it did not put there is ever started;
// and the complete result in the last run.
SweepReport SweepSetup(const SetupScenario& scenario, ProgramMain setupMain, bool once);
SweepReport SweepLauncher(const LauncherScenario& scenario, ProgramMain launcherMain, bool once);

}  // namespace sim
