// Programs: the files whose content runs a registered program, and how CreateProcessA finds
// the file that a command line names.
#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {

using namespace model;

static const char kImagePrefix[] = "MZ simulated program: ";

std::string ProgramImage(const std::string& name) {
    return kImagePrefix + name;
}

void RegisterProgram(const std::string& name, ProgramMain main) {
    M().programs[name] = main;
}

ProgramMain model::ProgramOfImage(const std::string& content) {
    std::string prefix(kImagePrefix);
    if (content.compare(0, prefix.size(), prefix) != 0) {
        return nullptr;
    }
    auto it = M().programs.find(content.substr(prefix.size()));
    return it == M().programs.end() ? nullptr : it->second;
}

// Whether a name has an extension: a dot in its last component.
static bool HasExtension(const std::string& name) {
    size_t slash = name.find_last_of("\\/:");
    size_t dot = name.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// Looks for the executable file `name`: a name without a path in the current, the system
// and the Windows directory, as CreateProcessA's search does; else relative to the current
// directory. Returns the file's node, or nullptr with *error set.
static Node* FindExecutable(const std::string& name, os::Dword* error) {
    std::vector<std::string> tries;
    bool bare = name.find_first_of("\\/:") == std::string::npos;
    std::vector<std::string> directories{std::string()};
    if (bare) {
        directories.push_back(M().systemDirectory);
        directories.push_back(M().windowsDirectory);
    }
    for (const std::string& directory : directories) {
        std::string base = directory;
        if (!base.empty() && base.back() != '\\') {
            base += '\\';
        }
        tries.push_back(base + name);
        if (!HasExtension(name)) {
            tries.push_back(base + name + ".exe");
        }
    }
    *error = 0;
    for (const std::string& candidate : tries) {
        Path path;
        os::Dword parseError = 0;
        Found found = Resolve(candidate.c_str(), &path, &parseError);
        os::Dword reason = parseError != 0 ? parseError : found.missing;
        if (found.node != nullptr && !found.node->directory) {
            return found.node;
        }
        if (found.node != nullptr) {
            reason = os::kErrorAccessDenied;  // a directory
        }
        if (*error == 0) {
            *error = reason;
        }
    }
    return nullptr;
}

os::Dword model::FindProgram(const char* applicationName, const char* commandLine,
                             ProgramMain* main) {
    std::vector<std::string> names;
    if (applicationName != nullptr) {
        names.push_back(applicationName);
    } else if (commandLine == nullptr || commandLine[0] == '\0') {
        return os::kErrorPathNotFound;
    } else if (commandLine[0] == '"') {
        std::string line(commandLine + 1);
        names.push_back(line.substr(0, line.find('"')));
    } else {
        // An unquoted name with blanks is tried at each blank in turn, as CreateProcessA
        // does: "C:\My Temp\a.exe x" tries C:\My, then C:\My Temp\a.exe, ...
        std::string line(commandLine);
        for (size_t i = 1; i <= line.size(); ++i) {
            if (i == line.size() || line[i] == ' ' || line[i] == '\t') {
                names.push_back(line.substr(0, i));
            }
        }
    }
    os::Dword firstError = 0;
    for (const std::string& name : names) {
        os::Dword error = 0;
        Node* file = FindExecutable(name, &error);
        if (file != nullptr) {
            *main = ProgramOfImage(file->content);
            return *main == nullptr ? static_cast<os::Dword>(kErrorBadExeFormat) : 0;
        }
        if (firstError == 0) {
            firstError = error;
        }
    }
    return firstError == os::kErrorPathNotFound ? firstError : os::kErrorFileNotFound;
}

}  // namespace sim
