// The shell's copy: SHFileOperationA copying files as the shell does, with its own error boxes.
#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {

using namespace model;

const std::vector<ShellOperationRecord>& ShellOperations() {
    return M().shellOperations;
}

}  // namespace sim

using namespace sim;
using namespace sim::model;

namespace {

std::vector<std::string> SplitList(const char* list) {
    std::vector<std::string> items;
    if (list == nullptr) {
        return items;
    }
    while (*list != '\0') {
        items.push_back(list);
        list += items.back().size() + 1;
    }
    return items;
}

std::string LastName(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Copies one file as the shell does with FOF_NOCONFIRMATION; 0 or the error it fails with.
os::Dword CopyOneFile(const std::string& source, std::string destination) {
    Path from;
    os::Dword error = 0;
    Found found = Resolve(source.c_str(), &from, &error);
    if (error != 0) {
        return error;
    }
    if (found.node == nullptr) {
        return found.missing;
    }
    if (found.node->directory) {
        return os::kErrorAccessDenied;  // folder copies are not modelled
    }
    Path to;
    Found target = Resolve(destination.c_str(), &to, &error);
    if (error == 0 && target.node != nullptr && target.node->directory) {
        destination += "\\" + found.node->name;
        target = Resolve(destination.c_str(), &to, &error);
    }
    if (error != 0) {
        return error;
    }
    if (target.drive == nullptr || to.parts.empty()) {
        return os::kErrorPathNotFound;
    }
    if (target.node == found.node) {
        return 0x71;  // DE_SAMEFILE
    }
    if (os::Dword protection = WriteProtection(target.drive)) {
        return protection;
    }
    // A missing destination folder is created: FOF_NOCONFIRMATION answers the shell's
    // "create it?" with yes.
    Node* directory = target.drive->top.get();
    for (size_t i = 0; i + 1 < to.parts.size(); ++i) {
        Node* child = FindChild(directory, to.parts[i]);
        if (child == nullptr) {
            child = AddChild(directory, to.parts[i], true);
        }
        if (!child->directory) {
            return os::kErrorPathNotFound;
        }
        directory = child;
    }
    Node* existing = FindChild(directory, to.parts.back());
    uint64_t oldSize = existing == nullptr ? 0 : existing->content.size();
    if (existing != nullptr && existing->directory) {
        return os::kErrorAccessDenied;
    }
    // The confirmation flag also overwrites read-only files; only a file held open stops it.
    if (existing != nullptr &&
        (existing->inUse || OpenWithoutSharing(existing, os::kGenericWrite))) {
        return os::kErrorSharingViolation;
    }
    uint64_t size = found.node->content.size();
    if (size > oldSize && size - oldSize > target.drive->freeBytes) {
        return os::kErrorDiskFull;
    }
    target.drive->freeBytes = target.drive->freeBytes + oldSize - size;
    Node* copy = existing != nullptr ? existing : AddChild(directory, to.parts.back(), false);
    copy->content = found.node->content;
    copy->attributes = SettableAttributes(found.node->attributes) | os::kAttrArchive;
    return 0;
}

std::string CopyErrorText(const std::string& name, os::Dword error) {
    std::string reason;
    switch (error) {
        case os::kErrorFileNotFound:
        case os::kErrorPathNotFound:
            reason =
                "Cannot find the specified file.\n\nMake sure you specify the correct path "
                "and filename.";
            break;
        case os::kErrorDiskFull:
            reason = "There is not enough free disk space.";
            break;
        case os::kErrorWriteProtect:
            reason = "The disk is write-protected.";
            break;
        case os::kErrorSharingViolation:
            reason = "It is being used by another person or program.";
            break;
        default:
            reason = "Access is denied.";
            break;
    }
    return "Cannot copy " + name + ": " + reason;
}

}  // namespace

namespace os {

int SHFileOperationA(FileOperation* operation) {
    if (operation == nullptr) {
        Log("SHFileOperationA", "");
        return kErrorInvalidParameter;
    }
    std::vector<std::string> sources = SplitList(operation->from);
    std::vector<std::string> targets = SplitList(operation->to);
    const char* firstSource = sources.empty() ? nullptr : sources[0].c_str();
    const char* firstTarget = targets.empty() ? nullptr : targets[0].c_str();
    ShellOperationRecord request;
    request.processId = Current().id;
    request.func = operation->func;
    request.flags = operation->flags;
    request.hadOwner = operation->hwnd != nullptr;
    request.from = firstSource == nullptr ? "" : firstSource;
    request.to = firstTarget == nullptr ? "" : firstTarget;
    M().shellOperations.push_back(request);
    if (Enter("SHFileOperationA", firstSource, firstTarget)) {
        return static_cast<int>(Current().lastError);
    }
    operation->anyOperationsAborted = 0;
    if (operation->func != kFoCopy) {
        return kErrorInvalidParameter;  // only copies are modelled
    }
    if (sources.empty() || targets.empty()) {
        return 0x7C;  // DE_INVALIDFILES
    }
    for (size_t i = 0; i < sources.size(); ++i) {
        std::string destination;
        if (targets.size() == sources.size()) {
            destination = targets[i];
        } else {
            destination = targets[0] + "\\" + LastName(sources[i]);
        }
        Dword error = CopyOneFile(sources[i], destination);
        if (error != 0) {
            // Without FOF_NOERRORUI the shell says so itself, even with FOF_SILENT.
            if ((operation->flags & kFofNoErrorUi) == 0) {
                MessageBoxRecord record;
                record.processId = Current().id;
                record.text = CopyErrorText(LastName(sources[i]), error);
                record.caption = "Error Copying File or Folder";
                record.type = kMbOk | kMbIconError;
                record.hadOwner = operation->hwnd != nullptr;
                M().messageBoxes.push_back(record);
            }
            SetError(error);
            return static_cast<int>(error);
        }
    }
    return 0;
}

}  // namespace os
