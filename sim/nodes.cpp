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

Node* AddChild(Node* directory, const std::string& name, bool isDirectory, const Dacl* given) {
    auto node = std::make_shared<Node>();
    const Process& creator = Current();
    node->name = name;
    node->directory = isDirectory;
    node->data->attributes = isDirectory ? 0 : static_cast<os::Dword>(os::kAttrNormal);
    node->serial = M().nextSerial++;
    node->parent = directory;
    node->data->owner = creator.user;
    node->data->writer = creator.user;
    node->data->dacl =
        NewObjectDacl(given, directory->data->dacl, isDirectory, creator.user, M().ntDefaults);
    Node* raw = node.get();
    directory->children[Upper(name)] = node;
    NoteChange(raw);
    return raw;
}

std::shared_ptr<Node> DetachChild(Node* node) {
    NoteChange(node);
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
    NoteChange(node);
}

Found FreePlace(const std::string& path, std::string* name) {
    Path parsed;
    if (ParsePath(path.c_str(), "", &parsed, false) != 0 || parsed.parts.empty()) {
        return Found();
    }
    Found found = Lookup(parsed, false);
    if (found.node != nullptr) {
        return Found();
    }
    *name = parsed.parts.back();
    return found;
}

void WillWrite(Node* node) {
    FileData* data = node->data.get();
    if (!data->unflushed) {
        data->durable = data->content;
        data->unflushed = true;
    }
    data->writer = Current().user;
    NoteChange(node);
}

void NoteChange(const Node* node) {
    Machine& m = M();
    Change change;
    change.processId = m.restarting ? 0 : Current().id;
    change.user = m.restarting ? kSystemSid : Current().user;
    const Drive* drive = DriveOf(node);
    change.path = drive == nullptr ? node->name : StoredPathOf(drive, node);
    m.changes.push_back(change);
}

uint64_t TreeBytes(const Node* node) {
    // A file with another name still takes its room.
    uint64_t total = node->data.use_count() > 1 ? 0 : node->data->content.size();
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

// The path that continues through the link `link`, met at component `at` of `path`: its
// target, then the components after it. False when the target is no path.
static bool ThroughLink(const Node* link, const Path& path, size_t at, Path* out) {
    Path target;
    if (ParsePath(link->linkTarget.c_str(), "", &target, false) != 0) {
        return false;
    }
    target.parts.insert(target.parts.end(), path.parts.begin() + at + 1, path.parts.end());
    target.trailingSeparator = path.trailingSeparator;
    *out = target;
    return true;
}

// Whether a lookup goes through `node` at component `at` of a path of `count` components.
static bool Follows(const Node* node, size_t at, size_t count, bool followLast) {
    return !node->linkTarget.empty() && (at + 1 < count || followLast);
}

Found Lookup(const Path& path, bool followLast) {
    Path rest = path;
    for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
        Found found;
        found.drive = FindDrive(rest.letter);
        if (found.drive == nullptr) {
            found.missing = os::kErrorPathNotFound;
            return found;
        }
        Node* current = found.drive->top.get();
        bool redirected = false;
        for (size_t i = 0; i < rest.parts.size() && !redirected; ++i) {
            if (!current->directory) {
                found.missing = os::kErrorPathNotFound;
                return found;
            }
            Node* child = FindChild(current, rest.parts[i]);
            if (child == nullptr) {
                if (i + 1 == rest.parts.size()) {
                    found.parent = current;
                    found.missing = os::kErrorFileNotFound;
                } else {
                    found.missing = os::kErrorPathNotFound;
                }
                return found;
            }
            if (Follows(child, i, rest.parts.size(), followLast)) {
                if (!ThroughLink(child, rest, i, &rest)) {
                    found.missing = os::kErrorPathNotFound;
                    return found;
                }
                redirected = true;
            } else {
                current = child;
            }
        }
        if (!redirected) {
            found.node = current;
            found.parent = current->parent;
            return found;
        }
    }
    Found found;
    found.missing = kErrorCantResolveFilename;
    return found;
}

Found Resolve(const char* text, Path* path, os::Dword* error, bool followLast) {
    *error = ParsePath(text, Current().currentDirectory, path);
    if (*error != 0) {
        return Found();
    }
    return Lookup(*path, followLast);
}

