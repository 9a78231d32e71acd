// Files and directories by name: creating and removing directories, attributes, deleting and
// moving.
#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

using namespace sim::model;

namespace {

// CreateDirectoryA leaves room for an 8.3 name below the new directory: MAX_PATH - 12.
const size_t kMaxDirectoryChars = 248;

os::Dword MoveNode(const char* existing, const char* newName, bool replace, bool copyAllowed) {
    Path from;
    Path to;
    os::Dword error = 0;
    Found source = Resolve(existing, &from, &error);
    if (error == 0 && source.node == nullptr) {
        error = source.missing;
    }
    if (error != 0) {
        return error;
    }
    Found target = Resolve(newName, &to, &error);
    if (error != 0) {
        return error;
    }
    Node* node = source.node;
    if (node->parent == nullptr) {
        return os::kErrorAccessDenied;
    }
    if (target.drive == nullptr || (target.node == nullptr && target.parent == nullptr)) {
        return os::kErrorPathNotFound;
    }
    if (os::Dword protection = WriteProtection(source.drive)) {
        return protection;
    }
    if (os::Dword protection = WriteProtection(target.drive)) {
        return protection;
    }
    if (node->inUse || OpenWithoutSharing(node, os::kShareDelete)) {
        return os::kErrorSharingViolation;
    }
    if (target.node == node) {
        MoveChild(node, target.parent, to.parts.back());  // a change of case only
        return 0;
    }
    for (Node* up = target.parent; up != nullptr; up = up->parent) {
        if (up == node) {
            return os::kErrorAccessDenied;  // a directory into itself
        }
    }
    bool otherDrive = target.drive != source.drive;
    if (otherDrive && (node->directory || !copyAllowed)) {
        return kErrorNotSameDevice;
    }
    if (target.node != nullptr) {
        if (!replace) {
            return os::kErrorAlreadyExists;
        }
        if (target.node->directory || node->directory ||
            (target.node->attributes & os::kAttrReadOnly) != 0) {
            return os::kErrorAccessDenied;
        }
        if (target.node->inUse || OpenWithoutSharing(target.node, os::kShareDelete)) {
            return os::kErrorSharingViolation;
        }
    }
    uint64_t size = node->content.size();
    uint64_t freed = target.node == nullptr ? 0 : target.node->content.size();
    if (otherDrive && size > freed && size - freed > target.drive->freeBytes) {
        return os::kErrorDiskFull;
    }
    Node* parent = target.parent;
    if (target.node != nullptr) {
        RemoveFromTree(target.node, target.drive);
    }
    if (otherDrive) {
        source.drive->freeBytes += size;
        target.drive->freeBytes -= size;
    }
    MoveChild(node, parent, to.parts.back());
    return 0;
}

}  // namespace

namespace os {

Bool CreateDirectoryA(const char* path, void* security) {
    (void)security;
    if (Enter("CreateDirectoryA", path)) {
        return 0;
    }
    Path parsed;
    Dword error = 0;
    Found found = Resolve(path, &parsed, &error);
    if (error == 0 && PathText(parsed).size() > kMaxDirectoryChars) {
        error = kErrorFilenameTooLong;
    }
    if (error != 0) {
        SetError(error);
        return 0;
    }
    if (found.node != nullptr) {
        SetError(kErrorAlreadyExists);
        return 0;
    }
    if (found.parent == nullptr) {
        SetError(kErrorPathNotFound);
        return 0;
    }
    if (Dword protection = WriteProtection(found.drive)) {
        SetError(protection);
        return 0;
    }
    AddChild(found.parent, parsed.parts.back(), true);
    return 1;
}

Bool RemoveDirectoryA(const char* path) {
    if (Enter("RemoveDirectoryA", path)) {
        return 0;
    }
    Found found = FindExisting(path);
    if (found.node == nullptr) {
        return 0;
    }
    Node* node = found.node;
    if (!node->directory) {
        SetError(kErrorDirectory);
        return 0;
    }
    if (node->parent == nullptr || (node->attributes & kAttrReadOnly) != 0) {
        SetError(kErrorAccessDenied);
        return 0;
    }
    if (Dword protection = WriteProtection(found.drive)) {
        SetError(protection);
        return 0;
    }
    // A process's current directory is open in that process, without delete sharing.
    if (IsCurrentDirectoryOfLiveProcess(node)) {
        SetError(kErrorSharingViolation);
        return 0;
    }
    if (!node->children.empty()) {
        SetError(kErrorDirNotEmpty);
        return 0;
    }
    DetachChild(node);
    return 1;
}

Dword GetFileAttributesA(const char* path) {
    if (Enter("GetFileAttributesA", path)) {
        return kInvalidFileAttributes;
    }
    Found found = FindExisting(path);
    if (found.node == nullptr) {
        return kInvalidFileAttributes;
    }
    return ReportedAttributes(found.node);
}

Bool SetFileAttributesA(const char* path, Dword attributes) {
    if (Enter("SetFileAttributesA", path)) {
        return 0;
    }
    Path parsed;
    Dword error = 0;
    Found found = ResolveExisting(path, &parsed, &error);
    if (error == 0) {
        error = WriteProtection(found.drive);
    }
    if (error != 0) {
        SetError(error);
        return 0;
    }
    Dword kept = SettableAttributes(attributes);
    if (found.node->directory) {
        found.node->attributes = kept;
    } else {
        found.node->attributes = kept == 0 ? static_cast<Dword>(kAttrNormal) : kept;
    }
    return 1;
}

Bool DeleteFileA(const char* path) {
    if (Enter("DeleteFileA", path)) {
        return 0;
    }
    Path parsed;
    Dword error = 0;
    Found found = ResolveExisting(path, &parsed, &error);
    if (error == 0 && (found.node->directory || (found.node->attributes & kAttrReadOnly) != 0)) {
        error = kErrorAccessDenied;
    }
    if (error == 0) {
        error = WriteProtection(found.drive);
    }
    if (error == 0 && (found.node->inUse || OpenWithoutSharing(found.node, kShareDelete))) {
        error = kErrorSharingViolation;
    }
    if (error != 0) {
        SetError(error);
        return 0;
    }
    RemoveFromTree(found.node, found.drive);
    return 1;
}

Bool MoveFileA(const char* existing, const char* newName) {
    if (Enter("MoveFileA", existing, newName)) {
        return 0;
    }
    // MoveFile copies a file to another drive by itself.
    Dword error = MoveNode(existing, newName, false, true);
    if (error != 0) {
        SetError(error);
        return 0;
    }
    return 1;
}

Bool MoveFileExA(const char* existing, const char* newName, Dword flags) {
    if (Enter("MoveFileExA", existing, newName)) {
        return 0;
    }
    if ((flags & kMoveDelayUntilReboot) != 0) {
        return ScheduleAtRestart(existing, newName);
    }
    if (newName == nullptr) {
        SetError(kErrorInvalidParameter);
        return 0;
    }
    Dword error = MoveNode(existing, newName, (flags & kMoveReplaceExisting) != 0,
                           (flags & kMoveCopyAllowed) != 0);
    if (error != 0) {
        SetError(error);
        return 0;
    }
    return 1;
}

}  // namespace os
