#include "bootstrap/setup_run.h"

#include <stdint.h>

#include "bootstrap/drive_survey.h"
#include "bootstrap/progress.h"
#include "bootstrap/resource_ids.h"
#include "bootstrap/staging_copy.h"
#include "bootstrap/staging_guard.h"
#include "common/instance_guard.h"
#include "common/path.h"
#include "common/status.h"

static const char kMoreThanOneCopyMessage[] =
    "There is more than one copy of the Quillo Setup program running.";
static const char kMoreThanOneCopyCaption[] = "ERROR";
static const char kLowColorMessage[] =
    "Your display is currently showing 256 colors or less.\n"
    "Most Plinks work better, and feel nicer, when your display\n"
    "is set to 16-bit (65,000 colors), or 24-bit (16,777,216).\n"
    "We suggest you change this in the Windows Display\n"
    "control panel before using Plinks.";
static const char kLowColorCaption[] = "Warning";
static const char kCopyErrorMessage[] =
    "Could not copy files to the system directory.  Please make sure you have\n"
    "Administrator access on this computer system.  Also check to make sure there\n"
    "is at least 10MB of free disk space on the system drive.";
static const char kCopyErrorCaption[] = "COPY ERROR";

// The system drive needs more than this many megabytes free to stage under Windows.
constexpr uint32_t kSystemDriveMinimumMb = 10;
constexpr int kMinimumBitsPerPixel = 16;

// The working values of one run.
struct SetupRun {
    os::Handle mutex;  // owned guard, or nullptr when running unguarded
    os::Handle dialog;
    os::Handle previousCursor;
    PathBuffer sourceDirectory;  // without trailing backslash (E: for a drive root)
    PathBuffer stagingRoot;
    StagingGuard guard;  // the staging directories, held from their check to the hand-off
};

// Setup may run several times in one process on the simulated machine; each run starts from
// the state a new process has.
static void ResetProcessState() {
    SetProgressBar(nullptr);
    ResetDriveSurvey();
}

// bits per pixel / planes. A device that reports no planes is judged by its bits per pixel
// alone: dividing by zero has no answer, and a bogus plane count says nothing about depth.
static int ColorDepth(int bitsPerPixel, int planes) {
    return planes > 0 ? bitsPerPixel / planes : bitsPerPixel;
}

bool HasEnoughColors() {
    os::Handle desktop = os::GetDesktopWindow();
    os::Handle dc = os::GetDC(desktop);
    if (dc == nullptr) {
        return false;
    }
    int bitsPerPixel = os::GetDeviceCaps(dc, os::kBitsPixel);
    int planes = os::GetDeviceCaps(dc, os::kPlanes);
    os::ReleaseDC(desktop, dc);
    return ColorDepth(bitsPerPixel, planes) >= kMinimumBitsPerPixel;
}

os::LongPtr OS_CALLBACK ProgressDialogProc(os::Handle, unsigned, os::UintPtr, os::LongPtr) {
    return 0;
}

// The user may go on whatever the answer.
static void WarnAboutLowColorDepth() {
    if (!HasEnoughColors()) {
        os::MessageBoxA(nullptr, kLowColorMessage, kLowColorCaption, os::kMbOk);
    }
}

// Dialog 103 without owner, its bar set to one step per manifest row, and the wait cursor.
// A dialog that cannot be created leaves a null bar, and messages to it have no effect.
static void ShowProgressWindow(SetupRun* run, os::Handle instance) {
    // The dialog's "msctls_progress32" control needs its class registered first.
    os::InitCommonControls();
    run->dialog = os::CreateDialogParamA(instance, os::IntResource(IDD_PROGRESS), nullptr,
                                         ProgressDialogProc, 0);
    os::Handle bar = os::GetDlgItem(run->dialog, IDC_PROGRESS_BAR);
    SetProgressBar(bar);
    os::SendMessageA(bar, os::kPbmSetRange, 0, os::MakeLParam(0, kManifestRowCount));
    os::SendMessageA(bar, os::kPbmSetStep, 1, 0);
    // With no message loop the dialog would stay unpainted but for the bar, which repaints
    // itself when stepped: paint the text once now. Never without a dialog: a null window
    // repaints the whole desktop.
    if (run->dialog != nullptr) {
        os::UpdateWindow(run->dialog);
    }
    os::Handle wait = os::LoadCursorA(nullptr, os::IntResource(os::kIdcWait));
    run->previousCursor = os::SetCursor(wait);
}