// What `path` names, parsed relative to the running process, with *error set when nothing is
// there: the parse error, or 2 for a missing last component and 3 for a missing directory.
Found ResolveExisting(const char* path, Path* parsed, os::Dword* error, bool followLast) {
    Found found = Resolve(path, parsed, error, followLast);
    if (*error == 0 && found.node == nullptr) {
        *error = found.missing;
    }
    return found;
}

Found FindExisting(const char* path, bool followLast) {
    Path parsed;
    os::Dword error = 0;
    Found found = ResolveExisting(path, &parsed, &error, followLast);
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
    os::Dword attributes = node->data->attributes;
    if (node->directory) {
        attributes |= os::kAttrDirectory;
    }
    if (!node->linkTarget.empty()) {
        attributes |= os::kAttrReparsePoint;
    }
    return attributes;
}

void RemoveFromTree(Node* node, Drive* drive) {
    drive->freeBytes += TreeBytes(node);
    DetachChild(node);
}

// The node at an absolute path, creating missing directories on the way when asked; links
// are followed but for the last name.
Node* Walk(const std::string& path, bool create, bool lastIsDirectory, Drive** driveOut) {
    Path rest;
    if (ParsePath(path.c_str(), "", &rest, false) != 0) {
        return nullptr;
    }
    for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
        Drive* drive = FindDrive(rest.letter);
        if (drive == nullptr) {
            return nullptr;
        }
        if (driveOut != nullptr) {
            *driveOut = drive;
        }
        Node* current = drive->top.get();
        bool redirected = false;
        for (size_t i = 0; i < rest.parts.size() && !redirected; ++i) {
            if (!current->directory) {
                return nullptr;
            }
            Node* child = FindChild(current, rest.parts[i]);
            bool last = i + 1 == rest.parts.size();
            if (child == nullptr) {
                if (!create) {
                    return nullptr;
                }
                child = AddChild(current, rest.parts[i], !last || lastIsDirectory);
            }
            if (Follows(child, i, rest.parts.size(), false)) {
                if (!ThroughLink(child, rest, i, &rest)) {
                    return nullptr;
                }
                redirected = true;
            } else {
                current = child;
            }
        }
        if (!redirected) {
            return current;
        }
    }
    return nullptr;
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
    node->data->content = content;
    node->data->writer = Current().user;
    node->data->unflushed = false;
    NoteChange(node);
    os::Dword kept = SettableAttributes(attributes);
    // Files on a CD-ROM always report read-only.
    if (drive->type == os::kDriveCdrom) {
        kept |= os::kAttrReadOnly;
    }
    node->data->attributes = kept == 0 ? static_cast<os::Dword>(os::kAttrNormal) : kept;
    return true;
}

bool GetFile(const std::string& path, std::string* content) {
    Node* node = Walk(path, false, false, nullptr);
    if (node == nullptr || node->directory) {
        return false;
    }
    *content = node->data->content;
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
        e.writer = child->data->writer;
        if (child->directory) {
            e.path += '\\';
        } else {
            e.content = child->data->content;
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

bool MakeDirectoryLink(const std::string& path, const std::string& target) {
    Path named;
    std::string name;
    Found place = FreePlace(path, &name);
    if (place.parent == nullptr || ParsePath(target.c_str(), "", &named, false) != 0) {
        return false;
    }
    AddChild(place.parent, name, true)->linkTarget = PathText(named);
    return true;
}

bool MakeHardLink(const std::string& path, const std::string& existing) {
    Node* file = Walk(existing, false, false, nullptr);
    std::string name;
    Found place = FreePlace(path, &name);
    if (file == nullptr || file->directory || place.parent == nullptr) {
        return false;
    }
    AddChild(place.parent, name, false)->data = file->data;
    return true;
}

void PowerCut() {
    for (auto& drive : M().drives) {
        std::vector<Node*> stack{drive->top.get()};
        while (!stack.empty()) {
            Node* node = stack.back();
            stack.pop_back();
            FileData* data = node->data.get();
            if (data->unflushed) {
                drive->freeBytes += data->content.size();
                drive->freeBytes -= std::min<uint64_t>(drive->freeBytes, data->durable.size());
                data->content = data->durable;
                data->unflushed = false;
            }
            for (auto& entry : node->children) {
                stack.push_back(entry.second.get());
            }
        }
    }
}

const std::vector<Change>& Changes() {
    return M().changes;
}

void SetFileInUse(const std::string& path, bool inUse) {
    if (Node* node = Walk(path, false, false, nullptr)) {
        node->data->inUse = inUse;
    }
}

}  // namespace sim
