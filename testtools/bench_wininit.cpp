// bench_wininit.exe: times the launcher's Windows 95/98 restart entry, the edit and replacement
// of WinInit.ini, against the floor of any crash-safe replacement of a list, in one process.
//
//   bench_wininit.exe [REPEATS]      (default 9, at most 31)
//
// Run under the 9x personality (GetVersionExA platform 1): under NT, DeleteAtRestart takes the
// delayed move and never touches WinInit.ini, so the program refuses with exit code 2. For a
// list of 1 MB and one of 10 MB, each repeat times, on the list written afresh (not timed)
// before each of them:
// - the entry: DeleteAtRestart of a file in the Windows directory's TEMP, which reads the
//   whole list, adds the entry and puts the new list in place;
// - the floor, what any crash-safe replacement of the list must do at least: CopyFileA of the
//   list to WinInit.tmp, FlushFileBuffers of the copy, MoveFileA of the list to WinInit.old and
//   of the copy to the list, DeleteFileA of WinInit.old;
// - for scale, CopyFileA of the list to WinInit.cpy alone.
// The entry and the floor take turns at going first. Each checks its result afterwards (not
// timed): the floor's list equals the old one byte for byte, the entry's is one line longer,
// and neither leaves WinInit.tmp or WinInit.old; a failed check ends the program, so a step that
// was skipped cannot pass for a fast one. The list holds a short [boot] section, a [Rename]
// section that fills the size, and a last section after it, so the entry goes in near the end
// and every byte is looked at. Prints, medians in microseconds by QueryPerformanceCounter:
//
//   size=1048576 repeats=9 insert_us=12345 floor_us=9876 copy_us=6789 flush_us=2345
//     replace_us=1234 path_us=850 lock_us=150
//   floor_parts copy_us=... flush_us=... renames_us=...
//   parts read_us=... edit_us=... write_us=... flush_us=...
//
// flush_us is the time DeleteAtRestart spent in FlushFileBuffers on WinInit.tmp (which reaches
// the disk: fsync under Wine), replace_us its time in the renames and deletions that put the
// new list in place (deleting the old list frees all its blocks), path_us in making the
// entry's absolute short path, lock_us in the list's mutex. floor_parts splits the floor
// the same way: its CopyFileA, its flush (opening and closing the copy included), its renames
// and deletion. The parts line takes the entry's steps one by one on the same list: reading it
// in the entry's pieces, the edit alone in memory, writing the new list, and its flush.
//
// Ends with 0, or 1 when a step or a check failed (printed as error=...). Links the launcher's
// own restart_deletion.cpp and wininit_edit.cpp over the Windows seam, like _zorp.ex_ does,
// except for the few seam functions timed below.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "common/path.h"
#include "common/platform.h"
#include "launcher/restart_deletion.h"
#include "launcher/wininit_edit.h"

namespace {

constexpr int kMaxRepeats = 31;
constexpr DWORD kPieceSize = 0x10000;  // the entry's own piece size

// Time the entry spent since the last reset in os::FlushFileBuffers; in the calls that put the
// new list in place: MoveFileA, SetFileAttributesA and DeleteFileA; in making the entry's
// absolute short path: GetFullPathNameA and GetShortPathNameA; and in the list's mutex:
// CreateMutexA, WaitForSingleObject and ReleaseMutex. The floor does none of the last two.
LONGLONG flushTicks;
LONGLONG replaceTicks;
LONGLONG pathTicks;
LONGLONG lockTicks;

LONGLONG Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

}  // namespace

