// Fuzzes the WinInit.ini edit against a plain reference written with std::string.
//
// The first byte picks the entry and, with its top bit set, has every "@" of the rest spelled
// out as "[Rename]", so that sections are common without the fuzzer having to guess the
// header; the rest is the old list. Checked for every input:
// - a buffer of RestartEntryEditBound bytes suffices, and nothing is written past it;
// - one byte less makes the edit report 0, again without writing past the buffer;
// - the result is the old list with bare LF turned into CR LF and exactly one insertion: the
//   entry line (with a CR LF or the section header before it where the placement rule needs
//   one) at the place that rule gives in the text before the first Ctrl-Z, each line judged by
//   its first 1022 characters.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "launcher/wininit_edit.h"

namespace {

const char* const kEntries[] = {
    "NUL=C:\\WINDOWS\\TEMP\\INIT\\_ZORP.EX_", "NUL=C:\\A",
    "NUL=[Rename]",  // an entry that looks like a header must not confuse the placement
};

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

std::string Normalised(const std::string& old) {
    std::string out;
    for (size_t i = 0; i < old.size(); ++i) {
        if (old[i] == '\n' && (i == 0 || old[i - 1] != '\r')) {
            out += '\r';
        }
        out += old[i];
    }
    return out;
}

// What is looked at of a normalised line: its first 1022 characters without its CR LF, from
// the first non-blank one on.
std::string LookedAt(const std::string& line) {
    std::string text = line;
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
        text.resize(text.size() - 2);
    }
    text = text.substr(0, 1022);
    size_t first = text.find_first_not_of(" \t\n\r\v\f");
    return first == std::string::npos ? std::string() : text.substr(first);
}

bool IsHeader(const std::string& line) {
    std::string text = LookedAt(line);
    return text.size() >= 8 && strncasecmp(text.c_str(), "[rename]", 8) == 0;
}

bool IsOtherSection(const std::string& line) {
    std::string text = LookedAt(line);
    return !text.empty() && text[0] == '[';
}

// The entry is placed in the text before the first Ctrl-Z; that byte and all after it follow.
std::string Expected(const std::string& old, const std::string& entry) {
    size_t ctrlZ = old.find('\x1a');
    if (ctrlZ != std::string::npos) {
        return Expected(old.substr(0, ctrlZ), entry) + Normalised(old.substr(ctrlZ));
    }
    std::string normalised = Normalised(old);
    std::vector<std::string> lines;
    for (size_t start = 0; start < normalised.size();) {
        size_t end = normalised.find('\n', start);
        end = end == std::string::npos ? normalised.size() : end + 1;
        lines.push_back(normalised.substr(start, end - start));
        start = end;
    }
    size_t header = 0;
    while (header < lines.size() && !IsHeader(lines[header])) {
        ++header;
    }
    if (header == lines.size()) {
        return normalised + "\r\n[Rename]\r\n" + entry + "\r\n";
    }
    std::string out;
    for (size_t i = 0; i <= header; ++i) {
        out += lines[i];
    }
    size_t next = header + 1;
    while (next < lines.size() && !IsOtherSection(lines[next])) {
        out += lines[next++];
    }
    if (next == lines.size() && out.back() != '\n') {
        out += "\r\n";
    }
    out += entry + "\r\n";
    for (; next < lines.size(); ++next) {
        out += lines[next];
    }
    return out;
}

}  // namespace

// Collects what a piece-by-piece edit puts out through a small buffer.
bool DrainInto(EditOutput* output) {
    static_cast<std::string*>(output->context)->append(output->data, output->used);
    output->used = 0;
    return true;
}

// The edit fed in pieces of `pieceSize` bytes (the carried-over line start fed again), through
// an output buffer of `outSize` bytes.
std::string EditInPieces(const std::string& old, const char* entry, size_t pieceSize,
                         size_t outSize) {
    std::string result;
    std::unique_ptr<char[]> buffer(new char[outSize]);
    EditOutput out = {buffer.get(), outSize, 0, DrainInto, &result, false};
    RestartEdit edit;
    StartRestartEdit(&edit, entry);
    size_t start = 0;
    for (;;) {
        size_t size = std::min(pieceSize + kRestartEditCarry, old.size() - start);
        bool last = start + size == old.size();
        size_t taken = ContinueRestartEdit(&edit, old.data() + start, size, last, &out);
        Require(!out.failed, "pieces: no failure");
        // Not last, the piece is longer than the carry, so at least a byte is always taken.
        Require(last ? taken == size : taken + kRestartEditCarry >= size, "pieces: carry bound");
        start += taken;
        if (last) {
            break;
        }
    }
    DrainInto(&out);
    return result;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const char* entry = kEntries[data[0] % (sizeof kEntries / sizeof kEntries[0])];
    std::string old;
    for (size_t i = 1; i < size; ++i) {
        if ((data[0] & 0x80) != 0 && data[i] == '@') {
            old += "[Rename]";
        } else {
            old += static_cast<char>(data[i]);
        }
    }

    size_t bound = RestartEntryEditBound(old.size(), strlen(entry));
    Require(bound != 0, "bound computable");
    // Exact-size heap blocks, so AddressSanitizer sees any write past them.
    std::unique_ptr<char[]> out(new char[bound]);
    size_t written = AddRestartEntry(old.data(), old.size(), entry, out.get(), bound);
    Require(written != 0 && written <= bound, "fits within the bound");
    Require(std::string(out.get(), written) == Expected(old, entry), "matches the reference");

    std::unique_ptr<char[]> tight(new char[written - 1]);
    Require(AddRestartEntry(old.data(), old.size(), entry, tight.get(), written - 1) == 0,
            "one byte short is refused");

    // Fed in pieces, the edit gives the same bytes; piece and buffer sizes from the first byte.
    size_t pieceSize = 1 + (data[0] & 0x0F) * 67;
    size_t outSize = 1 + ((data[0] >> 4) & 0x07) * 5;
    Require(EditInPieces(old, entry, pieceSize, outSize) == std::string(out.get(), written),
            "pieces match the whole");
    return 0;
}
