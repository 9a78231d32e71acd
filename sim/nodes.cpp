// The file tree: each drive's tree of nodes (directories and files), how a path finds its
// node, and the test helpers that put files there and take snapshots.
#include <algorithm>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

Node* FindChild(Node* directory, const std::string& name) {
    auto it = directory->children.find(Upper(name));
    if (it != directory->children.end()) {
        return it->second.get();
    }
    // Every Windows path may name a component by its short name.
    std::string upper = Upper(name);
    for (auto& entry : directory->children) {
        if (Upper(ShortNameOf(entry.second.get())) == upper) {
            return entry.second.get();
        }
    }
    return nullptr;
}

Node* AddChild(Node* directory, const std::string& name, bool isDirectory) {
    auto node = std::make_shared<Node>();
    node->name = name;
    node->directory = isDirectory;
    node->attributes = isDirectory ? 0 : static_cast<os::Dword>(os::kAttrNormal);
    node->serial = M().nextSerial++;
    node->parent = directory;
    node->owner = Current().user;
    Node* raw = node.get();
    directory->children[Upper(name)] = node;
    return raw;
}

std::shared_ptr<Node> DetachChild(Node* node) {
    Node* parent = node->parent;
    auto it = parent->children.find(Upper(node->name));
    std::shared_ptr<Node> kept = it->second;
    parent->children.erase(it);
    node->parent = nullptr;
    return kept;
}

void MoveChild(Node* node, Node* directory, const std::string& name) {
    std::shared_ptr<Node> kept = DetachChild(node);
    kept->name = name;
    kept->parent = directory;
    directory->children[Upper(name)] = kept;
}

uint64_t TreeBytes(const Node* node) {
    uint64_t total = node->content.size();
    for (const auto& entry : node->children) {
        total += TreeBytes(entry.second.get());
    }
    return total;
}

Drive* DriveOf(const Node* node) {
    while (node->parent != nullptr) {
        node = node->parent;
    }
    for (auto& drive : M().drives) {
        if (drive->top.get() == node) {
            return drive.get();
        }
    }
    return nullptr;
}

std::string StoredPathOf(const Drive* drive, const Node* node) {
    std::vector<const Node*> chain;
    for (const Node* n = node; n != nullptr && n->parent != nullptr; n = n->parent) {
        chain.push_back(n);
    }
    std::string text = drive->root;
    for (size_t i = chain.size(); i > 0; --i) {
        text += chain[i - 1]->name;
        if (i > 1) {
            text += '\\';
        }
    }
    return text;
}

Found Lookup(const Path& path) {
    Found found;
    found.drive = FindDrive(path.letter);
    if (found.drive == nullptr) {
        found.missing = os::kErrorPathNotFound;
        return found;
    }
    Node* current = found.drive->top.get();
    for (size_t i = 0; i < path.parts.size(); ++i) {
        if (!current->directory) {
            found.missing = os::kErrorPathNotFound;
            return found;
        }
        Node* child = FindChild(current, path.parts[i]);
        if (child == nullptr) {
            if (i + 1 == path.parts.size()) {
                found.parent = current;
                found.missing = os::kErrorFileNotFound;
            } else {
                found.missing = os::kErrorPathNotFound;
            }
            return found;
        }
        current = child;
    }
    found.node = current;
    found.parent = current->parent;
    return found;
}

Found Resolve(const char* text, Path* path, os::Dword* error) {
    *error = ParsePath(text, Current().currentDirectory, path);
    if (*error != 0) {
        return Found();
    }
    return Lookup(*path);
}

// What `path` names, parsed relative to the running process, with *error set when nothing is
// there: the parse error, or 2 for a missing last component and 3 for a missing directory.
Found ResolveExisting(const char* path, Path* parsed, os::Dword* error) {
    Found found = Resolve(path, parsed, error);
    if (*error == 0 && found.node == nullptr) {
        *error = found.missing;
    }
    return found;
}

Found FindExisting(const char* path) {
    Path parsed;
    os::Dword error = 0;
    Found found = ResolveExisting(path, &parsed, &error);
    if (error != 0) {
        SetError(error);
    }
    return found;
}

bool IsCurrentDirectoryOfLiveProcess(const Node* node) {
    for (auto& entry : M().processes) {
        const Process& process = entry.second;
        if (!process.alive) {
            continue;
        }
        Path path;
        if (ParsePath(process.currentDirectory.c_str(), "", &path, false) == 0 &&
            Lookup(path).node == node) {
            return true;
        }
    }
    return false;
}

