// The restart: what is scheduled for the next start of Windows (MoveFileExA on NT, WinInit.ini
// on 95/98), and the restart that carries it out.
#include <stdlib.h>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

os::Bool ScheduleAtRestart(const char* existing, const char* newName) {
    Machine& m = M();
    // Windows 95/98 has no delayed moves; WININIT.INI is their way.
    if (m.platform != os::kPlatformNt) {
        SetError(os::kErrorCallNotImplemented);
        return 0;
    }
    Path source;
    Path target;
    os::Dword error = ParsePath(existing, Current().currentDirectory, &source);
    if (error == 0 && newName != nullptr) {
        error = ParsePath(newName, Current().currentDirectory, &target);
    }
    if (error != 0) {
        SetError(error);
        return 0;
    }
    // The session manager does the work at the next start; nothing is checked now.
    PendingOperation operation;
    operation.asPassed = existing;
    operation.source = PathText(source);
    if (newName != nullptr) {
        operation.target = PathText(target);
    } else {
        m.pendingDeletions.push_back(existing);
    }
    m.pending.push_back(operation);
    return 1;
}

}  // namespace model

using namespace model;

const std::vector<std::string>& PendingDeletions() {
    return M().pendingDeletions;
}

static bool DeleteAtBoot(const std::string& path) {
    Path parsed;
    if (ParsePath(path.c_str(), "", &parsed, false) != 0) {
        return false;
    }
    Found found = Lookup(parsed);
    if (found.node == nullptr || found.node->parent == nullptr) {
        return false;
    }
    if (found.node->directory && !found.node->children.empty()) {
        return false;
    }
    DetachChild(found.node);
    return true;
}

static bool RenameAtBoot(const std::string& source, const std::string& target) {
    Path from;
    Path to;
    if (ParsePath(source.c_str(), "", &from, false) != 0 ||
        ParsePath(target.c_str(), "", &to, false) != 0) {
        return false;
    }
    Found found = Lookup(from);
    Found destination = Lookup(to);
    if (found.node == nullptr || found.node->parent == nullptr || destination.parent == nullptr ||
        to.parts.empty()) {
        return false;
    }
    if (destination.node != nullptr) {
        if (destination.node->directory) {
            return false;
        }
        DetachChild(destination.node);
    }
    MoveChild(found.node, destination.parent, to.parts.back());
    return true;
}

static std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n\v\f");
    if (begin == std::string::npos) {
        return std::string();
    }
    size_t end = text.find_last_not_of(" \t\r\n\v\f");
    return text.substr(begin, end - begin + 1);
}

// WININIT.EXE of Windows 95/98: works through [Rename] of WinInit.ini (NUL=file deletes,
// target=source renames), then keeps the file as WININIT.BAK.
static int ProcessWinInit() {
    Machine& m = M();
    std::string directory = m.windowsDirectory;
    if (directory.empty()) {
        return 0;
    }
    if (directory.back() != '\\') {
        directory += '\\';
    }
    std::string content;
    if (!GetFile(directory + "WinInit.ini", &content)) {
        return 0;
    }
    // Read as text, which ends at the first Ctrl-Z.
    content = content.substr(0, content.find('\x1a'));
    int deleted = 0;
    bool inSection = false;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        std::string line = Trim(content.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            inSection = EqualNoCase(line.substr(0, 8), "[Rename]");
            continue;
        }
        size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos) {
            continue;
        }
        std::string target = Trim(line.substr(0, equals));
        std::string source = Trim(line.substr(equals + 1));
        if (EqualNoCase(target, "NUL")) {
            deleted += DeleteAtBoot(source) ? 1 : 0;
        } else {
            RenameAtBoot(source, target);
        }
    }
    RenameAtBoot(directory + "WinInit.ini", directory + "WININIT.BAK");
    return deleted;
}

int Restart() {
    Machine& m = M();
    int deleted = 0;
    for (const PendingOperation& operation : m.pending) {
        if (operation.target.empty()) {
            deleted += DeleteAtBoot(operation.source) ? 1 : 0;
        } else {
            RenameAtBoot(operation.source, operation.target);
        }
    }
    m.pending.clear();
    m.pendingDeletions.clear();
    if (m.platform != os::kPlatformNt) {
        deleted += ProcessWinInit();
    }
    // Nothing survives a restart but the disks: no process, not even one that never ran.
    for (auto& entry : m.processes) {
        if (entry.first != kHostProcessId) {
            entry.second.alive = false;
            entry.second.waitingToRun = false;
        }
    }
    ClearObjects();
    for (auto& drive : m.drives) {
        std::vector<Node*> stack{drive->top.get()};
        while (!stack.empty()) {
            Node* node = stack.back();
            stack.pop_back();
            node->inUse = false;
            for (auto& entry : node->children) {
                stack.push_back(entry.second.get());
            }
        }
    }
    m.cursor = kArrowCursor;
    return deleted;
}

}  // namespace sim
