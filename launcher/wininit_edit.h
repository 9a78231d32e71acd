// The edit of WinInit.ini that adds one restart entry, as a pure transformation of bytes.
//
// Windows 95/98 works through the [Rename] section of WinInit.ini in the Windows directory at
// its next start; a line NUL=<short path> there deletes that file. This file only turns the old
// bytes of the list into the new ones: no allocation, no I/O, so it can be tested on tables and
// fuzzed. Reading, writing and replacing the file happen in restart_deletion.cpp.
//
// The new file keeps every byte of the old one, in order. The only change to them is the form
// of the line ends: a bare LF becomes CR LF (a CR LF stays as it is, a CR alone is an ordinary
// byte). Added are the entry line and, where needed, the CR LF that completes the last line
// and the section header.
//
// The entry's place is chosen in the list as a reader in text mode sees it, for Windows 95/98
// may read it so: that text ends at the first Ctrl-Z (0x1A), and its lines come at most 1022
// characters at a time. So the entry goes before the first Ctrl-Z, where readers that stop
// there and readers that do not both find it in the section; the Ctrl-Z and all after it
// follow unchanged. A longer line is judged by its first 1022 characters, and the rest of it is
// never taken for a line of its own.
#pragma once

#include <stddef.h>

#include "common/path.h"

// "NUL=" and a path of at most 259 characters, with its NUL.
constexpr size_t kRestartEntryCapacity = 4 + kMaxPath;
typedef char RestartEntry[kRestartEntryCapacity];

// entry = "NUL=" + shortPath, the line (without line end) that deletes shortPath at the next
// start. False, and entry untouched, when it does not fit.
bool FormatRestartEntry(const char* shortPath, RestartEntry entry);

// The most bytes AddRestartEntry can produce from `oldSize` bytes and an entry of
// `entryLength` characters; 0 when that number does not fit in a size_t.
size_t RestartEntryEditBound(size_t oldSize, size_t entryLength);

// Writes into `out` the old list `old` (oldSize bytes) with the line `entry` (NUL-terminated,
// without CR or LF) added to the first [Rename] section:
// - after the section's last line, directly before the next line whose first character after
//   leading white space is "[", or at the end of the text when no such line follows;
// - when there is no [Rename] section: CR LF, "[Rename]" CR LF and the entry at the end of the
//   text.
// A header is a line whose first 8 characters after leading white space equal "[Rename]" in
// any ASCII letter case. The text ends at the first Ctrl-Z, or with the list; a line is judged
// by its first 1022 characters (line end excluded).
// Returns the number of bytes written, or 0 when they would not fit in `capacity`; no byte is
// written past `capacity` in either case. A capacity of RestartEntryEditBound always suffices.
size_t AddRestartEntry(const char* old, size_t oldSize, const char* entry, char* out,
                       size_t capacity);

// Writes into `out` the list for a Windows directory that has none: "[Rename]" CR LF, then
// `entry` CR LF. Returns the number of bytes written, or 0 when they would not fit.
size_t NewRestartList(const char* entry, char* out, size_t capacity);

// ---- The same edit in pieces
//
// A list of megabytes goes through fixed buffers instead of blocks of its own size: a fresh
// block costs a page fault for every 4 KiB touched, which made reading and writing the list
// whole many times slower than copying it.

// Where the edit's bytes go: data[0, used) of `capacity` bytes. When the buffer is full, `drain`
// takes its bytes away (writes them to a file, say), sets `used` to 0 and returns true, or
// returns false to stop; without a drain the buffer is all the room there is. `failed`: a
// byte did not fit or a drain failed, and nothing more is put out.
struct EditOutput {
    char* data;
    size_t capacity;
    size_t used;
    bool (*drain)(EditOutput* output);
    void* context;  // the drain's own, e.g. the file it writes
    bool failed;
};

// The most bytes at the end of a piece that ContinueRestartEdit may leave to be fed again: the
// start of a line that it must see to its end, or to its 1022nd character, before it can tell
// where the entry goes.
constexpr size_t kRestartEditCarry = 1022;

enum class RestartEditPhase { kBeforeSection, kInSection, kAfterEntry };

// An edit under way. Set up by StartRestartEdit; the fields are ContinueRestartEdit's own.
struct RestartEdit {
    const char* entry;
    RestartEditPhase phase;
    bool inLongLine;  // the current line was judged by its start: copied to its end as is
    char previous;    // the last byte taken, for telling a bare LF from a CR LF across pieces
};

void StartRestartEdit(RestartEdit* edit, const char* entry);

// Edits old[0, size), the bytes of the list that follow those taken before, putting the new
// bytes into `out`; `last` says that the list ends with them. Returns how many bytes it took:
// all of them when `last`, otherwise all but at most kRestartEditCarry at the end, which must
// be fed again at the start of the next piece. Gives, over all pieces, exactly the bytes that
// AddRestartEntry gives for the whole list.
size_t ContinueRestartEdit(RestartEdit* edit, const char* old, size_t size, bool last,
                           EditOutput* out);