// Timed seam functions. The seam library holds each function in an object file of its own, so
// the linker takes these definitions and never pulls the library's.
namespace os {
Bool FlushFileBuffers(Handle file) {
    LONGLONG start = Now();
    BOOL flushed = ::FlushFileBuffers(file);
    flushTicks += Now() - start;
    return flushed;
}

Bool MoveFileA(const char* existing, const char* newName) {
    LONGLONG start = Now();
    BOOL moved = ::MoveFileA(existing, newName);
    replaceTicks += Now() - start;
    return moved;
}

Bool SetFileAttributesA(const char* path, Dword attributes) {
    LONGLONG start = Now();
    BOOL set = ::SetFileAttributesA(path, attributes);
    replaceTicks += Now() - start;
    return set;
}

Bool DeleteFileA(const char* path) {
    LONGLONG start = Now();
    BOOL deleted = ::DeleteFileA(path);
    replaceTicks += Now() - start;
    return deleted;
}

Dword GetFullPathNameA(const char* path, Dword bufferLength, char* buffer, char** filePart) {
    LONGLONG start = Now();
    DWORD length = ::GetFullPathNameA(path, bufferLength, buffer, filePart);
    pathTicks += Now() - start;
    return length;
}

Dword GetShortPathNameA(const char* longPath, char* shortPath, Dword bufferLength) {
    LONGLONG start = Now();
    DWORD length = ::GetShortPathNameA(longPath, shortPath, bufferLength);
    pathTicks += Now() - start;
    return length;
}

Handle CreateMutexA(void* security, Bool initialOwner, const char* name) {
    LONGLONG start = Now();
    HANDLE mutex = ::CreateMutexA(static_cast<SECURITY_ATTRIBUTES*>(security), initialOwner, name);
    lockTicks += Now() - start;
    return mutex;
}

Dword WaitForSingleObject(Handle object, Dword milliseconds) {
    LONGLONG start = Now();
    DWORD wait = ::WaitForSingleObject(object, milliseconds);
    lockTicks += Now() - start;
    return wait;
}

Bool ReleaseMutex(Handle mutex) {
    LONGLONG start = Now();
    BOOL released = ::ReleaseMutex(mutex);
    lockTicks += Now() - start;
    return released;
}
}  // namespace os

namespace {

struct Paths {
    char list[kMaxPath];    // WinInit.ini
    char temp[kMaxPath];    // WinInit.tmp, the new list of the entry and of the floor
    char backup[kMaxPath];  // WinInit.old, the old list while the new one takes its place
    char copy[kMaxPath];    // WinInit.cpy, the plain copy's target
    char target[kMaxPath];  // the file whose deletion is scheduled
};

void Print(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}

DWORD Microseconds(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<DWORD>(ticks * 1000000 / frequency.QuadPart);
}

DWORD Median(DWORD* values, int count) {
    for (int i = 1; i < count; ++i) {  // insertion sort: a handful of values
        DWORD value = values[i];
        int j = i;
        for (; j > 0 && values[j - 1] > value; --j) {
            values[j] = values[j - 1];
        }
        values[j] = value;
    }
    return values[count / 2];
}

bool Append(char* data, size_t capacity, size_t* used, const char* text) {
    size_t length = TextLength(text);
    if (*used + length > capacity) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        data[*used + i] = text[i];
    }
    *used += length;
    return true;
}

// A list of about `size` bytes (a line more at most), CR LF line ends throughout.
size_t BuildList(char* data, size_t capacity, size_t size) {
    static const char kHead[] =
        "[boot]\r\nSCRNSAVE.EXE=\r\ndrivers=mmsystem.dll\r\n\r\n[Rename]\r\n";
    static const char kTail[] = "\r\n[CombineVxDs]\r\nvxd=C:\\WINDOWS\\SYSTEM\\VMM32.VXD\r\n";
    size_t used = 0;
    Append(data, capacity, &used, kHead);
    char line[96];
    for (unsigned long n = 0; used + sizeof kTail < size; ++n) {
        wsprintfA(line, "NUL=C:\\WINDOWS\\TEMP\\~IN%05lX.TMP\r\n", n);
        if (!Append(data, capacity, &used, line)) {
            return 0;
        }
    }
    return Append(data, capacity, &used, kTail) ? used : 0;
}

bool WriteList(const char* path, const char* data, size_t size) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    return CloseHandle(file) && ok;
}

