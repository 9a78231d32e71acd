#include "launcher/restart_deletion.h"

#include "common/path.h"
#include "common/platform.h"
#include "launcher/wininit_edit.h"

namespace {

// The list and the two names its replacement uses, all in the Windows directory.
struct ListFiles {
    PathBuffer list;  // WinInit.ini
    PathBuffer temp;  // WinInit.tmp: the complete new list before it takes the list's place
    // WinInit.old: the old list while the new one takes its place. Not WININIT.BAK: Windows
    // 95/98 renames a WinInit.ini it has worked through to WININIT.BAK at start, so that name
    // beside a missing WinInit.ini is the normal state after a restart, and putting it back
    // would carry out its deletions a second time.
    PathBuffer backup;
};

enum class Presence { kAbsent, kPresent, kUnknown };

// "Without sharing restrictions", but without FILE_SHARE_DELETE: Windows 95/98 refuses
// CreateFileA when it is given.
constexpr os::Dword kShareAll = os::kShareRead | os::kShareWrite;
// The list goes from WinInit.ini to WinInit.tmp in pieces of this size, as CopyFileA copies: a
// block the size of the whole list would cost a page fault for every 4 KiB of it.
constexpr os::Dword kPieceSize = 0x10000;
// A piece read, behind the start of a line carried over from the piece before it.
constexpr size_t kReadRoom = kRestartEditCarry + kPieceSize;

// Absent only when Windows says so (file or path not found); any other failure cannot tell.
// `attributes` gets the file's when it is present.
Presence FilePresence(const char* path, os::Dword* attributes = nullptr) {
    os::Dword found = os::GetFileAttributesA(path);
    if (found != os::kInvalidFileAttributes) {
        if (attributes != nullptr) {
            *attributes = found;
        }
        return Presence::kPresent;
    }
    os::Dword error = os::GetLastError();
    if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound) {
        return Presence::kAbsent;
    }
    return Presence::kUnknown;
}

// Clears a file out of the way. WinInit.old keeps the attributes of the list it was, and
// DeleteFileA refuses a read-only file. The results are not needed: a rename onto a name that
// is still taken fails.
void DiscardFile(const char* path) {
    os::SetFileAttributesA(path, os::kAttrNormal);
    os::DeleteFileA(path);
}

// The entry for the file's absolute short (8.3) path. Made absolute first: GetShortPathNameA
// keeps a relative path relative, and Windows works through the list at its start, in no
// current directory of ours. A result of 260 or more means the buffer was too small and not
// filled.
bool FormatEntryFor(const char* path, RestartEntry entry) {
    PathBuffer full;
    os::Dword length = os::GetFullPathNameA(path, kMaxPath, full, nullptr);
    if (length == 0 || length >= kMaxPath) {
        return false;
    }
    PathBuffer shortPath;
    length = os::GetShortPathNameA(full, shortPath, kMaxPath);
    if (length == 0 || length >= kMaxPath) {
        return false;  // 0: the file does not exist
    }
    return FormatRestartEntry(shortPath, entry);
}

bool InDirectory(const char* directory, const char* name, PathBuffer path) {
    return CopyText(path, kMaxPath, directory) && AppendText(path, kMaxPath, name);
}

bool LocateListFiles(ListFiles* files) {
    PathBuffer directory;
    unsigned length = os::GetWindowsDirectoryA(directory, kMaxPath);
    if (length == 0 || length >= kMaxPath) {
        return false;
    }
    // A Windows directory at a drive root (C:\) already ends in a backslash.
    size_t end = TextLength(directory);
    if (end > 0 && directory[end - 1] != '\\' && !AppendText(directory, "\\")) {
        return false;
    }
    return InDirectory(directory, "WinInit.ini", files->list) &&
           InDirectory(directory, "WinInit.tmp", files->temp) &&
           InDirectory(directory, "WinInit.old", files->backup);
}