os::Dword SettableAttributes(os::Dword attributes) {
    return attributes & (os::kAttrReadOnly | os::kAttrHidden | os::kAttrSystem | os::kAttrArchive);
}

os::Dword ReportedAttributes(const Node* node) {
    return node->directory ? (node->attributes | os::kAttrDirectory) : node->attributes;
}

void RemoveFromTree(Node* node, Drive* drive) {
    drive->freeBytes += TreeBytes(node);
    DetachChild(node);
}

// The node at an absolute path, creating missing directories on the way when asked.
Node* Walk(const std::string& path, bool create, bool lastIsDirectory, Drive** driveOut) {
    Path parsed;
    if (ParsePath(path.c_str(), "", &parsed, false) != 0) {
        return nullptr;
    }
    Drive* drive = FindDrive(parsed.letter);
    if (drive == nullptr) {
        return nullptr;
    }
    if (driveOut != nullptr) {
        *driveOut = drive;
    }
    Node* current = drive->top.get();
    for (size_t i = 0; i < parsed.parts.size(); ++i) {
        if (!current->directory) {
            return nullptr;
        }
        Node* child = FindChild(current, parsed.parts[i]);
        if (child == nullptr) {
            if (!create) {
                return nullptr;
            }
            bool last = i + 1 == parsed.parts.size();
            child = AddChild(current, parsed.parts[i], !last || lastIsDirectory);
        }
        current = child;
    }
    return current;
}

}  // namespace model

using namespace model;

bool MakeDirectories(const std::string& path) {
    Node* node = Walk(path, true, true, nullptr);
    return node != nullptr && node->directory;
}

bool PutFile(const std::string& path, const std::string& content, os::Dword attributes) {
    Drive* drive = nullptr;
    Node* node = Walk(path, true, false, &drive);
    if (node == nullptr || node->directory) {
        return false;
    }
    node->content = content;
    os::Dword kept = SettableAttributes(attributes);
    // Files on a CD-ROM always report read-only.
    if (drive->type == os::kDriveCdrom) {
        kept |= os::kAttrReadOnly;
    }
    node->attributes = kept == 0 ? static_cast<os::Dword>(os::kAttrNormal) : kept;
    return true;
}

bool GetFile(const std::string& path, std::string* content) {
    Node* node = Walk(path, false, false, nullptr);
    if (node == nullptr || node->directory) {
        return false;
    }
    *content = node->content;
    return true;
}

bool FileExists(const std::string& path) {
    Node* node = Walk(path, false, false, nullptr);
    return node != nullptr && !node->directory;
}

bool DirectoryExists(const std::string& path) {
    Node* node = Walk(path, false, false, nullptr);
    return node != nullptr && node->directory;
}

os::Dword Attributes(const std::string& path) {
    Node* node = Walk(path, false, false, nullptr);
    if (node == nullptr) {
        return os::kInvalidFileAttributes;
    }
    return ReportedAttributes(node);
}

std::string StoredPath(const std::string& path) {
    Drive* drive = nullptr;
    Node* node = Walk(path, false, false, &drive);
    return node == nullptr ? std::string() : StoredPathOf(drive, node);
}

static void Collect(const Drive* drive, const Node* node, std::vector<Entry>* out) {
    for (const auto& entry : node->children) {
        const Node* child = entry.second.get();
        Entry e;
        e.path = StoredPathOf(drive, child);
        e.directory = child->directory;
        e.attributes = ReportedAttributes(child);
        if (child->directory) {
            e.path += '\\';
        } else {
            e.content = child->content;
        }
        out->push_back(e);
        if (child->directory) {
            Collect(drive, child, out);
        }
    }
}

static bool ByPath(const Entry& a, const Entry& b) {
    return a.path < b.path;
}

std::vector<Entry> Snapshot(const std::string& root) {
    std::vector<Entry> entries;
    Drive* drive = nullptr;
    Node* node = Walk(root, false, false, &drive);
    if (node != nullptr && node->directory) {
        Collect(drive, node, &entries);
    }
    std::sort(entries.begin(), entries.end(), ByPath);
    return entries;
}

std::vector<Entry> SnapshotAll() {
    std::vector<Entry> entries;
    for (auto& drive : M().drives) {
        Collect(drive.get(), drive->top.get(), &entries);
    }
    std::sort(entries.begin(), entries.end(), ByPath);
    return entries;
}

void SetFileInUse(const std::string& path, bool inUse) {
    if (Node* node = Walk(path, false, false, nullptr)) {
        node->inUse = inUse;
    }
}

}  // namespace sim