bool LocatePaths(Paths* paths) {
    char windows[kMaxPath];
    UINT length = GetWindowsDirectoryA(windows, kMaxPath);
    if (length == 0 || length >= kMaxPath) {
        return false;
    }
    StripTrailingBackslash(windows);
    bool built = CopyText(paths->list, windows) && AppendText(paths->list, "\\WinInit.ini") &&
                 CopyText(paths->temp, windows) && AppendText(paths->temp, "\\WinInit.tmp") &&
                 CopyText(paths->backup, windows) && AppendText(paths->backup, "\\WinInit.old") &&
                 CopyText(paths->copy, windows) && AppendText(paths->copy, "\\WinInit.cpy") &&
                 CopyText(paths->target, windows) &&
                 AppendText(paths->target, "\\TEMP\\benchdel.tmp");
    return built && WriteList(paths->target, "x", 1);
}

// Reads the whole list in the entry's pieces into one fixed buffer.
bool ReadInPieces(const char* path, char* piece) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD got = 0;
    bool ok = true;
    while (ok && ReadFile(file, piece, kPieceSize, &got, nullptr) && got > 0) {
        ok = got <= kPieceSize;
    }
    return CloseHandle(file) && ok;
}

// An EditOutput drain that only counts: the edit alone, without a file.
bool CountOutput(EditOutput* output) {
    *static_cast<size_t*>(output->context) += output->used;
    output->used = 0;
    return true;
}

// The edit of the whole list in memory, fed in the entry's pieces; the new list's size.
size_t EditInPieces(const char* list, size_t listSize, char* piece) {
    static const char kEntry[] = "NUL=C:\\WINDOWS\\TEMP\\BENCHDEL.TMP";
    size_t size = 0;
    EditOutput out = {piece, kPieceSize, 0, CountOutput, &size, false};
    RestartEdit edit;
    StartRestartEdit(&edit, kEntry);
    for (size_t at = 0; at < listSize;) {
        size_t end = listSize - at > kPieceSize ? at + kPieceSize : listSize;
        at += ContinueRestartEdit(&edit, list + at, end - at, end == listSize, &out);
    }
    return out.failed ? 0 : size + out.used;
}

// Writes `size` bytes of `data` in the entry's pieces into a new file, then flushes it; the
// times of both.
bool WriteInPieces(const char* path, const char* data, size_t size, DWORD* write, DWORD* flush) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LONGLONG start = Now();
    bool ok = true;
    for (size_t at = 0; ok && at < size; at += kPieceSize) {
        DWORD part = static_cast<DWORD>(size - at > kPieceSize ? kPieceSize : size - at);
        DWORD written = 0;
        ok = WriteFile(file, data + at, part, &written, nullptr) && written == part;
    }
    *write = Microseconds(Now() - start);
    start = Now();
    ok = ok && FlushFileBuffers(file);
    *flush = Microseconds(Now() - start);
    return CloseHandle(file) && ok;
}

// Where the entry's time goes, for the same list: reading it in pieces, the edit alone in
// memory, writing a file of the new list's size in pieces and flushing it (FlushFileBuffers
// reaches the disk: fsync under Wine).
bool MeasureParts(const Paths& paths, const char* data, size_t listSize, int repeats) {
    char* piece = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kPieceSize));
    if (piece == nullptr) {
        Print("error=out of memory\r\n");
        return false;
    }
    DWORD read[kMaxRepeats];
    DWORD edit[kMaxRepeats];
    DWORD write[kMaxRepeats];
    DWORD flush[kMaxRepeats];
    bool ok = WriteList(paths.list, data, listSize);
    for (int round = 0; ok && round < repeats; ++round) {
        LONGLONG start = Now();
        ok = ReadInPieces(paths.list, piece);
        read[round] = Microseconds(Now() - start);
        start = Now();
        size_t size = EditInPieces(data, listSize, piece);
        edit[round] = Microseconds(Now() - start);
        DeleteFileA(paths.copy);
        // The list's own bytes stand in for the new list, one line longer.
        ok = ok && size > listSize && size < listSize + 128 &&
             WriteInPieces(paths.copy, data, listSize, &write[round], &flush[round]);
    }
    HeapFree(GetProcessHeap(), 0, piece);
    if (!ok) {
        Print("error=cannot read the list or write the edited one\r\n");
        return false;
    }
    char text[160];
    wsprintfA(text, "parts read_us=%lu edit_us=%lu write_us=%lu flush_us=%lu\r\n",
              Median(read, repeats), Median(edit, repeats), Median(write, repeats),
              Median(flush, repeats));
    Print(text);
    return true;
}