// Both directory queries report 0 on failure and, for a directory that does not fit, the
// size they need (the NUL included) without filling the buffer: neither leaves a path.
static bool ReadCurrentDirectory(char (&directory)[kMaxPath]) {
    os::Dword length = os::GetCurrentDirectoryA(kMaxPath, directory);
    if (length == 0 || length >= kMaxPath) {
        return false;
    }
    StripTrailingBackslash(directory);
    return true;
}

static bool ReadWindowsDirectory(char (&directory)[kMaxPath]) {
    unsigned length = os::GetWindowsDirectoryA(directory, kMaxPath);
    if (length == 0 || length >= kMaxPath) {
        return false;
    }
    StripTrailingBackslash(directory);
    return true;
}

// The launcher's command line and working directory. The program path is quoted, so a
// staging root with blanks still names it; the tail stays unquoted, and the launcher takes it
// whole as the source Init directory. False when either does not fit.
static bool BuildLaunch(const char* stagingRoot, const char* sourceDirectory,
                        char (&commandLine)[kMaxPath], char (&launcherDirectory)[kMaxPath]) {
    return CopyText(commandLine, "\"") && AppendText(commandLine, stagingRoot) &&
           AppendText(commandLine, "\\Init\\_zorp.ex_\" ") &&
           AppendText(commandLine, sourceDirectory) && AppendText(commandLine, "\\Init") &&
           CopyText(launcherDirectory, stagingRoot) && AppendText(launcherDirectory, "\\Init");
}

// directory + "\TEMP" into the staging root, when it can be used all the way: every manifest
// path below it and the launcher's command line from it fit their buffers. A root that could
// be filled but not launched from would leave the user with a silent exit, where the fallback
// (or the "COPY ERROR" message) still has a chance.
static bool ChooseStagingRoot(SetupRun* run, const char* directory) {
    PathBuffer root;
    if (!CopyText(root, directory)) {
        return false;
    }
    StripTrailingBackslash(root);
    if (!AppendText(root, "\\TEMP") || !StagingRootFits(root)) {
        return false;
    }
    PathBuffer commandLine;
    PathBuffer launcherDirectory;
    if (!BuildLaunch(root, run->sourceDirectory, commandLine, launcherDirectory)) {
        return false;
    }
    return CopyText(run->stagingRoot, root);
}

// First choice: TEMP under the Windows directory. The copy is tried even when the creation
// failed (where nothing is guarded, the directory may be there all the same); either failure
// sends the run to the fallback, as does a TEMP the guard does not let us claim. A Windows
// directory that could not be read, or whose TEMP is too long to stage into, fails at once.
static bool StageUnderWindowsDirectory(SetupRun* run, bool windowsDirectoryRead) {
    if (!windowsDirectoryRead || !ChooseStagingRoot(run, run->stagingRoot) ||
        !StartStagingGuard(&run->guard, run->stagingRoot)) {
        return false;
    }
    int32_t created = CreateDirectoryPath(run->stagingRoot, NewDirectorySecurity(&run->guard));
    bool claimed =
        ClaimStagingDirectory(&run->guard, run->stagingRoot, created, StagingPlace::kWindowsTemp);
    bool staged = claimed && Succeeded(created);
    if (claimed && CopyManifest(run->stagingRoot, run->sourceDirectory, &run->guard) != 0) {
        staged = false;
    }
    if (!staged) {
        ReleaseStagingGuard(&run->guard);
    }
    return staged;
}

