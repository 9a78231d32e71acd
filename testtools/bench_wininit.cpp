// bench_wininit.exe: times the launcher's Windows 95/98 restart entry, the edit and replacement
// of WinInit.ini, against CopyFileA of the same file, in one process.
//
//   bench_wininit.exe [REPEATS]      (default 9, at most 31)
//
// Run under the 9x personality (GetVersionExA platform 1): under NT, DeleteAtRestart takes the
// delayed move and never touches WinInit.ini, so the program refuses with exit code 2. For a
// list of 1 MB and one of 10 MB, each repeat writes the list afresh (not timed), then times
// CopyFileA of it to WinInit.cpy and DeleteAtRestart of a file in the Windows directory's TEMP,
// which reads the whole list, adds the entry and puts the new list in place. The list holds a
// short [boot] section, a [Rename] section that fills the size, and a last section after it, so
// the entry goes in near the end and every byte is looked at. Prints, medians in microseconds
// by QueryPerformanceCounter:
//
//   size=1048576 repeats=9 insert_us=12345 copy_us=6789
//
// and ends with 0, or 1 when a step failed (printed as error=...). Links the launcher's own
// restart_deletion.cpp and wininit_edit.cpp over the Windows seam, like _zorp.ex_ does.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "common/path.h"
#include "launcher/restart_deletion.h"
#include "launcher/wininit_edit.h"

namespace {

constexpr int kMaxRepeats = 31;

struct Paths {
    char list[kMaxPath];    // WinInit.ini
    char copy[kMaxPath];    // WinInit.cpy, CopyFileA's target
    char target[kMaxPath];  // the file whose deletion is scheduled
};

void Print(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}

LONGLONG Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
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

// Writes the file and, with `flush`, flushes it to the disk as the new list is (FlushFileBuffers).
bool WriteFlushed(const char* path, const char* data, size_t size, bool flush) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) &&
              written == size && (!flush || FlushFileBuffers(file));
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
                 CopyText(paths->copy, windows) && AppendText(paths->copy, "\\WinInit.cpy") &&
                 CopyText(paths->target, windows) &&
                 AppendText(paths->target, "\\TEMP\\benchdel.tmp");
    return built && WriteList(paths->target, "x", 1);
}

// Reads the whole list into a new heap block, as the entry does.
bool ReadIntoHeap(const char* path, size_t size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
    DWORD got = 0;
    bool ok = block != nullptr && ReadFile(file, block, static_cast<DWORD>(size), &got, nullptr) &&
              got == size;
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
    return CloseHandle(file) && ok;
}

// Where the entry's time goes, for the same list: reading it into a heap block, the edit alone
// in memory, and writing the new list with and without FlushFileBuffers (which reaches the
// disk: fsync under Wine).
bool MeasureParts(const Paths& paths, char* data, size_t capacity, size_t listSize, int repeats) {
    static const char kEntry[] = "NUL=C:\\WINDOWS\\TEMP\\BENCHDEL.TMP";
    size_t bound = RestartEntryEditBound(listSize, sizeof kEntry - 1);
    char* out = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, bound));
    if (out == nullptr || bound > capacity + listSize + 64) {
        Print("error=out of memory\r\n");
        return false;
    }
    DWORD read[kMaxRepeats];
    DWORD edit[kMaxRepeats];
    DWORD write[kMaxRepeats];
    DWORD flushed[kMaxRepeats];
    size_t size = 0;
    bool listed = WriteList(paths.list, data, listSize);
    for (int round = 0; round < repeats; ++round) {
        LONGLONG start = Now();
        listed = ReadIntoHeap(paths.list, listSize) && listed;
        read[round] = Microseconds(Now() - start);
        start = Now();
        size = AddRestartEntry(data, listSize, kEntry, out, bound);
        edit[round] = Microseconds(Now() - start);
        DeleteFileA(paths.copy);
        start = Now();
        bool written = WriteFlushed(paths.copy, out, size, false);
        write[round] = Microseconds(Now() - start);
        DeleteFileA(paths.copy);
        start = Now();
        written = WriteFlushed(paths.copy, out, size, true) && written;
        flushed[round] = Microseconds(Now() - start);
        if (size == 0 || !written || !listed) {
            Print("error=cannot read the list or write the edited one\r\n");
            HeapFree(GetProcessHeap(), 0, out);
            return false;
        }
    }
    HeapFree(GetProcessHeap(), 0, out);
    char text[160];
    wsprintfA(text, "parts read_us=%lu edit_us=%lu write_us=%lu write_flush_us=%lu\r\n",
              Median(read, repeats), Median(edit, repeats), Median(write, repeats),
              Median(flushed, repeats));
    Print(text);
    return true;
}

// One size: `repeats` rounds of write, copy, insert. False when a step failed.
bool MeasureSize(const Paths& paths, char* data, size_t capacity, size_t size, int repeats) {
    size_t listSize = BuildList(data, capacity, size);
    DWORD insert[kMaxRepeats];
    DWORD copy[kMaxRepeats];
    char text[160];
    for (int round = 0; round < repeats; ++round) {
        DeleteFileA(paths.copy);
        if (listSize == 0 || !WriteList(paths.list, data, listSize)) {
            Print("error=cannot write WinInit.ini\r\n");
            return false;
        }
        LONGLONG start = Now();
        BOOL copied = CopyFileA(paths.list, paths.copy, FALSE);
        copy[round] = Microseconds(Now() - start);
        start = Now();
        bool recorded = DeleteAtRestart(paths.target);
        insert[round] = Microseconds(Now() - start);
        if (!copied || !recorded) {
            wsprintfA(text, "error=%s failed (%lu)\r\n", copied ? "DeleteAtRestart" : "CopyFileA",
                      GetLastError());
            Print(text);
            return false;
        }
    }
    wsprintfA(text, "size=%lu repeats=%d insert_us=%lu copy_us=%lu\r\n",
              static_cast<unsigned long>(listSize), repeats, Median(insert, repeats),
              Median(copy, repeats));
    Print(text);
    return MeasureParts(paths, data, capacity, listSize, repeats);
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
    DeleteFileA(paths.list);
    DeleteFileA(paths.target);
    HeapFree(GetProcessHeap(), 0, data);
    return ok ? 0 : 1;
}