// The floor's steps, in microseconds.
struct FloorTimes {
    DWORD copy;
    DWORD flush;
    DWORD replace;
    DWORD total;
};

// The least a crash-safe replacement of the list does: a copy under a new name, on the disk
// before it takes the list's place; the old list steps aside, the copy steps in, the old list
// goes. False when a call failed.
bool ReplaceByCopy(const Paths& paths, FloorTimes* times) {
    LONGLONG start = Now();
    bool ok = CopyFileA(paths.list, paths.temp, FALSE);
    LONGLONG copied = Now();
    HANDLE file = ok ? CreateFileA(paths.temp, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr)
                     : INVALID_HANDLE_VALUE;
    ok = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
    ok = (file == INVALID_HANDLE_VALUE || CloseHandle(file)) && ok;
    LONGLONG flushed = Now();
    ok = ok && MoveFileA(paths.list, paths.backup) && MoveFileA(paths.temp, paths.list) &&
         DeleteFileA(paths.backup);
    LONGLONG end = Now();
    times->copy = Microseconds(copied - start);
    times->flush = Microseconds(flushed - copied);
    times->replace = Microseconds(end - flushed);
    times->total = Microseconds(end - start);
    return ok;
}

bool Absent(const char* path) {
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
}

// After a replacement: the list is `size` bytes (`size` at least, up to `extra` more) and
// equals `data` in its first `compared` bytes, and neither WinInit.tmp nor WinInit.old is left.
bool ListReplaced(const Paths& paths, const char* data, size_t size, size_t extra,
                  size_t compared) {
    DWORD got = 0;
    char* list = nullptr;
    HANDLE file = CreateFileA(paths.list, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD fileSize = file == INVALID_HANDLE_VALUE ? 0 : GetFileSize(file, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE && fileSize >= size && fileSize <= size + extra;
    if (ok) {
        list = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, fileSize));
        ok = list != nullptr && ReadFile(file, list, fileSize, &got, nullptr) && got == fileSize;
    }
    for (size_t i = 0; ok && i < compared; ++i) {
        ok = list[i] == data[i];
    }
    if (list != nullptr) {
        HeapFree(GetProcessHeap(), 0, list);
    }
    ok = (file == INVALID_HANDLE_VALUE || CloseHandle(file)) && ok;
    return ok && Absent(paths.temp) && Absent(paths.backup);
}

// A fresh list and nothing else of ours beside it: every timed step starts from the same place.
bool FreshList(const Paths& paths, const char* data, size_t size) {
    DeleteFileA(paths.copy);
    DeleteFileA(paths.temp);
    DeleteFileA(paths.backup);
    return size != 0 && WriteList(paths.list, data, size);
}

// The entry's steps, in microseconds.
struct EntryTimes {
    DWORD total;
    DWORD flush;
    DWORD replace;
    DWORD path;
    DWORD lock;
};

// One round of the entry: timed, then checked. The entry goes in near the end, so the list
// keeps its head: the first half of it is compared.
bool TimeEntry(const Paths& paths, const char* data, size_t size, EntryTimes* times) {
    flushTicks = 0;
    replaceTicks = 0;
    pathTicks = 0;
    lockTicks = 0;
    LONGLONG start = Now();
    bool recorded = DeleteAtRestart(paths.target);
    times->total = Microseconds(Now() - start);
    times->flush = Microseconds(flushTicks);
    times->replace = Microseconds(replaceTicks);
    times->path = Microseconds(pathTicks);
    times->lock = Microseconds(lockTicks);
    if (!recorded) {
        Print("error=DeleteAtRestart failed\r\n");
        return false;
    }
    if (!ListReplaced(paths, data, size + 1, kMaxPath + 8, size / 2)) {
        Print("error=the entry's list is not the old one with a line added\r\n");
        return false;
    }
    return true;
}

bool TimeFloor(const Paths& paths, const char* data, size_t size, FloorTimes* times) {
    if (!ReplaceByCopy(paths, times)) {
        Print("error=the floor's replacement failed\r\n");
        return false;
    }
    if (!ListReplaced(paths, data, size, 0, size)) {
        Print("error=the floor's list is not the old one\r\n");
        return false;
    }
    return true;
}