// Fallback: TEMP on the best fixed drive, or "\TEMP" on the current drive when there is none.
static bool StageOnBestFixedDrive(SetupRun* run) {
    if (!ChooseStagingRoot(run, BestFixedDrive()) ||
        !StartStagingGuard(&run->guard, run->stagingRoot)) {
        return false;
    }
    int32_t created = CreateDirectoryPath(run->stagingRoot, NewDirectorySecurity(&run->guard));
    bool staged =
        Succeeded(created) &&
        ClaimStagingDirectory(&run->guard, run->stagingRoot, created, StagingPlace::kDriveTemp) &&
        CopyManifest(run->stagingRoot, run->sourceDirectory, &run->guard) == 0;
    if (!staged) {
        ReleaseStagingGuard(&run->guard);
    }
    return staged;
}

// The staging area cannot be had. The mutex is released before the message, which waits for
// the user: a process that ends owning it abandons it, and a stage waiting for it meanwhile
// would refuse to run with a false "another copy" message.
static int FailStaging(SetupRun* run) {
    ReleaseInstanceGuard(&run->mutex);
    os::MessageBoxA(nullptr, kCopyErrorMessage, kCopyErrorCaption, os::kMbOk);
    os::EndDialog(run->dialog, 0);
    return 0;
}

// Starts the launcher from the staging Init directory and does not wait for it. The mutex is
// free before the launcher exists, so the launcher's guard owns it at once.
static int HandOff(SetupRun* run) {
    PathBuffer commandLine;  // writable: CreateProcessA may change it
    PathBuffer launcherDirectory;
    bool built =
        BuildLaunch(run->stagingRoot, run->sourceDirectory, commandLine, launcherDirectory);
    os::StartupInfo startupInfo;
    ZeroBytes(&startupInfo, sizeof(startupInfo));
    startupInfo.cb = sizeof(startupInfo);
    os::ProcessInformation process;
    ZeroBytes(&process, sizeof(process));

    ReleaseInstanceGuard(&run->mutex);
    os::EndDialog(run->dialog, 0);
    os::SetCursor(run->previousCursor);
    if (!built) {
        ReleaseStagingGuard(&run->guard);
        return 0;
    }
    // The process and thread handles go with this process, which ends now.
    bool started = os::CreateProcessA(nullptr, commandLine, nullptr, nullptr, 0, 0, nullptr,
                                      launcherDirectory, &startupInfo, &process) != 0;
    // From here the launcher's current directory holds its Init.
    ReleaseStagingGuard(&run->guard);
    return started ? 1 : 0;
}

int SetupMain(os::Handle instance, const char* /*tail*/) {
    ResetProcessState();
    SetupRun run;
    ZeroBytes(&run, sizeof(run));

    if (!AcquireInstanceGuard(&run.mutex)) {
        os::MessageBoxA(nullptr, kMoreThanOneCopyMessage, kMoreThanOneCopyCaption,
                        os::kMbIconError);
        return kEFail;
    }
    WarnAboutLowColorDepth();
    ShowProgressWindow(&run, instance);

    // Without the directory setup was started from there is nothing to copy from.
    if (!ReadCurrentDirectory(run.sourceDirectory)) {
        return FailStaging(&run);
    }
    bool windowsDirectoryRead = ReadWindowsDirectory(run.stagingRoot);

    SurveyDrives();
    uint32_t systemFree = SystemDriveFreeMegabytes();

    // Unsigned: the "unknown" value of a drive that did not report its space counts as enough.
    bool firstAttemptFailed = false;
    if (systemFree > kSystemDriveMinimumMb) {
        firstAttemptFailed = !StageUnderWindowsDirectory(&run, windowsDirectoryRead);
    }
    if (systemFree <= kSystemDriveMinimumMb || firstAttemptFailed) {
        if (!StageOnBestFixedDrive(&run)) {
            return FailStaging(&run);
        }
    }
    return HandOff(&run);
}