// No WinInit.ini. With WinInit.old and WinInit.tmp beside each other, a replacement was cut
// off between its two renames: the old list goes back (WinInit.tmp is never promoted; the call
// that wrote it did not report success). WinInit.old alone is left from a replacement that
// finished, whose list Windows has since worked through: it goes, so that it can never come
// back and replay those deletions.
bool RestoreStrandedList(const ListFiles& files, bool* listExists) {
    *listExists = false;
    Presence backup = FilePresence(files.backup);
    if (backup != Presence::kPresent) {
        return backup == Presence::kAbsent;
    }
    Presence temp = FilePresence(files.temp);
    if (temp == Presence::kUnknown) {
        return false;
    }
    if (temp == Presence::kAbsent) {
        DiscardFile(files.backup);
        return true;
    }
    *listExists = os::MoveFileA(files.backup, files.list) != 0;
    return *listExists;
}

// Whether WinInit.ini exists, once a list stranded under another name is back in its place.
// False when that cannot be told, and for a read-only list: whoever made it so does not want
// it replaced, and a replacement would not keep the attribute.
bool FindList(const ListFiles& files, bool* listExists) {
    os::Dword attributes = 0;
    Presence list = FilePresence(files.list, &attributes);
    if (list == Presence::kAbsent) {
        return RestoreStrandedList(files, listExists);
    }
    *listExists = list == Presence::kPresent;
    return list == Presence::kPresent && (attributes & os::kAttrReadOnly) == 0;
}

// EditOutput's drain into WinInit.tmp: one write of the full buffer.
bool WriteOutput(EditOutput* output) {
    os::Dword size = static_cast<os::Dword>(output->used);
    os::Dword written = 0;
    bool complete =
        os::WriteFile(output->context, output->data, size, &written, nullptr) && written == size;
    output->used = 0;
    return complete;
}

// Feeds the whole open list, binary, through the edit into `out`; `room` holds kReadRoom bytes.
// Binary: the C runtime's text mode would stop at a Ctrl-Z byte. False when a read fails, the
// list shrinks under us, or the output fails.
bool EditList(os::Handle list, const char* entry, char* room, EditOutput* out) {
    os::Dword sizeHigh = 0;
    os::Dword left = os::GetFileSize(list, &sizeHigh);
    if (left == 0xFFFFFFFFu || sizeHigh != 0) {
        return false;  // failed, or far too large for a list
    }
    RestartEdit edit;
    StartRestartEdit(&edit, entry);
    size_t carried = 0;  // room[0, carried): the start of a line that the edit left for later
    for (;;) {
        os::Dword wanted = left < kPieceSize ? left : kPieceSize;
        os::Dword read = 0;
        if (wanted > 0 && (!os::ReadFile(list, room + carried, wanted, &read, nullptr) ||
                           read == 0 || read > wanted)) {
            return false;  // an error, or the file shrank under us
        }
        left -= read;
        size_t size = carried + read;
        size_t taken = ContinueRestartEdit(&edit, room, size, left == 0, out);
        if (out->failed || left == 0) {
            return !out->failed;
        }
        carried = size - taken;
        __builtin_memmove(room, room + taken, carried);
    }
}

// WinInit.tmp = the old list (`list`, open for reading; InvalidHandle when there is none) with
// the entry added, flushed to the disk. A file that did not get every byte is deleted again.
bool WriteNewList(const char* temp, os::Handle list, const char* entry) {
    char* buffers = static_cast<char*>(os::HeapAlloc(kReadRoom + kPieceSize));
    if (buffers == nullptr) {
        return false;
    }
    os::Handle file = os::CreateFileA(temp, os::kGenericWrite, kShareAll, nullptr,
                                      os::kCreateAlways, os::kAttrNormal, nullptr);
    bool complete = false;
    if (file != os::InvalidHandle()) {
        EditOutput out = {buffers + kReadRoom, kPieceSize, 0, WriteOutput, file, false};
        if (list == os::InvalidHandle()) {
            out.used = NewRestartList(entry, out.data, out.capacity);
            complete = out.used != 0;
        } else {
            complete = EditList(list, entry, buffers, &out);
        }
        // The new list must be on the disk before it replaces the old one: after a power cut
        // between the renames, either list is whole.
        complete = complete && WriteOutput(&out) && os::FlushFileBuffers(file);
        complete = os::CloseHandle(file) && complete;
        if (!complete) {
            os::DeleteFileA(temp);
        }
    }
    os::HeapFree(buffers);
    return complete;
}

