// Open files: CreateFileA's dispositions and sharing, and reading, writing and flushing through
// a file handle.
#include <string.h>

#include <algorithm>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

// An open handle of any process that refuses to share `access` (kGenericRead/Write) or, for
// kShareDelete, deletion.
bool OpenWithoutSharing(const Node* node, os::Dword needed) {
    for (auto& entry : M().handles) {
        const HandleObject& handle = entry.second;
        if (handle.kind != Kind::kFile || handle.node.get() != node) {
            continue;
        }
        if ((needed & os::kGenericRead) != 0 && (handle.share & os::kShareRead) == 0) {
            return true;
        }
        if ((needed & os::kGenericWrite) != 0 && (handle.share & os::kShareWrite) == 0) {
            return true;
        }
        if ((needed & os::kShareDelete) != 0 && (handle.share & os::kShareDelete) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace model
}  // namespace sim

using namespace sim::model;

namespace {

// The shared pointer that keeps a node of the tree alive.
std::shared_ptr<Node> SharedOf(Node* node) {
    return node->parent->children[Upper(node->name)];
}

// True when a handle already open on `node` has access that the new share mode refuses.
bool ConflictsWithOpenAccess(const Node* node, os::Dword share) {
    for (auto& entry : M().handles) {
        const HandleObject& handle = entry.second;
        if (handle.kind != Kind::kFile || handle.node.get() != node) {
            continue;
        }
        if (((handle.access & os::kGenericRead) != 0 && (share & os::kShareRead) == 0) ||
            ((handle.access & os::kGenericWrite) != 0 && (share & os::kShareWrite) == 0)) {
            return true;
        }
    }
    return false;
}

}  // namespace

namespace os {

Handle CreateFileA(const char* path, Dword access, Dword shareMode, void* security,
                   Dword creationDisposition, Dword flagsAndAttributes, Handle templateFile) {
    (void)security;
    (void)templateFile;
    if (Enter("CreateFileA", path)) {
        return InvalidHandle();
    }
    const Dword kTruncateExisting = 5;
    Path parsed;
    Dword error = 0;
    Found found = Resolve(path, &parsed, &error);
    if (error == 0 && (creationDisposition < kCreateNew || creationDisposition > 5)) {
        error = kErrorInvalidParameter;
    }
    if (error == 0 && found.node == nullptr && found.parent == nullptr) {
        error = kErrorPathNotFound;
    }
    if (error == 0 && found.node != nullptr && found.node->directory) {
        error = kErrorAccessDenied;
    }
    if (error != 0) {
        SetError(error);
        return InvalidHandle();
    }
    Dword newAttributes = SettableAttributes(flagsAndAttributes);
    if (newAttributes == 0) {
        newAttributes = kAttrArchive;  // a new file is marked for backup
    }
    Node* node = found.node;
    bool existed = node != nullptr;
    if (!existed) {
        if (creationDisposition == kOpenExisting || creationDisposition == kTruncateExisting) {
            error = kErrorFileNotFound;
        } else {
            error = WriteProtection(found.drive);
        }
        if (error != 0) {
            SetError(error);
            return InvalidHandle();
        }
        node = AddChild(found.parent, parsed.parts.back(), false);
        node->attributes = newAttributes;
    } else {
        bool truncates =
            creationDisposition == kCreateAlways || creationDisposition == kTruncateExisting;
        bool writes = (access & kGenericWrite) != 0 || truncates;
        if (creationDisposition == kCreateNew) {
            error = kErrorFileExists;
        } else if (writes && WriteProtection(found.drive) != 0) {
            error = WriteProtection(found.drive);
        } else if (writes && (node->attributes & kAttrReadOnly) != 0) {
            error = kErrorAccessDenied;
        } else if ((writes && node->inUse) || OpenWithoutSharing(node, access) ||
                   ConflictsWithOpenAccess(node, shareMode)) {
            error = kErrorSharingViolation;
        }
        if (error != 0) {
            SetError(error);
            return InvalidHandle();
        }
        if (truncates) {
            found.drive->freeBytes += node->content.size();
            node->content.clear();
        }
        if (creationDisposition == kCreateAlways) {
            node->attributes = newAttributes;
        }
    }
    HandleObject object;
    object.kind = Kind::kFile;
    object.processId = Current().id;
    object.node = SharedOf(node);
    object.drive = found.drive;
    object.access = access;
    object.share = shareMode;
    bool reportsExisting =
        existed && (creationDisposition == kCreateAlways || creationDisposition == kOpenAlways);
    SetError(reportsExisting ? kErrorAlreadyExists : kErrorSuccess);
    return NewHandle(object);
}

// The stored path of an open file, for the log and path-matched faults.
static std::string FilePathOf(HandleObject* handle) {
    if (handle == nullptr || handle->kind != Kind::kFile || handle->node->parent == nullptr) {
        return std::string();
    }
    return StoredPathOf(handle->drive, handle->node.get());
}

// Enters the call `op` on `file`: the running process's open file, opened with `access`;
// nullptr, with the last error set, when the call fails.
static HandleObject* EnterFileCall(const char* op, Handle file, Dword access) {
    HandleObject* handle = FindHandle(file);
    if (Enter(op, FilePathOf(handle).c_str())) {
        return nullptr;
    }
    if (handle == nullptr || handle->kind != Kind::kFile) {
        SetError(kErrorInvalidHandle);
        return nullptr;
    }
    if ((handle->access & access) != access) {
        SetError(kErrorAccessDenied);
        return nullptr;
    }
    return handle;
}

Bool ReadFile(Handle file, void* buffer, Dword bytesToRead, Dword* bytesRead, void* overlapped) {
    (void)overlapped;
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    HandleObject* handle = EnterFileCall("ReadFile", file, kGenericRead);
    if (handle == nullptr) {
        return 0;
    }
    const std::string& content = handle->node->content;
    uint64_t available = handle->position < content.size() ? content.size() - handle->position : 0;
    Dword count = static_cast<Dword>(std::min<uint64_t>(available, bytesToRead));
    if (count > 0) {
        memcpy(buffer, content.data() + handle->position, count);
    }
    handle->position += count;
    if (bytesRead != nullptr) {
        *bytesRead = count;
    }
    return 1;
}

Bool WriteFile(Handle file, const void* buffer, Dword bytesToWrite, Dword* bytesWritten,
               void* overlapped) {
    (void)overlapped;
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    HandleObject* handle = EnterFileCall("WriteFile", file, kGenericWrite);
    if (handle == nullptr) {
        return 0;
    }
    std::string& content = handle->node->content;
    uint64_t end = handle->position + bytesToWrite;
    uint64_t growth = end > content.size() ? end - content.size() : 0;
    bool inTree = handle->node->parent != nullptr;
    if (inTree && growth > handle->drive->freeBytes) {
        SetError(kErrorDiskFull);
        return 0;
    }
    if (inTree) {
        handle->drive->freeBytes -= growth;
    }
    if (end > content.size()) {
        content.resize(end);
    }
    // Written straight through to the disk: a program that stops half-way leaves what it
    // wrote so far.
    if (bytesToWrite > 0) {
        memcpy(&content[handle->position], buffer, bytesToWrite);
    }
    handle->position = end;
    if (bytesWritten != nullptr) {
        *bytesWritten = bytesToWrite;
    }
    return 1;
}

Dword GetFileSize(Handle file, Dword* sizeHigh) {
    HandleObject* handle = EnterFileCall("GetFileSize", file, 0);
    if (handle == nullptr) {
        return 0xFFFFFFFFu;
    }
    uint64_t size = handle->node->content.size();
    if (sizeHigh != nullptr) {
        *sizeHigh = static_cast<Dword>(size >> 32);
    }
    SetError(kErrorSuccess);
    return static_cast<Dword>(size);
}

Bool FlushFileBuffers(Handle file) {
    return EnterFileCall("FlushFileBuffers", file, kGenericWrite) != nullptr ? 1 : 0;
}

}  // namespace os
