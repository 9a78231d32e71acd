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
    if (!MayAccess(found.node, found.drive, kFileReadData)) {
        return os::kErrorAccessDenied;
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
    // A missing destination folder is created: FOF_NOCONFIRMATION answers the shell's
    // "create it?" with yes. Each folder is looked up by its path, through any link on the way.
    Path prefix;
    prefix.letter = to.letter;
    Found at = Lookup(prefix);
    for (size_t i = 0; i + 1 < to.parts.size(); ++i) {
        prefix.parts.push_back(to.parts[i]);
        Found next = Lookup(prefix);
        if (next.node == nullptr && next.parent != nullptr) {
            if (os::Dword protection = WriteProtection(next.drive)) {
                return protection;
            }
            if (!MayAccess(next.parent, next.drive, kFileAppendData)) {
                return os::kErrorAccessDenied;
            }
            AddChild(next.parent, to.parts[i], true);
            next = Lookup(prefix);
        }
        if (next.node == nullptr || !next.node->directory) {
            return os::kErrorPathNotFound;
        }
        at = next;
    }
    Node* directory = at.node;
    Drive* drive = at.drive;
    if (os::Dword protection = WriteProtection(drive)) {
        return protection;
    }
    Node* existing = FindChild(directory, to.parts.back());
    uint64_t oldSize = existing == nullptr ? 0 : existing->data->content.size();
    if (existing != nullptr && existing->directory) {
        return os::kErrorAccessDenied;
    }
    if (!MayAccess(existing != nullptr ? existing : directory, drive, kFileWriteData)) {
        return os::kErrorAccessDenied;
    }
    // The confirmation flag also overwrites read-only files; only a file held open stops it.
    if (existing != nullptr &&
        (existing->data->inUse || OpenWithoutSharing(existing, os::kGenericWrite))) {
        return os::kErrorSharingViolation;
    }
    uint64_t size = found.node->data->content.size();
    if (size > oldSize && size - oldSize > drive->freeBytes) {
        return os::kErrorDiskFull;
    }
    drive->freeBytes = drive->freeBytes + oldSize - size;
    // Over an existing file the copy writes into it, whatever other names it has.
    Node* copy = existing != nullptr ? existing : AddChild(directory, to.parts.back(), false);
    WillWrite(copy);
    copy->data->content = found.node->data->content;
    copy->data->attributes = SettableAttributes(found.node->data->attributes) | os::kAttrArchive;
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
