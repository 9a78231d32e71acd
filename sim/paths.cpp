// Paths: GetFullPathNameA's rules, and the short (8.3) names of files and directories.
#include <algorithm>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {
namespace model {

static bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static bool IsInvalidNameChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u < 32 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' ||
           c == '*';
}

static const size_t kMaxPathChars = 260;

os::Dword ParsePath(const char* text, const std::string& currentDirectory, Path* out,
                    bool maxPathLimit) {
    if (text == nullptr || text[0] == '\0') {
        return os::kErrorPathNotFound;
    }
    std::string s(text);
    // The ANSI functions convert the path into a MAX_PATH buffer first.
    if (maxPathLimit && s.size() >= kMaxPathChars) {
        return os::kErrorFilenameTooLong;
    }
    std::replace(s.begin(), s.end(), '/', '\\');
    Path result;
    std::string rest;
    if (s.size() >= 2 && IsLetter(s[0]) && s[1] == ':') {
        result.letter = static_cast<char>(UpperChar(static_cast<unsigned char>(s[0])));
        rest = s.substr(2);
        if (rest.empty() || rest[0] != '\\') {
            // "X:name" continues the current directory when that is on X, else X's root (the
            // per-drive current directories of cmd.exe are not modelled).
            Path current;
            if (!currentDirectory.empty() &&
                ParsePath(currentDirectory.c_str(), "", &current, false) == 0 &&
                current.letter == result.letter) {
                result = current;
            }
        }
    } else if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
        return os::kErrorPathNotFound;  // UNC: the machine has no network
    } else {
        Path current;
        if (currentDirectory.empty() ||
            ParsePath(currentDirectory.c_str(), "", &current, false) != 0) {
            return os::kErrorPathNotFound;
        }
        if (s[0] == '\\') {
            result.letter = current.letter;  // "\dir": from the current drive's root
        } else {
            result = current;
        }
        rest = s;
    }
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('\\', start);
        if (end == std::string::npos) {
            end = rest.size();
        }
        std::string part = rest.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!result.parts.empty()) {
                result.parts.pop_back();
            }
            continue;
        }
        // Windows drops trailing dots and blanks of a name.
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
            part.pop_back();
        }
        if (part.empty()) {
            continue;
        }
        for (char c : part) {
            if (IsInvalidNameChar(c)) {
                return kErrorInvalidName;
            }
        }
        result.parts.push_back(part);
    }
    result.trailingSeparator = s.back() == '\\';
    if (maxPathLimit && PathText(result).size() >= kMaxPathChars) {
        return os::kErrorFilenameTooLong;
    }
    *out = result;
    return 0;
}

std::string PathText(const Path& path) {
    std::string text;
    text += path.letter;
    text += ":\\";
    for (size_t i = 0; i < path.parts.size(); ++i) {
        if (i > 0) {
            text += '\\';
        }
        text += path.parts[i];
    }
    return text;
}

static bool IsShortChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u > ' ' && c != '+' && c != ',' && c != ';' && c != '=' && c != '[' && c != ']' &&
           c != '.';
}

// A name that already has the 8.3 form: 1-8 characters, optionally a dot and 1-3 more.
static bool IsEightDotThree(const std::string& name) {
    size_t dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3) {
        return false;
    }
    if (dot != std::string::npos && ext.empty()) {
        return false;
    }
    for (char c : base + ext) {
        if (!IsShortChar(c)) {
            return false;
        }
    }
    return true;
}

// The parts of a derived short name: up to six characters of the name and up to three of its
// last extension, upper case, without blanks and dots, other unsuitable characters as '_'.
static void DeriveShortParts(const std::string& name, std::string* base, std::string* ext) {
    size_t dot = name.rfind('.');
    if (dot == 0) {
        dot = std::string::npos;
    }
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    base->clear();
    ext->clear();
    for (char c : stem) {
        if (c == ' ' || c == '.') {
            continue;
        }
        if (base->size() < 6) {
            *base +=
                IsShortChar(c) ? static_cast<char>(UpperChar(static_cast<unsigned char>(c))) : '_';
        }
    }
    for (char c : extension) {
        if (c == ' ') {
            continue;
        }
        if (ext->size() < 3) {
            *ext +=
                IsShortChar(c) ? static_cast<char>(UpperChar(static_cast<unsigned char>(c))) : '_';
        }
    }
}

