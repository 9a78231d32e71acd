#include "tests/system/stretched_inputs.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "tests/system/fault_sweep.h"
#include "sim/medium.h"

namespace sim {

namespace {

const size_t kMaxPathChars = 259;  // a path buffer's characters, NUL excluded

std::string Stripped(std::string path) {
    if (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    return path;
}

std::string MediumContent(const std::string& row) {
    if (row == "Init\\_zorp.ex_") {
        return ProgramImage("stretch stand-in launcher");
    }
    if (row == "Init\\_zorp.exe") {
        return ProgramImage("stretch stand-in installer");
    }
    return "medium " + row;
}

int StandInProgram(os::Handle, const char*) {
    return 1;
}

struct Row {
    std::string input;
    size_t length;
    int64_t exitCode;
    std::vector<std::string> failures;
};

// ---- setup

// What a setup row must end in. Setup stages under one of `roots` (TEMP under Windows first,
// then TEMP on the best fixed drive) and starts its launcher from there, or it stages nothing
// usable and ends with 0.
struct SetupExpectation {
    std::string source;              // the source directory as setup must take it (stripped)
    std::vector<std::string> roots;  // every staging root it may use
    int64_t exitCode;                // 0 or 1; -2 when either is clean
    std::string root;                // the root it must use when it ends with 1; "" for any
};

void PrepareSetup(ProgramMain setupMain, const std::string& mediumDirectory) {
    ResetTypical(500, true);
    RegisterProgram("stretch setup", setupMain);
    RegisterProgram("stretch stand-in launcher", StandInProgram);
    PutFile("E:\\setup.exe", ProgramImage("stretch setup"));
    MakeDirectories(mediumDirectory);
    for (const char* row : kMediumRows) {
        std::string path = Stripped(mediumDirectory) + "\\" + row;
        if (path.size() <= kMaxPathChars) {
            PutFile(path, MediumContent(row), os::kAttrReadOnly);
        }
    }
}

void CheckSetupRow(const std::vector<Entry>& before, const SetupExpectation& expected, Row* row) {
    if (row->exitCode != 0 && row->exitCode != 1) {
        row->failures.push_back("exit code " + std::to_string(row->exitCode));
        return;
    }
    if (expected.exitCode != -2 && row->exitCode != expected.exitCode) {
        row->failures.push_back("exit code " + std::to_string(row->exitCode) + ", expected " +
                                std::to_string(expected.exitCode));
    }
    std::vector<ProcessRecord> children = Children();
    std::string used;
    for (const ProcessRecord& child : children) {
        for (const std::string& root : expected.roots) {
            if (child.commandLine ==
                    "\"" + root + "\\Init\\_zorp.ex_\" " + expected.source + "\\Init" &&
                child.currentDirectory == root + "\\Init") {
                used = root;
            }
        }
        if (used.empty()) {
            row->failures.push_back("launcher started as [" + child.commandLine + "] in [" +
                                    child.currentDirectory + "]");
        }
    }
    if ((row->exitCode == 1) != (children.size() == 1 && children[0].started)) {
        row->failures.push_back("exit code and started launcher disagree");
    }
    if (row->exitCode == 1 && !expected.root.empty() && used != expected.root) {
        row->failures.push_back("staged under [" + used + "], expected [" + expected.root + "]");
    }

    // Every new directory is a staging root or one of its four directories; every new file
    // the whole copy of a manifest row at its whole path.
    std::set<std::string> allowed;
    for (const std::string& root : expected.roots) {
        allowed.insert(UpperText(root) + "\\");
        for (const char* directory : kMediumDirectories) {
            allowed.insert(UpperText(root + "\\" + directory) + "\\");
        }
    }
    std::map<std::string, std::string> files;
    for (const std::string& root : expected.roots) {
        for (const char* manifestRow : kMediumRows) {
            files[UpperText(root + "\\" + manifestRow)] = MediumContent(manifestRow);
        }
    }
    TreeDiff diff = DiffTrees(before, SnapshotAll());
    for (const std::string& path : diff.removed) {
        row->failures.push_back("removed " + path);
    }
    for (const std::string& path : diff.changed) {
        row->failures.push_back("changed " + path);
    }
    for (const std::string& path : diff.added) {
        std::string content;
        auto file = files.find(UpperText(path));
        if (allowed.count(UpperText(path)) != 0) {
            continue;
        }
        if (file == files.end() || !GetFile(path, &content) || content != file->second) {
            row->failures.push_back("created " + path);
        }
    }
}

// The longest manifest row, and the launcher's command line from `root` for `source`.
size_t LongestRow() {
    size_t longest = 0;
    for (const char* row : kMediumRows) {
        longest = std::max(longest, std::string(row).size());
    }
    return longest;
}

// A staging root setup can use all the way: it can be created (CreateDirectoryA leaves room
// for an 8.3 name: 248 characters), every row fits below it with the shell's second NUL, and
// the launcher's command line fits.
bool RootUsable(const std::string& root, const std::string& source) {
    std::string commandLine = "\"" + root + "\\Init\\_zorp.ex_\" " + source + "\\Init";
    return root.size() + std::string("\\English").size() < 248 &&
           root.size() + 1 + LongestRow() <= kMaxPathChars - 1 &&
           source.size() + 1 + LongestRow() <= kMaxPathChars - 1 &&
           commandLine.size() <= kMaxPathChars;
}

Row RunSetupRow(ProgramMain setupMain, const std::string& input, size_t length,
                const std::string& mediumDirectory, const std::string& currentDirectory,
                const std::function<void()>& stretch, const SetupExpectation& expected) {
    Row row;
    row.input = input;
    row.length = length;
    PrepareSetup(setupMain, mediumDirectory);
    stretch();
    std::vector<Entry> before = SnapshotAll();
    row.exitCode = RunProgram("E:\\setup.exe", currentDirectory);
    // A current directory of 260 characters or more cannot be given to a process at all.
    if (row.exitCode == -1 && currentDirectory.size() > kMaxPathChars) {
        row.exitCode = -1;
        if (SnapshotAll().size() != before.size()) {
            row.failures.push_back("changed the disk without starting");
        }
        return row;
    }
    CheckSetupRow(before, expected, &row);
    return row;
}

// ---- the launcher

const char kInit[] = "C:\\WINDOWS\\TEMP\\Init";

void PrepareLauncher(ProgramMain launcherMain, const std::string& init, bool windowsNt) {
    ResetTypical(500, windowsNt);
    RegisterProgram("stretch launcher", launcherMain);
    RegisterProgram("stretch stand-in installer", StandInProgram);
    // The launcher never looks at its own path: it may run from anywhere.
    PutFile("C:\\L\\_zorp.ex_", ProgramImage("stretch launcher"));
    std::string root = init.substr(0, init.rfind('\\'));
    for (const char* directory : kMediumDirectories) {
        MakeDirectories(root + "\\" + directory);
    }
    for (const char* row : kMediumRows) {
        std::string path = root + "\\" + row;
        if (path.size() <= kMaxPathChars) {
            PutFile(path, MediumContent(row));
        }
    }
}

// The staged paths the launcher may remove, for the Init directory `init`.
std::set<std::string> Removable(const std::string& init) {
    std::string root = init.substr(0, init.rfind('\\'));
    std::set<std::string> paths;
    for (const char* row : kMediumRows) {
        if (std::string(row) != "Init\\_zorp.ex_") {
            paths.insert(UpperText(root + "\\" + row));
        }
    }
    for (const char* directory : kMediumDirectories) {
        paths.insert(UpperText(root + "\\" + directory) + "\\");
    }
    return paths;
}

// `zorpEntry`, when not empty, is the restart entry _zorp.ex_ must get whenever it fits.
void CheckLauncherRow(const std::vector<Entry>& before, const std::string& init,
                      const std::string& tail, bool windowsNt, const std::string& zorpEntry,
                      Row* row) {
    std::string commandLine = "\"" + init + "\\_zorp.exe\" " + tail;
    bool fits = init.size() <= kMaxPathChars && commandLine.size() <= kMaxPathChars &&
                tail.size() <= kMaxPathChars;
    int64_t expectedExit = fits ? 1 : 0;
    if (row->exitCode != expectedExit) {
        row->failures.push_back("exit code " + std::to_string(row->exitCode) + ", expected " +
                                std::to_string(expectedExit));
    }
    for (const ProcessRecord& child : Children()) {
        if (child.commandLine != commandLine || child.currentDirectory != init) {
            row->failures.push_back("installer started as [" + child.commandLine.substr(0, 300) +
                                    "] in [" + child.currentDirectory + "]");
        }
    }
    std::set<std::string> removable = Removable(init);
    TreeDiff diff = DiffTrees(before, SnapshotAll());
    for (const std::string& path : diff.removed) {
        if (removable.count(UpperText(path)) == 0 || row->exitCode != 1) {
            row->failures.push_back("removed " + path);
        }
    }
    for (const std::string& path : diff.added) {
        if (windowsNt || UpperText(path) != UpperText(kWinInit)) {
            row->failures.push_back("created " + path);
        }
    }
    for (const std::string& path : diff.changed) {
        if (windowsNt || UpperText(path) != UpperText(kWinInit)) {
            row->failures.push_back("changed " + path);
        }
    }
    // Each restart entry names, through its short form, one of the three files whole.
    std::string list;
    bool listed = GetFile(kWinInit, &list);
    if (!zorpEntry.empty() && row->exitCode == 1 &&
        (zorpEntry.size() - 4 <= kMaxPathChars) !=
            (list.find(zorpEntry + "\r\n") != std::string::npos)) {
        row->failures.push_back(
            "restart entry of _zorp.ex_ " +
            std::string(zorpEntry.size() - 4 <= kMaxPathChars ? "missing" : "present"));
    }
    if (!windowsNt && listed) {
        std::set<std::string> names;
        for (const char* name : {"\\Cfgmgr32.dll", "\\Setupapi.dll", "\\_zorp.ex_"}) {
            names.insert(UpperText(init + name));
        }
        size_t start = 0;
        while ((start = list.find("NUL=", start)) != std::string::npos) {
            size_t end = list.find("\r\n", start);
            std::string shortPath = list.substr(start + 4, end - start - 4);
            if (names.count(UpperText(StoredPath(shortPath))) == 0) {
                row->failures.push_back("restart entry for [" + shortPath + "]");
            }
            start = end;
        }
    }
}

Row RunLauncherRow(ProgramMain launcherMain, const std::string& input, size_t length,
                   const std::string& init, const std::string& tail, bool windowsNt,
                   const std::function<void()>& stretch, const std::string& zorpEntry = "") {
    Row row;
    row.input = input;
    row.length = length;
    PrepareLauncher(launcherMain, init, windowsNt);
    stretch();
    std::vector<Entry> before = SnapshotAll();
    row.exitCode = RunProgram("C:\\L\\_zorp.ex_ " + tail, init);
    if (row.exitCode == -1 && init.size() > kMaxPathChars) {
        if (SnapshotAll().size() != before.size()) {
            row.failures.push_back("changed the disk without starting");
        }
        return row;
    }
    CheckLauncherRow(before, init, tail, windowsNt, zorpEntry, &row);
    return row;
}

// The drive list of `length` bytes: C:\ and E:\ in a well-formed list, then one long root
// filling the rest; `ended` keeps the list's closing NUL, otherwise it runs to the end.
std::string DriveList(size_t length, bool ended) {
    std::string list("C:\\\0E:\\\0", 8);
    std::string filler = "Q:\\";
    while (list.size() + filler.size() + 2 < length) {
        filler += static_cast<char>('a' + filler.size() % 26);
    }
    if (length > list.size() + 2) {
        list += filler + std::string(1, '\0');
    }
    list += std::string(1, '\0');
    list.resize(length, 'x');
    if (!ended && !list.empty()) {
        list.back() = 'x';
    }
    return list;
}

void Record(const Row& row, StretchReport* report, std::map<std::string, std::set<int64_t>>* seen) {
    ++report->rows;
    (*seen)[row.input].insert(row.exitCode);
    for (const std::string& failure : row.failures) {
        ++report->failures;
        if (report->messages.size() < 20) {
            report->messages.push_back(row.input + " length " + std::to_string(row.length) + ": " +
                                       failure);
        }
    }
}

}  // namespace

std::vector<size_t> StretchLengths() {
    std::vector<size_t> lengths;
    for (size_t length = 0; length <= 1024; length += length < 32 ? 4 : (length < 256 ? 32 : 128)) {
        lengths.push_back(length);
    }
    for (size_t length = 236; length <= 240; ++length) {
        lengths.push_back(length);
    }
    for (size_t length = 258; length <= 262; ++length) {
        lengths.push_back(length);
    }
    for (size_t length :
         {200, 220, 225, 229, 230, 231, 233, 245, 247, 248, 249, 250, 255, 256, 257, 259, 1024}) {
        lengths.push_back(length);
    }
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    return lengths;
}

std::string PathOfLength(const std::string& prefix, size_t length) {
    std::string path = prefix.substr(0, std::min(prefix.size(), length));
    size_t component = 0;
    while (path.size() < length) {
        if (component == 40 && path.size() + 1 < length) {
            path += "\\";
            component = 0;
        } else {
            path += static_cast<char>('a' + path.size() % 26);
            ++component;
        }
    }
    return path;
}

StretchReport StretchInputs(ProgramMain setupMain, ProgramMain launcherMain) {
    StretchReport report;
    std::map<std::string, std::set<int64_t>> seen;
    const std::string windowsTemp = "C:\\WINDOWS\\TEMP";
    const std::string fallbackTemp = "C:\\TEMP";
    for (size_t length : StretchLengths()) {
        // setup's current directory, the source of every copy and of the launcher's tail.
        if (length >= 3) {
            std::string source = PathOfLength("E:\\", length);
            SetupExpectation expected;
            expected.source = Stripped(source);
            expected.roots = {windowsTemp, fallbackTemp};
            // A root whose launcher command line would not fit is passed over for the
            // fallback, whose shorter one may.
            expected.root = RootUsable(windowsTemp, expected.source)    ? windowsTemp
                            : RootUsable(fallbackTemp, expected.source) ? fallbackTemp
                                                                        : "";
            expected.exitCode = expected.root.empty() ? 0 : 1;
            Record(
                RunSetupRow(
                    setupMain, "setup current directory", length, source, source, [] {}, expected),
                &report, &seen);
        }
        // The Windows directory: TEMP below it when that can be used whole, else C:\TEMP.
        {
            std::string windows = PathOfLength("C:\\", length);
            SetupExpectation expected;
            expected.source = "E:";
            std::string primary = Stripped(windows) + "\\TEMP";
            expected.roots = {primary, fallbackTemp};
            expected.exitCode = 1;
            bool primaryUsable =
                windows.size() <= kMaxPathChars && windows.size() >= 3 && RootUsable(primary, "E:");
            expected.root = primaryUsable ? primary : fallbackTemp;
            Record(RunSetupRow(
                       setupMain, "Windows directory", length, "E:\\", "E:\\",
                       [windows] {
                           SetWindowsDirectory(windows);
                           if (windows.size() >= 3) {
                               MakeDirectories(windows);
                           }
                       },
                       expected),
                   &report, &seen);
        }
        // The system directory: it only marks the system drive.
        {
            std::string system = PathOfLength("C:\\", length);
            SetupExpectation expected;
            expected.source = "E:";
            expected.roots = {windowsTemp, fallbackTemp};
            expected.exitCode = 1;
            expected.root = length >= 3 && length <= kMaxPathChars ? windowsTemp : fallbackTemp;
            Record(RunSetupRow(
                       setupMain, "system directory", length, "E:\\", "E:\\",
                       [system] { SetSystemDirectory(system); }, expected),
                   &report, &seen);
        }
        // The drive list, ended and running off its end.
        for (bool ended : {true, false}) {
            std::string list = DriveList(length, ended);
            SetupExpectation expected;
            expected.source = "E:";
            expected.roots = {windowsTemp, fallbackTemp};
            expected.exitCode = -2;  // C: may be cut from the list: then nothing fixed is left
            expected.root = "";
            Record(RunSetupRow(
                       setupMain, ended ? "drive list" : "drive list without its end", length,
                       "E:\\", "E:\\", [list] { SetDriveStringsOverride(list); }, expected),
                   &report, &seen);
        }
        // The launcher's command-line tail, on both families.
        for (bool windowsNt : {true, false}) {
            std::string tail = PathOfLength("E:\\", length);
            Record(RunLauncherRow(launcherMain,
                                  windowsNt ? "launcher tail (NT)" : "launcher tail (9x)", length,
                                  kInit, tail, windowsNt, [] {}),
                   &report, &seen);
        }
        // The launcher's current directory, the staging Init directory, on both families.
        if (length >= 12) {
            for (bool windowsNt : {true, false}) {
                std::string init = PathOfLength("C:\\S\\", length - 5) + "\\Init";
                Record(RunLauncherRow(
                           launcherMain,
                           windowsNt ? "launcher directory (NT)" : "launcher directory (9x)",
                           length, init, "E:\\Init", windowsNt, [] {}),
                       &report, &seen);
            }
        }
        // The short name of _zorp.ex_, which its restart entry carries (9x).
        if (length >= 1) {
            std::string name = "Z" + std::string(length - 1, 'a');
            Record(RunLauncherRow(
                       launcherMain, "short name of _zorp.ex_ (9x)", length, kInit, "E:\\Init",
                       false, [name] { SetShortName(std::string(kInit) + "\\_zorp.ex_", name); },
                       std::string("NUL=") + kInit + "\\" + name),
                   &report, &seen);
        }
    }
    for (const auto& input : seen) {
        std::string codes;
        for (int64_t code : input.second) {
            codes += (codes.empty() ? "" : " ") + std::to_string(code);
        }
        report.inputs.push_back(input.first + ": exit codes " + codes);
    }
    return report;
}

}  // namespace sim
