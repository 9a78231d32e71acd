#include "launcher/wininit_edit.h"

#include <stdint.h>

namespace {

constexpr char kSectionHeader[] = "[Rename]";
constexpr size_t kSectionHeaderLength = 8;
// The longest line, line end excluded, that is looked at as a header or a section start.
constexpr size_t kLongestLine = 1022;
// What the edit can add besides the entry: CR LF, "[Rename]" CR LF, and CR LF after the entry.
constexpr size_t kMostAdded = 2 + kSectionHeaderLength + 2 + 2;

// The output buffer: counts every byte, stores only those that fit.
struct Output {
    char* data;
    size_t capacity;
    size_t used;
    bool overflow;
};

void Put(Output* out, char byte) {
    if (out->used >= out->capacity) {
        out->overflow = true;
        return;
    }
    out->data[out->used++] = byte;
}

void PutText(Output* out, const char* text) {
    for (; *text != '\0'; ++text) {
        Put(out, *text);
    }
}

void PutEntryLine(Output* out, const char* entry) {
    PutText(out, entry);
    PutText(out, "\r\n");
}

// Space, tab, LF, CR, VT and FF; bytes of 128 and above never are.
bool IsWhiteSpace(unsigned char byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\v' ||
           byte == '\f';
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// One line of the old list: [start, end) is its text, [end, next) its line end (LF, CR LF, or
// nothing for a last line without one).
struct Line {
    size_t start;
    size_t end;
    size_t next;
};

Line LineAt(const char* old, size_t size, size_t start) {
    Line line = {start, start, size};
    while (line.end < size && old[line.end] != '\n') {
        ++line.end;
    }
    if (line.end < size) {
        line.next = line.end + 1;
        if (line.end > start && old[line.end - 1] == '\r') {
            --line.end;  // CR LF is one line end, as text mode reads it
        }
    }
    return line;
}

// Where the line's first character after leading white space is; nullptr for a line too long
// to be looked at, and for one that is all white space.
const char* FirstNonBlank(const char* old, const Line& line) {
    if (line.end - line.start > kLongestLine) {
        return nullptr;
    }
    size_t i = line.start;
    while (i < line.end && IsWhiteSpace(static_cast<unsigned char>(old[i]))) {
        ++i;
    }
    return i < line.end ? old + i : nullptr;
}

// Only the first 8 characters count: "[Rename] ; remark" is a header, "[RenameAll]" is not.
bool IsSectionHeader(const char* old, const Line& line) {
    const char* text = FirstNonBlank(old, line);
    if (text == nullptr || static_cast<size_t>(old + line.end - text) < kSectionHeaderLength) {
        return false;
    }
    for (size_t i = 0; i < kSectionHeaderLength; ++i) {
        if (AsciiLower(text[i]) != AsciiLower(kSectionHeader[i])) {
            return false;
        }
    }
    return true;
}

bool StartsAnotherSection(const char* old, const Line& line) {
    const char* text = FirstNonBlank(old, line);
    return text != nullptr && *text == '[';
}

// Copies the line with its line end; a bare LF becomes CR LF.
void CopyLine(Output* out, const char* old, const Line& line) {
    for (size_t i = line.start; i < line.next; ++i) {
        if (old[i] == '\n' && (i == 0 || old[i - 1] != '\r')) {
            Put(out, '\r');
        }
        Put(out, old[i]);
    }
}

enum class Phase { kBeforeSection, kInSection, kAfterEntry };

}  // namespace

bool FormatRestartEntry(const char* shortPath, RestartEntry entry) {
    RestartEntry formatted;
    if (!CopyText(formatted, "NUL=") || !AppendText(formatted, shortPath)) {
        return false;
    }
    return CopyText(entry, kRestartEntryCapacity, formatted);
}

size_t RestartEntryEditBound(size_t oldSize, size_t entryLength) {
    // Each old byte becomes at most two (LF to CR LF).
    size_t room = SIZE_MAX - kMostAdded;
    if (oldSize > room / 2 || entryLength > room - 2 * oldSize) {
        return 0;
    }
    return 2 * oldSize + entryLength + kMostAdded;
}

size_t AddRestartEntry(const char* old, size_t oldSize, const char* entry, char* out,
                       size_t capacity) {
    Output output = {out, capacity, 0, false};
    Phase phase = Phase::kBeforeSection;
    for (size_t start = 0; start < oldSize;) {
        Line line = LineAt(old, oldSize, start);
        if (phase == Phase::kInSection && StartsAnotherSection(old, line)) {
            PutEntryLine(&output, entry);  // after any blank or remark lines, before the header
            phase = Phase::kAfterEntry;
        }
        CopyLine(&output, old, line);
        if (phase == Phase::kBeforeSection && IsSectionHeader(old, line)) {
            phase = Phase::kInSection;
        }
        start = line.next;
    }
    if (phase == Phase::kBeforeSection) {
        // No section yet: the CR LF ends a last line without line end, or leaves an empty line.
        PutText(&output, "\r\n");
        PutText(&output, kSectionHeader);
        PutText(&output, "\r\n");
        PutEntryLine(&output, entry);
    } else if (phase == Phase::kInSection) {
        // The section ends the file; the entry must not be joined to its last line.
        if (old[oldSize - 1] != '\n') {
            PutText(&output, "\r\n");
        }
        PutEntryLine(&output, entry);
    }
    return output.overflow ? 0 : output.used;
}

size_t NewRestartList(const char* entry, char* out, size_t capacity) {
    Output output = {out, capacity, 0, false};
    PutText(&output, kSectionHeader);
    PutText(&output, "\r\n");
    PutEntryLine(&output, entry);
    return output.overflow ? 0 : output.used;
}
