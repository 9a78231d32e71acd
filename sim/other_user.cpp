// Another local user at work beside the programs: an ordinary user of the machine, who may do
// what the permissions, sharing and links let it do, and nothing more. It stands for an
// attacker: the programs must keep what they stage safe from it.
#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {

using namespace model;

namespace {

constexpr uint32_t kOtherUserProcessId = 3;

// Runs `act` as the other user's process; what it creates is that user's.
template <typename Act>
bool AsOtherUser(Act act) {
    Machine& m = M();
    Process& user = m.processes[kOtherUserProcessId];
    user.id = kOtherUserProcessId;
    user.user = kOtherUserSid;
    user.groups = {kUsersSid, kAuthenticatedUsersSid, kInteractiveSid, kEveryoneSid};
    user.currentDirectory = "C:\\";
    m.running.push_back(kOtherUserProcessId);
    bool done = act();
    m.running.pop_back();
    return done;
}

// What `path` names, as a path operation of the other user finds it.
Found Find(const std::string& path, bool followLast) {
    Path parsed;
    if (ParsePath(path.c_str(), "", &parsed, false) != 0) {
        return Found();
    }
    return Lookup(parsed, followLast);
}

// A new file or directory at `path`, where nothing is yet, when the user may add it there.
Node* Add(const std::string& path, bool directory) {
    std::string name;
    Found place = FreePlace(path, &name);
    if (place.parent == nullptr || WriteProtection(place.drive) != 0 ||
        !MayAccess(place.parent, place.drive, directory ? kFileAppendData : kFileWriteData)) {
        return nullptr;
    }
    return AddChild(place.parent, name, directory);
}

bool Write(Node* file, const std::string& content) {
    WillWrite(file);
    file->data->content = content;
    return true;
}

}  // namespace

bool OtherUserAddsFile(const std::string& path, const std::string& content) {
    return AsOtherUser([&] {
        Node* file = Add(path, false);
        return file != nullptr && Write(file, content);
    });
}

bool OtherUserWritesFile(const std::string& path, const std::string& content) {
    return AsOtherUser([&] {
        Found found = Find(path, true);
        Node* file = found.node;
        return file != nullptr && !file->directory && WriteProtection(found.drive) == 0 &&
               (file->data->attributes & os::kAttrReadOnly) == 0 &&
               MayAccess(file, found.drive, kFileWriteData) && !file->data->inUse &&
               !OpenWithoutSharing(file, os::kGenericWrite) && Write(file, content);
    });
}

bool OtherUserDeletes(const std::string& path) {
    return AsOtherUser([&] {
        Found found = Find(path, false);
        Node* node = found.node;
        if (node == nullptr || node->parent == nullptr || WriteProtection(found.drive) != 0 ||
            (node->directory && !node->children.empty()) || !MayDelete(node, found.drive) ||
            node->data->inUse || OpenWithoutSharing(node, os::kShareDelete) ||
            (node->directory && IsCurrentDirectoryOfLiveProcess(node))) {
            return false;
        }
        RemoveFromTree(node, found.drive);
        return true;
    });
}

bool OtherUserMoves(const std::string& path, const std::string& newPath) {
    return AsOtherUser([&] { return MoveNode(path.c_str(), newPath.c_str(), false, false) == 0; });
}

// "A junction may be made by anyone who may add a folder and write to it": a new folder of its
// own, which it then makes a link.
bool OtherUserMakesDirectoryLink(const std::string& path, const std::string& target) {
    Path named;
    if (ParsePath(target.c_str(), "", &named, false) != 0) {
        return false;
    }
    return AsOtherUser([&] {
        Node* link = Add(path, true);
        if (link == nullptr) {
            return false;
        }
        if (!MayAccess(link, DriveOf(link), kFileWriteData | kFileWriteAttributes)) {
            RemoveFromTree(link, DriveOf(link));
            return false;
        }
        link->linkTarget = PathText(named);
        return true;
    });
}

// A hard link needs the right to add a file where it goes; what it names may be anyone's file.
bool OtherUserMakesHardLink(const std::string& path, const std::string& existing) {
    return AsOtherUser([&] {
        Found file = Find(existing, true);
        if (file.node == nullptr || file.node->directory) {
            return false;
        }
        Node* link = Add(path, false);
        if (link == nullptr) {
            return false;
        }
        link->data = file.node->data;
        return true;
    });
}

bool OtherUserTakesOver(const std::string& path) {
    return AsOtherUser([&] {
        Found found = Find(path, true);
        if (found.node == nullptr || !MayAccess(found.node, found.drive, kWriteDac)) {
            return false;
        }
        Ace entry;
        entry.sid = kOtherUserSid;
        entry.mask = kFileAllAccess;
        entry.flags = kAceObjectInherit | kAceContainerInherit;
        std::vector<Ace>& entries = found.node->data->dacl.entries;
        entries.insert(entries.begin(), entry);
        found.node->data->dacl.present = true;
        NoteChange(found.node);
        return true;
    });
}

}  // namespace sim
