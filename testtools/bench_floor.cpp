// bench_floor.exe: the floor that the Wine benchmarks hold setup.exe against, in the staging
// benchmark alone and as the first program of the chain benchmark's floor chain. It does only
// what staging the medium needs, started the same way as setup (from the medium's root): shows
// the progress dialog (dialog 103 of setup's own resources), creates the four directories in
// TEMP under the Windows directory, copies the 21 manifest rows there with SHFileOperationA,
// stepping the bar, and starts TEMP\Init\_zorp.ex_ <root>\Init as setup does.
//
// No guard, no colour check, no drive survey, no attribute changes: what setup takes beyond
// this floor is what those cost. Built like the programs, without the C runtime, so that the
// floor pays the same process start-up and no more. A floor that skipped work would look fast,
// so it checks what each call reports (no extra calls: they would be timed): exit code 1 when
// every directory was made, every row copied and the next stage started; 2 when a directory
// or a row failed (the next stage is then not started); 0 when the next stage did not start.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "bootstrap/resource_ids.h"
#include "common/path.h"

namespace {

const char* const kDirectories[] = {"Config", "Init", "Extra", "English"};

// setup's manifest, in its order.
const char* const kRows[] = {"Init\\Cfgmgr32.dll",  "Init\\Arrows.dll",   "Init\\media.inf",
                             "Init\\Lexor2.dll",    "Init\\Lexor2r.dll",  "Init\\Journal.ini",
                             "Init\\Msvcirt.dll",   "Init\\Msvcrt.dll",   "Init\\Wizard.pnl",
                             "Init\\Setupapi.dll",  "Init\\_zorp.exe",    "Init\\_zorp.ex_",
                             "Init\\Seedbank",      "Init\\Clock",        "Init\\Panelkit2.dll",
                             "Init\\Ft0042k_.ttf",  "Init\\Remover.exe",  "Config\\Qcore.cfg",
                             "Extra\\dplay50a.exe", "Extra\\dx6core.exe", "Extra\\dx6eng.exe"};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

INT_PTR CALLBACK FloorDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

bool JoinPath(char* out, size_t capacity, const char* directory, const char* name) {
    return CopyText(out, capacity, directory) && AppendText(out, capacity, "\\") &&
           AppendText(out, capacity, name);
}

// The dialog as setup shows it: modeless, without owner, the bar's range one step per row,
// painted once (there is no message loop to paint it).
HWND ShowProgressDialog(HINSTANCE instance) {
    InitCommonControls();
    HWND dialog =
        CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, FloorDialogProc, 0);
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, kRowCount));
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return dialog;
}

// One file, the shell's way: the file lists end in a second NUL, which the zero fill leaves.
// True when the shell reports it copied.
bool CopyRow(const char* source, const char* root, const char* row) {
    char from[kMaxPath + 1];
    char to[kMaxPath + 1];
    ZeroBytes(from, sizeof from);
    ZeroBytes(to, sizeof to);
    if (!JoinPath(from, kMaxPath, source, row) || !JoinPath(to, kMaxPath, root, row)) {
        return false;
    }
    SHFILEOPSTRUCTA operation;
    ZeroBytes(&operation, sizeof operation);
    operation.wFunc = FO_COPY;
    operation.pFrom = from;
    operation.pTo = to;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    return SHFileOperationA(&operation) == 0 && !operation.fAnyOperationsAborted;
}

// TEMP exists in every Windows directory; the benchmarks empty it of the four before each run,
// so each is made here. True when all four were made and all 21 rows copied.
bool CopyManifestRows(HWND bar, const char* source, const char* root) {
    bool complete = true;
    char directory[kMaxPath];
    for (const char* name : kDirectories) {
        complete = JoinPath(directory, sizeof directory, root, name) &&
                   CreateDirectoryA(directory, nullptr) && complete;
    }
    for (const char* row : kRows) {
        complete = CopyRow(source, root, row) && complete;
        SendMessageA(bar, PBM_STEPIT, 0, 0);
    }
    return complete;
}

// "<root>\Init\_zorp.ex_" <source>\Init in <root>\Init, not waited for.
bool StartNextStage(const char* source, const char* root) {
    char commandLine[kMaxPath];
    char directory[kMaxPath];
    if (!CopyText(commandLine, "\"") || !AppendText(commandLine, root) ||
        !AppendText(commandLine, "\\Init\\_zorp.ex_\" ") || !AppendText(commandLine, source) ||
        !AppendText(commandLine, "\\Init") || !JoinPath(directory, kMaxPath, root, "Init")) {
        return false;
    }
    STARTUPINFOA startup;
    ZeroBytes(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    return CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, directory,
                          &startup, &process) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HWND dialog = ShowProgressDialog(instance);
    char source[kMaxPath];
    char root[kMaxPath];
    DWORD length = GetCurrentDirectoryA(kMaxPath, source);
    UINT windowsLength = GetWindowsDirectoryA(root, kMaxPath);
    if (length == 0 || length >= kMaxPath || windowsLength == 0 || windowsLength >= kMaxPath) {
        return 0;
    }
    StripTrailingBackslash(source);
    StripTrailingBackslash(root);
    if (!AppendText(root, "\\TEMP")) {
        return 0;
    }
    bool staged = CopyManifestRows(GetDlgItem(dialog, IDC_PROGRESS_BAR), source, root);
    EndDialog(dialog, 0);
    if (!staged) {
        return 2;
    }
    return StartNextStage(source, root) ? 1 : 0;
}