// Puts WinInit.tmp in the place of WinInit.ini. Windows 95/98 has no atomic replace (nor
// MoveFileExA), so the old list steps aside as WinInit.old first: at every moment the complete
// old or the complete new list stands under a name that RestoreStrandedList knows, and
// WinInit.ini is missing only between two renames. When the new list cannot take its place,
// the old one goes back.
bool PutNewListInPlace(const ListFiles& files, bool listExisted) {
    if (!listExisted) {
        // MoveFileA never replaces: a list that appeared meanwhile is left alone.
        if (os::MoveFileA(files.temp, files.list)) {
            return true;
        }
        os::DeleteFileA(files.temp);
        return false;
    }
    // Beside an existing WinInit.ini, a WinInit.old is left from a replacement that finished.
    if (os::GetFileAttributesA(files.backup) != os::kInvalidFileAttributes) {
        DiscardFile(files.backup);
    }
    if (!os::MoveFileA(files.list, files.backup)) {
        os::DeleteFileA(files.temp);
        return false;
    }
    if (!os::MoveFileA(files.temp, files.list)) {
        // If the old list cannot go back either, WinInit.tmp stays: beside WinInit.old it tells
        // the next call to restore.
        if (os::MoveFileA(files.backup, files.list)) {
            os::DeleteFileA(files.temp);
        }
        return false;
    }
    DiscardFile(files.backup);
    return true;
}

// Launchers that end together edit the same list through the same three names, and the
// renames of one in the middle of another's would lose entries, or the whole list. The edit
// holds this mutex from its first look at the list to its last rename.
constexpr char kListMutexName[] = "MutexToProtectWinInit";
constexpr os::Dword kListWaitMs = 30000;

// Owns the list's mutex, or goes on without it when the mutex cannot be created (as the
// programs' own guard does): an entry lost for want of a lock would leave a file behind for
// good. False when another editor keeps the mutex or the wait fails: the list is then left
// alone.
bool LockList(os::Handle* lock) {
    *lock = os::CreateMutexA(nullptr, 0, kListMutexName);
    if (*lock == nullptr) {
        return true;
    }
    os::Dword wait = os::WaitForSingleObject(*lock, kListWaitMs);
    // Abandoned: an editor ended half-way. We own the mutex now, and FindList mends the files
    // it left.
    if (wait == os::kWaitObject0 || wait == os::kWaitAbandoned) {
        return true;
    }
    os::CloseHandle(*lock);
    return false;
}

void UnlockList(os::Handle lock) {
    if (lock != nullptr) {
        os::ReleaseMutex(lock);
        os::CloseHandle(lock);
    }
}

// The list with the entry added, under the list's mutex.
bool AddToList(const ListFiles& files, const char* entry) {
    bool listExists = false;
    if (!FindList(files, &listExists)) {
        return false;
    }
    os::Handle list = os::InvalidHandle();
    if (listExists) {
        list = os::CreateFileA(files.list, os::kGenericRead, kShareAll, nullptr, os::kOpenExisting,
                               os::kAttrNormal, nullptr);
        if (list == os::InvalidHandle()) {
            return false;  // a list that cannot be read is never replaced
        }
    }
    bool recorded = WriteNewList(files.temp, list, entry);
    if (listExists) {
        os::CloseHandle(list);  // before the renames: an open file cannot be renamed
    }
    return recorded && PutNewListInPlace(files, listExists);
}

// The Windows 95/98 way: a NUL=<short path> line in the [Rename] section of WinInit.ini.
bool AddToRenameSection(const char* path) {
    RestartEntry entry;
    ListFiles files;
    if (!FormatEntryFor(path, entry) || !LocateListFiles(&files)) {
        return false;  // nothing touched yet
    }
    os::Handle lock;
    if (!LockList(&lock)) {
        return false;
    }
    bool recorded = AddToList(files, entry);
    UnlockList(lock);
    return recorded;
}

}  // namespace

bool IsWindowsNT() {
    os::OsVersionInfo info;
    ZeroBytes(&info, sizeof info);
    info.size = sizeof info;
    return os::GetVersionExA(&info) && info.platformId == os::kPlatformNt;
}

bool DeleteAtRestart(const char* path) {
    if (IsWindowsNT()) {
        // NT keeps the list itself; the path goes as passed, long or relative.
        return os::MoveFileExA(path, nullptr, os::kMoveDelayUntilReboot) != 0;
    }
    return AddToRenameSection(path);
}
