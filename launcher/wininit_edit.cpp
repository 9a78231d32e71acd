#include "launcher/wininit_edit.h"

#include <stdint.h>

namespace {

constexpr char kSectionHeader[] = "[Rename]";
constexpr size_t kSectionHeaderLength = 8;
// The longest line, line end excluded, that is looked at as a header or a section start. To
// tell whether a line is that short, up to this many characters, a CR and the LF are needed.
constexpr size_t kLongestLine = 1022;
static_assert(kRestartEditCarry == kLongestLine + 1, "a line's look needs its CR and LF too");
// What the edit can add besides the entry: CR LF, "[Rename]" CR LF, and CR LF after the entry.
constexpr size_t kMostAdded = 2 + kSectionHeaderLength + 2 + 2;

// Puts out `size` bytes, emptying the buffer through the drain whenever it is full.
void Put(EditOutput* out, const char* bytes, size_t size) {
    while (size > 0 && !out->failed) {
        if (out->used == out->capacity &&
            (out->drain == nullptr || !out->drain(out) || out->used == out->capacity)) {
            out->failed = true;
            return;
        }
        size_t room = out->capacity - out->used;
        size_t part = size < room ? size : room;
        __builtin_memcpy(out->data + out->used, bytes, part);
        out->used += part;
        bytes += part;
        size -= part;
    }
}

void PutText(EditOutput* out, const char* text) {
    Put(out, text, TextLength(text));
}

void PutEntryLine(EditOutput* out, const char* entry) {
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

// Where the first LF in old[from, to) is; `to` when there is none. A list is mostly searched
// for line ends, so a word is tested at a time: XOR with LFs turns each LF into a zero byte,
// and (x - 0x0101...) & ~x & 0x8080... is non-zero exactly when x has a zero byte.
size_t FindLineFeed(const char* old, size_t from, size_t to) {
    constexpr size_t kOnes = ~static_cast<size_t>(0) / 0xFF;
    for (; to - from >= sizeof(size_t); from += sizeof(size_t)) {
        size_t word;
        __builtin_memcpy(&word, old + from, sizeof word);
        word ^= kOnes * '\n';
        if (((word - kOnes) & ~word & kOnes * 0x80) != 0) {
            break;
        }
    }
    while (from < to && old[from] != '\n') {
        ++from;
    }
    return from;
}

// One line of the old list: [start, end) is its text, [end, next) its line end (LF, CR LF, or
// nothing for a last line without one). Of a line too long to be looked at, only a start of
// more than kLongestLine characters.
struct Line {
    size_t start;
    size_t end;
    size_t next;
};

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

// The LF at old[lf] ends a line. A bare one becomes CR LF: the bytes before it go out, then
// the CR, and the LF goes out with the bytes after it. old[0, *pending) is out already.
void EndLine(const RestartEdit& edit, const char* old, size_t lf, size_t* pending,
             EditOutput* out) {
    char before = lf > 0 ? old[lf - 1] : edit.previous;
    if (before != '\r') {
        Put(out, old + *pending, lf - *pending);
        Put(out, "\r", 1);
        *pending = lf;
    }
}

void FinishEdit(const RestartEdit& edit, EditOutput* out) {
    if (edit.phase == RestartEditPhase::kBeforeSection) {
        // No section yet: the CR LF ends a last line without line end, or leaves an empty line.
        PutText(out, "\r\n");
        PutText(out, kSectionHeader);
        PutText(out, "\r\n");
        PutEntryLine(out, edit.entry);
    } else if (edit.phase == RestartEditPhase::kInSection) {
        // The section ends the file; the entry must not be joined to its last line.
        if (edit.previous != '\n') {
            PutText(out, "\r\n");
        }
        PutEntryLine(out, edit.entry);
    }
}

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

void StartRestartEdit(RestartEdit* edit, const char* entry) {
    *edit = {entry, RestartEditPhase::kBeforeSection, false, '\0'};
}

size_t ContinueRestartEdit(RestartEdit* edit, const char* old, size_t size, bool last,
                           EditOutput* out) {
    size_t pending = 0;  // old[pending, at) is taken but not yet put out: copied in one go
    size_t at = 0;
    while (at < size) {
        if (edit->phase == RestartEditPhase::kAfterEntry || edit->inLongLine) {
            // Nothing more to look at in this line: on to its end.
            size_t lf = FindLineFeed(old, at, size);
            if (lf < size) {
                EndLine(*edit, old, lf, &pending, out);
                edit->inLongLine = false;
            }
            at = lf < size ? lf + 1 : size;
            continue;
        }
        // A line is looked at only when it is seen to its end within its first 1024 bytes.
        size_t window = size - at > kRestartEditCarry ? at + kRestartEditCarry + 1 : size;
        size_t lf = FindLineFeed(old, at, window);
        Line line = {at, lf, lf + 1};
        if (lf == window) {
            if (window - at <= kRestartEditCarry && !last) {
                break;  // the line's end is still to come: fed again with the next piece
            }
            line.next = window;  // too long to be looked at, or the list's last line
            edit->inLongLine = true;
        } else if (lf > at && old[lf - 1] == '\r') {
            --line.end;  // CR LF is one line end, as text mode reads it
        }
        if (edit->phase == RestartEditPhase::kInSection && StartsAnotherSection(old, line)) {
            // After any blank or remark lines, directly before the next section's header.
            Put(out, old + pending, at - pending);
            pending = at;
            PutEntryLine(out, edit->entry);
            edit->phase = RestartEditPhase::kAfterEntry;
        }
        if (edit->phase == RestartEditPhase::kBeforeSection && IsSectionHeader(old, line)) {
            edit->phase = RestartEditPhase::kInSection;
        }
        if (lf < window) {
            EndLine(*edit, old, lf, &pending, out);
        }
        at = line.next;
    }
    Put(out, old + pending, at - pending);
    if (at > 0) {
        edit->previous = old[at - 1];
    }
    if (last) {
        FinishEdit(*edit, out);
    }
    return at;
}

size_t AddRestartEntry(const char* old, size_t oldSize, const char* entry, char* out,
                       size_t capacity) {
    EditOutput output = {out, capacity, 0, nullptr, nullptr, false};
    RestartEdit edit;
    StartRestartEdit(&edit, entry);
    ContinueRestartEdit(&edit, old, oldSize, true, &output);
    return output.failed ? 0 : output.used;
}

size_t NewRestartList(const char* entry, char* out, size_t capacity) {
    EditOutput output = {out, capacity, 0, nullptr, nullptr, false};
    PutText(&output, kSectionHeader);
    PutText(&output, "\r\n");
    PutEntryLine(&output, entry);
    return output.failed ? 0 : output.used;
}
