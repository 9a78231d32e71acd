#include "tests/bootstrap/setup_machine.h"

#include <gtest/gtest.h>

#include "bootstrap/setup_run.h"
#include "common/platform.h"
#include "sim/medium.h"

namespace setup_test {

LauncherView gLauncher;

static int StandInLauncher(os::Handle, const char* tail) {
    ++gLauncher.runs;
    gLauncher.tail = tail;
    char directory[1024] = "";
    os::GetCurrentDirectoryA(sizeof directory, directory);
    gLauncher.currentDirectory = directory;
    return 1;
}

std::string MediumContent(const std::string& row) {
    if (row == "Init\\_zorp.ex_") {
        return sim::ProgramImage("launcher");
    }
    return "medium " + row;
}

void PutMedium(const std::string& sourceDirectory, const std::string& leaveOut) {
    std::string prefix = sourceDirectory;
    if (prefix.empty() || prefix.back() != '\\') {
        prefix += "\\";
    }
    for (const char* row : kRows) {
        if (row != leaveOut && (prefix + row).size() <= 259) {
            EXPECT_TRUE(sim::PutFile(prefix + row, MediumContent(row), os::kAttrReadOnly))
                << prefix + row;
        }
    }
}

void PrepareTypical(uint32_t cFreeMb, const std::string& leaveOut) {
    sim::ResetTypical(cFreeMb);
    sim::RegisterProgram("setup", SetupMain);
    sim::RegisterProgram("launcher", StandInLauncher);
    gLauncher = LauncherView();
    EXPECT_TRUE(sim::PutFile("E:\\setup.exe", sim::ProgramImage("setup"), os::kAttrReadOnly));
    PutMedium("E:\\", leaveOut);
    sim::ClearCalls();
}

int64_t RunSetup(const std::string& sourceDirectory) {
    int64_t code = sim::RunProgram("E:\\setup.exe", sourceDirectory);
    sim::RunStartedPrograms();  // the launcher runs once setup has ended
    return code;
}

std::vector<sim::ProcessRecord> Children() {
    std::vector<sim::ProcessRecord> children;
    for (const sim::ProcessRecord& record : sim::Processes()) {
        if (record.parentId != 0) {
            children.push_back(record);
        }
    }
    return children;
}

}  // namespace setup_test