std::string ShortNameOf(const Node* node) {
    if (!node->forcedShortName.empty()) {
        return node->forcedShortName;
    }
    if (IsEightDotThree(node->name)) {
        return node->name;  // the stored spelling, as Windows reports it
    }
    std::string base;
    std::string ext;
    DeriveShortParts(node->name, &base, &ext);
    int number = 1;
    if (node->parent != nullptr) {
        for (const auto& entry : node->parent->children) {
            const Node* sibling = entry.second.get();
            if (sibling == node || sibling->serial > node->serial ||
                !sibling->forcedShortName.empty() || IsEightDotThree(sibling->name)) {
                continue;
            }
            std::string siblingBase;
            std::string siblingExt;
            DeriveShortParts(sibling->name, &siblingBase, &siblingExt);
            if (siblingBase == base && siblingExt == ext) {
                ++number;
            }
        }
    }
    std::string suffix = "~" + std::to_string(number);
    if (base.size() + suffix.size() > 8) {
        base.resize(8 - suffix.size());
    }
    std::string result = base + suffix;
    if (!ext.empty()) {
        result += "." + ext;
    }
    return result;
}

}  // namespace model

using namespace model;

void SetShortName(const std::string& path, const std::string& shortName) {
    if (Node* node = Walk(path, false, false, nullptr)) {
        node->forcedShortName = shortName;
    }
}

}  // namespace sim

using namespace sim::model;

namespace os {

Dword GetFullPathNameA(const char* path, Dword bufferLength, char* buffer, char** filePart) {
    if (Enter("GetFullPathNameA", path)) {
        return 0;
    }
    Path parsed;
    Dword error = ParsePath(path, Current().currentDirectory, &parsed);
    if (error != 0) {
        SetError(error);
        return 0;
    }
    std::string text = PathText(parsed);
    if (parsed.trailingSeparator && !parsed.parts.empty()) {
        text += '\\';
    }
    Dword result = CopyOut(text, buffer, bufferLength);
    if (result < bufferLength && filePart != nullptr) {
        *filePart = text.back() == '\\' ? nullptr : buffer + text.rfind('\\') + 1;
    }
    return result;
}

Dword GetShortPathNameA(const char* longPath, char* shortPath, Dword bufferLength) {
    if (Enter("GetShortPathNameA", longPath)) {
        return 0;
    }
    if (FindExisting(longPath).node == nullptr) {
        return 0;
    }
    // Each component is replaced by its short name; the form of the path (relative, drive
    // relative, "." and "..") stays as given.
    std::string text(longPath);
    std::replace(text.begin(), text.end(), '/', '\\');
    std::string result;
    std::string rest;
    Node* node = nullptr;
    Path base;
    const std::string& current = Current().currentDirectory;
    if (text.size() >= 2 && text[1] == ':') {
        ParsePath(text.substr(0, 2).c_str(), current, &base);
        result = text.substr(0, 2);
        rest = text.substr(2);
        if (!rest.empty() && rest[0] == '\\') {
            base.parts.clear();
        }
    } else {
        ParsePath(".", current, &base);
        rest = text;
        if (!rest.empty() && rest[0] == '\\') {
            base.parts.clear();
        }
    }
    node = Lookup(base).node;
    size_t start = 0;
    while (start <= rest.size() && node != nullptr) {
        size_t end = rest.find('\\', start);
        if (end == std::string::npos) {
            end = rest.size();
        }
        std::string part = rest.substr(start, end - start);
        std::string trimmed = part;
        while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ') &&
               trimmed != "." && trimmed != "..") {
            trimmed.pop_back();
        }
        if (part.empty() || part == ".") {
            result += part;
        } else if (part == "..") {
            result += part;
            node = node->parent != nullptr ? node->parent : node;
        } else {
            node = FindChild(node, trimmed);
            if (node != nullptr) {
                result += ShortNameOf(node);
            }
        }
        if (end < rest.size()) {
            result += '\\';
        }
        start = end + 1;
    }
    if (node == nullptr) {
        SetError(kErrorFileNotFound);
        return 0;
    }
    return CopyOut(result, shortPath, bufferLength);
}

}  // namespace os
