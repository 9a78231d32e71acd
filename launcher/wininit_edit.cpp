#include "launcher/wininit_edit.h"

#include <stdint.h>

namespace {

constexpr char kSectionHeader[] = "[Rename]";
constexpr size_t kSectionHeaderLength = 8;
// Lines have always been read at most this many characters at a time, and a line is judged by
// its first read alone: the longest start of a line that is looked at.
constexpr size_t kLongestLine = 1022;
static_assert(kRestartEditCarry == kLongestLine, "a line's look needs its first read whole");
// A reader in text mode takes this byte for the end of the file.
constexpr char kCtrlZ = 0x1A;
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

// Where the first LF, or with `orCtrlZ` the first LF or Ctrl-Z, in old[from, to) is; `to`
// when there is none. A list is mostly searched for line ends, so a word is tested at a time:
// XOR with copies of LF turns each LF into a zero byte, and (x - 0x0101...) & ~x & 0x8080...
// is non-zero exactly when x has a zero byte. LF (0x0A) and Ctrl-Z (0x1A) differ in bit 4
// alone, so with that bit set in every byte first, one test finds either.
size_t FindLineEnd(const char* old, size_t from, size_t to, bool orCtrlZ) {
    constexpr size_t kOnes = ~static_cast<size_t>(0) / 0xFF;
    const unsigned char fold = orCtrlZ ? 0x10 : 0;
    const size_t foldAll = kOnes * fold;
    const size_t target = kOnes * static_cast<unsigned char>('\n' | fold);
    for (; to - from >= sizeof(size_t); from += sizeof(size_t)) {
        size_t word;
        __builtin_memcpy(&word, old + from, sizeof word);
        word = (word | foldAll) ^ target;
        if (((word - kOnes) & ~word & kOnes * 0x80) != 0) {
            break;
        }
    }
    while (from < to && (static_cast<unsigned char>(old[from]) | fold) != ('\n' | fold)) {
        ++from;
    }
    return from;
}

// Where the text of old[start, end) begins after its leading white space; nullptr for text
// that is all white space.
const char* FirstNonBlank(const char* old, size_t start, size_t end) {
    size_t i = start;
    while (i < end && IsWhiteSpace(static_cast<unsigned char>(old[i]))) {
        ++i;
    }
    return i < end ? old + i : nullptr;
}

// Only the first 8 characters count: "[Rename] ; remark" is a header, "[RenameAll]" is not.
bool IsSectionHeader(const char* old, size_t start, size_t end) {
    const char* text = FirstNonBlank(old, start, end);
    if (text == nullptr || static_cast<size_t>(old + end - text) < kSectionHeaderLength) {
        return false;
    }
    for (size_t i = 0; i < kSectionHeaderLength; ++i) {
        if (AsciiLower(text[i]) != AsciiLower(kSectionHeader[i])) {
            return false;
        }
    }
    return true;
}

bool StartsAnotherSection(const char* old, size_t start, size_t end) {
    const char* text = FirstNonBlank(old, start, end);
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

// The end of the list as the entry's place is chosen: the entry goes in, if it has not yet.
void FinishEdit(RestartEdit* edit, EditOutput* out) {
    if (edit->phase == RestartEditPhase::kBeforeSection) {
        // No section yet: the CR LF ends a last line without line end, or leaves an empty line.
        PutText(out, "\r\n");
        PutText(out, kSectionHeader);
        PutText(out, "\r\n");
        PutEntryLine(out, edit->entry);
    } else if (edit->phase == RestartEditPhase::kInSection) {
        // The section ends the list; the entry must not be joined to its last line.
        if (edit->previous != '\n') {
            PutText(out, "\r\n");
        }
        PutEntryLine(out, edit->entry);
    }
    edit->phase = RestartEditPhase::kAfterEntry;
}

// A Ctrl-Z at old[at]: a reader in text mode sees the list end there, so that is where the
// list ends as the entry's place is chosen. The Ctrl-Z and all after it follow, kept.
void EndTextAt(RestartEdit* edit, const char* old, size_t at, size_t* pending, EditOutput* out) {
    Put(out, old + *pending, at - *pending);
    *pending = at;
    if (at > 0) {
        edit->previous = old[at - 1];
    }
    FinishEdit(edit, out);
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
        if (edit->phase == RestartEditPhase::kAfterEntry) {
            // Nothing more to look at: line ends made CR LF, all else copied.
            size_t lf = FindLineEnd(old, at, size, false);
            if (lf < size) {
                EndLine(*edit, old, lf, &pending, out);
                edit->inLongLine = false;
            }
            at = lf < size ? lf + 1 : size;
            continue;
        }
        if (edit->inLongLine) {
            // The rest of a line judged by its start: never a line of its own.
            size_t stop = FindLineEnd(old, at, size, true);
            if (stop < size && old[stop] == kCtrlZ) {
                EndTextAt(edit, old, stop, &pending, out);
                at = stop;
                continue;
            }
            if (stop < size) {
                EndLine(*edit, old, stop, &pending, out);
                edit->inLongLine = false;
            }
            at = stop < size ? stop + 1 : size;
            continue;
        }
        // A line is judged by its first 1022 characters, or by what it holds before its end.
        size_t window = size - at > kLongestLine ? at + kLongestLine : size;
        size_t stop = FindLineEnd(old, at, window, true);
        bool atCtrlZ = stop < window && old[stop] == kCtrlZ;
        bool longLine = stop == window && window - at == kLongestLine;
        if (stop == window && !longLine && !last) {
            break;  // neither its end nor its first 1022 characters yet: fed again next time
        }
        size_t end = stop;  // the line's text as a reader in text mode sees it
        if (!atCtrlZ && stop < window && stop > at && old[stop - 1] == '\r') {
            --end;  // CR LF is one line end
        }
        if (edit->phase == RestartEditPhase::kInSection && StartsAnotherSection(old, at, end)) {
            // After any blank or remark lines, directly before the next section's header.
            Put(out, old + pending, at - pending);
            pending = at;
            PutEntryLine(out, edit->entry);
            edit->phase = RestartEditPhase::kAfterEntry;
        }
        if (edit->phase == RestartEditPhase::kBeforeSection && IsSectionHeader(old, at, end)) {
            edit->phase = RestartEditPhase::kInSection;
        }
        if (atCtrlZ) {
            if (edit->phase != RestartEditPhase::kAfterEntry) {
                EndTextAt(edit, old, stop, &pending, out);
            }
            at = stop;  // the Ctrl-Z itself is copied with what follows
        } else if (stop < window) {
            EndLine(*edit, old, stop, &pending, out);
            at = stop + 1;
        } else {
            edit->inLongLine = longLine;
            at = window;  // a long line goes on; otherwise this was the list's last line
        }
    }
    Put(out, old + pending, at - pending);
    if (at > 0) {
        edit->previous = old[at - 1];
    }
    if (last) {
        FinishEdit(edit, out);
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