// One size: `repeats` rounds of the plain copy, the entry and the floor, each on a fresh list.
// False when a step or a check failed.
bool MeasureSize(const Paths& paths, char* data, size_t capacity, size_t size, int repeats) {
    size_t listSize = BuildList(data, capacity, size);
    DWORD insert[kMaxRepeats];
    DWORD flush[kMaxRepeats];
    DWORD replace[kMaxRepeats];
    DWORD path[kMaxRepeats];
    DWORD lock[kMaxRepeats];
    DWORD copy[kMaxRepeats];
    DWORD floorTotal[kMaxRepeats];
    DWORD floorCopy[kMaxRepeats];
    DWORD floorFlush[kMaxRepeats];
    DWORD floorReplace[kMaxRepeats];
    char text[320];
    for (int round = 0; round < repeats; ++round) {
        if (!FreshList(paths, data, listSize)) {
            Print("error=cannot write WinInit.ini\r\n");
            return false;
        }
        LONGLONG start = Now();
        BOOL copied = CopyFileA(paths.list, paths.copy, FALSE);
        copy[round] = Microseconds(Now() - start);
        if (!copied) {
            Print("error=CopyFileA failed\r\n");
            return false;
        }
        EntryTimes entry;
        FloorTimes times;
        bool ok = true;
        for (int turn = 0; ok && turn < 2; ++turn) {
            ok = FreshList(paths, data, listSize);
            if (ok && turn == round % 2) {
                ok = TimeEntry(paths, data, listSize, &entry);
            } else if (ok) {
                ok = TimeFloor(paths, data, listSize, &times);
            }
        }
        if (!ok) {
            return false;
        }
        insert[round] = entry.total;
        flush[round] = entry.flush;
        replace[round] = entry.replace;
        path[round] = entry.path;
        lock[round] = entry.lock;
        floorTotal[round] = times.total;
        floorCopy[round] = times.copy;
        floorFlush[round] = times.flush;
        floorReplace[round] = times.replace;
    }
    wsprintfA(text,
              "size=%lu repeats=%d insert_us=%lu floor_us=%lu copy_us=%lu flush_us=%lu "
              "replace_us=%lu path_us=%lu lock_us=%lu\r\n"
              "floor_parts copy_us=%lu flush_us=%lu renames_us=%lu\r\n",
              static_cast<unsigned long>(listSize), repeats, Median(insert, repeats),
              Median(floorTotal, repeats), Median(copy, repeats), Median(flush, repeats),
              Median(replace, repeats), Median(path, repeats), Median(lock, repeats),
              Median(floorCopy, repeats), Median(floorFlush, repeats),
              Median(floorReplace, repeats));
    Print(text);
    return MeasureParts(paths, data, listSize, repeats);
}

int ParseRepeats(const char* tail) {
    int value = 0;
    for (; *tail == ' '; ++tail) {
    }
    for (; *tail >= '0' && *tail <= '9' && value <= kMaxRepeats; ++tail) {
        value = value * 10 + (*tail - '0');
    }
    return value >= 1 && value <= kMaxRepeats ? value : 9;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
    if (IsWindowsNT()) {
        Print("error=NT personality: DeleteAtRestart would not touch WinInit.ini\r\n");
        return 2;
    }
    Paths paths;
    if (!LocatePaths(&paths)) {
        Print("error=cannot prepare the Windows directory\r\n");
        return 1;
    }
    int repeats = ParseRepeats(tail);
    constexpr size_t kLargest = 10u << 20;
    size_t capacity = kLargest + 128;
    char* data = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, capacity));
    if (data == nullptr) {
        Print("error=out of memory\r\n");
        return 1;
    }
    bool ok = MeasureSize(paths, data, capacity, 1u << 20, repeats) &&
              MeasureSize(paths, data, capacity, kLargest, repeats);
    DeleteFileA(paths.copy);
    DeleteFileA(paths.temp);
    DeleteFileA(paths.backup);
    DeleteFileA(paths.list);
    DeleteFileA(paths.target);
    HeapFree(GetProcessHeap(), 0, data);
    return ok ? 0 : 1;
}
