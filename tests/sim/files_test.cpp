// The simulated file system: directories, files, paths at the 260-character limit, short
// names, handles and the shell's copy, with the errors Windows gives.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/platform.h"
#include "sim/machine.h"

namespace {

const os::Dword kUnset = 0xDEADBEEF;

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::ResetTypical();
        sim::SetCurrentDirectory("C:\\WINDOWS");
    }
};

// A path of exactly `length` characters below C:\, in components of at most 100.
std::string PathOfLength(size_t length) {
    std::string path = "C:\\" + std::string(100, 'd');
    while (path.size() + 101 < length) {
        path += "\\" + std::string(100, 'd');
    }
    return path + "\\" + std::string(length - path.size() - 1, 'f');
}

TEST_F(Files, CreateDirectoryReportsWindowsErrors) {
    sim::PutFile("C:\\FILE.TXT", "x");
    struct Row {
        const char* path;
        os::Bool ok;
        os::Dword error;
    } rows[] = {
        {"C:\\NEW", 1, kUnset},       // created
        {"c:\\windows", 0, 183},      // exists, any case
        {"C:\\FILE.TXT", 0, 183},     // a file of that name
        {"C:\\MISSING\\NEW", 0, 3},   // parent missing
        {"C:\\FILE.TXT\\NEW", 0, 3},  // parent is a file
        {"E:\\NEW", 0, 5},            // CD-ROM
        {"Z:\\NEW", 0, 3},            // no such drive
        {"TEMP\\REL", 1, kUnset},     // relative to C:\WINDOWS
        {"..\\UP", 1, kUnset},        // C:\UP
        {"\\ROOTED", 1, kUnset},      // current drive's root
        {"C:\\BAD|NAME", 0, 123},     // invalid character
        {"", 0, 3},                   // empty
    };
    for (const Row& row : rows) {
        os::SetLastError(kUnset);
        EXPECT_EQ(os::CreateDirectoryA(row.path, nullptr), row.ok) << row.path;
        EXPECT_EQ(os::GetLastError(), row.error) << row.path;
    }
    EXPECT_TRUE(sim::DirectoryExists("C:\\WINDOWS\\TEMP\\REL"));
    EXPECT_TRUE(sim::DirectoryExists("C:\\UP"));
    EXPECT_TRUE(sim::DirectoryExists("C:\\ROOTED"));
}

TEST_F(Files, PathLengthsAtTheLimit) {
    // CreateDirectoryA takes 248 characters; the other calls up to 259.
    struct Row {
        size_t length;
        bool directoryOk;
        bool fileOk;
    } rows[] = {
        {248, true, true},    // CreateDirectoryA's last
        {249, false, true},   //
        {259, false, true},   // MAX_PATH - 1
        {260, false, false},  // MAX_PATH
        {261, false, false},  //
    };
    for (const Row& row : rows) {
        std::string path = PathOfLength(row.length);
        ASSERT_EQ(path.size(), row.length);
        std::string parent = path.substr(0, path.rfind('\\'));
        ASSERT_TRUE(sim::MakeDirectories(parent));
        os::SetLastError(kUnset);
        EXPECT_EQ(os::CreateDirectoryA(path.c_str(), nullptr) != 0, row.directoryOk) << row.length;
        if (!row.directoryOk) {
            EXPECT_EQ(os::GetLastError(), 206u) << row.length;
        } else {
            os::RemoveDirectoryA(path.c_str());
        }
        os::Handle file = os::CreateFileA(path.c_str(), os::kGenericWrite, 0, nullptr,
                                          os::kCreateAlways, os::kAttrNormal, nullptr);
        EXPECT_EQ(file != os::InvalidHandle(), row.fileOk) << row.length;
        if (row.fileOk) {
            os::CloseHandle(file);
            EXPECT_TRUE(sim::FileExists(path));
        } else {
            EXPECT_EQ(os::GetLastError(), 206u) << row.length;
            EXPECT_FALSE(sim::FileExists(path));
        }
    }
}

TEST_F(Files, RemoveDirectoryRefusesWhatWindowsRefuses) {
    sim::MakeDirectories("C:\\FULL\\SUB");
    sim::MakeDirectories("C:\\EMPTY");
    sim::PutFile("C:\\FILE.TXT", "x");
    struct Row {
        const char* path;
        os::Bool ok;
        os::Dword error;
    } rows[] = {
        {"C:\\FULL", 0, 145},      // not empty
        {"C:\\NOPE", 0, 2},        // missing
        {"C:\\NOPE\\SUB", 0, 3},   // parent missing
        {"C:\\FILE.TXT", 0, 267},  // a file
        {"C:\\WINDOWS", 0, 32},    // the test's current directory
        {"C:\\", 0, 5},            // a root
        {"C:\\EMPTY", 1, kUnset},  // removed
    };
    for (const Row& row : rows) {
        os::SetLastError(kUnset);
        EXPECT_EQ(os::RemoveDirectoryA(row.path), row.ok) << row.path;
        EXPECT_EQ(os::GetLastError(), row.error) << row.path;
    }
    EXPECT_FALSE(sim::DirectoryExists("C:\\EMPTY"));
}

TEST_F(Files, DeleteAndMoveRefuseWhatWindowsRefuses) {
    sim::PutFile("C:\\A.TXT", "a");
    sim::PutFile("C:\\B.TXT", "b");
    sim::PutFile("C:\\RO.TXT", "r", os::kAttrReadOnly);
    sim::PutFile("C:\\USED.TXT", "u");
    sim::SetFileInUse("C:\\USED.TXT", true);
    sim::PutFile("E:\\CD.TXT", "cd");
    struct Row {
        const char* op;
        const char* from;
        const char* to;
        os::Bool ok;
        os::Dword error;
    } rows[] = {
        {"delete", "C:\\NOPE.TXT", nullptr, 0, 2},       // missing
        {"delete", "C:\\NOPE\\X.TXT", nullptr, 0, 3},    // directory missing
        {"delete", "C:\\RO.TXT", nullptr, 0, 5},         // read-only
        {"delete", "C:\\USED.TXT", nullptr, 0, 32},      // in use
        {"delete", "C:\\WINDOWS", nullptr, 0, 5},        // a directory
        {"delete", "E:\\CD.TXT", nullptr, 0, 5},         // CD-ROM
        {"move", "C:\\A.TXT", "C:\\B.TXT", 0, 183},      // target exists
        {"move", "C:\\NOPE.TXT", "C:\\C.TXT", 0, 2},     // source missing
        {"move", "C:\\USED.TXT", "C:\\C.TXT", 0, 32},    // source in use
        {"move", "C:\\A.TXT", "C:\\NOPE\\C.TXT", 0, 3},  // target directory missing
        {"move", "C:\\A.TXT", "E:\\A.TXT", 0, 5},        // onto the CD
        {"move", "C:\\A.TXT", "c:\\windows\\Moved.txt", 1, kUnset},
        {"delete", "C:\\WINDOWS\\MOVED.TXT", nullptr, 1, kUnset},
    };
    for (const Row& row : rows) {
        os::SetLastError(kUnset);
        os::Bool ok = strcmp(row.op, "delete") == 0 ? os::DeleteFileA(row.from)
                                                    : os::MoveFileA(row.from, row.to);
        EXPECT_EQ(ok, row.ok) << row.op << " " << row.from;
        EXPECT_EQ(os::GetLastError(), row.error) << row.op << " " << row.from;
    }
    EXPECT_FALSE(sim::FileExists("C:\\A.TXT"));
    EXPECT_FALSE(sim::FileExists("C:\\WINDOWS\\MOVED.TXT"));
    EXPECT_TRUE(sim::FileExists("C:\\RO.TXT"));
}

TEST_F(Files, MoveFileExReplacesOnlyWhenAsked) {
    sim::PutFile("C:\\NEW.TXT", "new");
    sim::PutFile("C:\\OLD.TXT", "old");
    EXPECT_FALSE(os::MoveFileExA("C:\\NEW.TXT", "C:\\OLD.TXT", 0));
    EXPECT_EQ(os::GetLastError(), 183u);
    EXPECT_TRUE(os::MoveFileExA("C:\\NEW.TXT", "C:\\OLD.TXT", os::kMoveReplaceExisting));
    std::string content;
    ASSERT_TRUE(sim::GetFile("C:\\OLD.TXT", &content));
    EXPECT_EQ(content, "new");
    EXPECT_FALSE(sim::FileExists("C:\\NEW.TXT"));
    // Across drives only with MOVEFILE_COPY_ALLOWED (17: ERROR_NOT_SAME_DEVICE).
    sim::AddDrive("D:\\", os::kDriveFixed, 1 << 20);
    EXPECT_FALSE(os::MoveFileExA("C:\\OLD.TXT", "D:\\OLD.TXT", 0));
    EXPECT_EQ(os::GetLastError(), 17u);
    EXPECT_TRUE(os::MoveFileExA("C:\\OLD.TXT", "D:\\OLD.TXT", os::kMoveCopyAllowed));
    EXPECT_TRUE(sim::FileExists("D:\\OLD.TXT"));
}

TEST_F(Files, NamesKeepTheirCaseAndMatchWithoutIt) {
    ASSERT_TRUE(os::CreateDirectoryA("C:\\Staging Area", nullptr));
    EXPECT_TRUE(sim::DirectoryExists("c:\\STAGING AREA"));
    EXPECT_EQ(sim::StoredPath("c:\\staging area"), "C:\\Staging Area");
    EXPECT_EQ(os::GetFileAttributesA("C:\\STAGING AREA"), os::kAttrDirectory);
    // The derived short name names it too.
    EXPECT_EQ(sim::StoredPath("C:\\STAGIN~1"), "C:\\Staging Area");
}

TEST_F(Files, AttributesAreSetAndNormalClearsThem) {
    sim::PutFile("C:\\F.TXT", "x", os::kAttrReadOnly | os::kAttrHidden | os::kAttrSystem);
    EXPECT_EQ(os::GetFileAttributesA("C:\\F.TXT"),
              os::kAttrReadOnly | os::kAttrHidden | os::kAttrSystem);
    EXPECT_TRUE(os::SetFileAttributesA("C:\\F.TXT", os::kAttrNormal));
    EXPECT_EQ(sim::Attributes("C:\\F.TXT"), os::kAttrNormal);
    EXPECT_FALSE(os::SetFileAttributesA("C:\\NOPE.TXT", os::kAttrNormal));
    EXPECT_EQ(os::GetLastError(), 2u);
    EXPECT_EQ(os::GetFileAttributesA("C:\\NOPE\\X"), os::kInvalidFileAttributes);
    EXPECT_EQ(os::GetLastError(), 3u);
    // Files on a CD are read-only whatever they were put there with.
    sim::PutFile("E:\\SETUP.EXE", "x");
    EXPECT_EQ(sim::Attributes("E:\\SETUP.EXE"), os::kAttrReadOnly);
}

TEST_F(Files, ShortNamesFollowTheStoredSpellingOrAreDerived) {
    sim::MakeDirectories("C:\\Program Files\\Quillo");
    sim::PutFile("C:\\Program Files\\Quillo\\cfgmgr32.dll", "x");
    sim::PutFile("C:\\Program Files\\Quillo\\Long Name.text", "1");
    sim::PutFile("C:\\Program Files\\Quillo\\Long Nameplate.text", "2");
    sim::PutFile("C:\\Program Files\\Quillo\\Forced Name.txt", "3");
    sim::SetShortName("C:\\Program Files\\Quillo\\Forced Name.txt", "FORCED.TXT");
    struct Row {
        const char* path;
        const char* shortPath;
    } rows[] = {
        {"C:\\Program Files\\Quillo\\cfgmgr32.dll", "C:\\PROGRA~1\\Quillo\\cfgmgr32.dll"},
        {"c:\\program files\\quillo\\CFGMGR32.DLL", "c:\\PROGRA~1\\Quillo\\cfgmgr32.dll"},
        {"C:\\Program Files\\Quillo\\Long Name.text", "C:\\PROGRA~1\\Quillo\\LONGNA~1.TEX"},
        {"C:\\Program Files\\Quillo\\Long Nameplate.text", "C:\\PROGRA~1\\Quillo\\LONGNA~2.TEX"},
        {"C:\\Program Files\\Quillo\\Forced Name.txt", "C:\\PROGRA~1\\Quillo\\FORCED.TXT"},
        {"C:\\Program Files\\", "C:\\PROGRA~1\\"},  // trailing separator kept
        {"C:\\", "C:\\"},
    };
    for (const Row& row : rows) {
        char buffer[300];
        os::Dword length = os::GetShortPathNameA(row.path, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, length), row.shortPath) << row.path;
    }
    // A relative path stays relative.
    sim::SetCurrentDirectory("C:\\Program Files\\Quillo");
    char buffer[300];
    ASSERT_NE(os::GetShortPathNameA("Long Name.text", buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "LONGNA~1.TEX");
    ASSERT_NE(os::GetShortPathNameA("..\\Quillo\\.\\cfgmgr32.dll", buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "..\\Quillo\\.\\cfgmgr32.dll");
    // Missing: 2 for the file, 3 for a directory on the way.
    EXPECT_EQ(os::GetShortPathNameA("C:\\Program Files\\nope.dll", buffer, sizeof buffer), 0u);
    EXPECT_EQ(os::GetLastError(), 2u);
    EXPECT_EQ(os::GetShortPathNameA("C:\\nope\\x.dll", buffer, sizeof buffer), 0u);
    EXPECT_EQ(os::GetLastError(), 3u);
}

// Buffer contracts: size-1, exact size, size+1, with the buffer untouched when too small.
std::string gLongPath;

struct BufferCall {
    const char* name;
    os::Dword (*call)(char* buffer, os::Dword size);
};

os::Dword CurrentDirectory(char* buffer, os::Dword size) {
    return os::GetCurrentDirectoryA(size, buffer);
}
os::Dword WindowsDirectory(char* buffer, os::Dword size) {
    return os::GetWindowsDirectoryA(buffer, size);
}
os::Dword SystemDirectory(char* buffer, os::Dword size) {
    return os::GetSystemDirectoryA(buffer, size);
}
os::Dword ShortPath(char* buffer, os::Dword size) {
    return os::GetShortPathNameA(gLongPath.c_str(), buffer, size);
}
os::Dword FullPath(char* buffer, os::Dword size) {
    return os::GetFullPathNameA(".", size, buffer, nullptr);
}

TEST_F(Files, BuffersTooSmallReportTheNeededSizeAndStayUntouched) {
    const BufferCall calls[] = {
        {"GetCurrentDirectoryA", CurrentDirectory},
        {"GetWindowsDirectoryA", WindowsDirectory},
        {"GetSystemDirectoryA", SystemDirectory},
        {"GetShortPathNameA", ShortPath},
        {"GetFullPathNameA", FullPath},
    };
    for (size_t length : {258u, 259u}) {
        // 8.3 components, so that the short path is the path itself.
        gLongPath = "C:\\LONG";
        while (gLongPath.size() + 9 < length) {
            gLongPath += "\\DIRECTRY";
        }
        gLongPath += "\\" + std::string(length - gLongPath.size() - 1, 'X');
        ASSERT_EQ(gLongPath.size(), length);
        sim::ResetTypical();
        ASSERT_TRUE(sim::MakeDirectories(gLongPath));
        sim::SetCurrentDirectory(gLongPath);
        sim::SetWindowsDirectory(gLongPath);
        sim::SetSystemDirectory(gLongPath);
        // Sizes: one short of the NUL, exactly the text and its NUL, one more.
        for (size_t size : {length, length + 1, length + 2}) {
            for (const BufferCall& c : calls) {
                char buffer[300];
                memset(buffer, '#', sizeof buffer);
                os::Dword result = c.call(buffer, static_cast<os::Dword>(size));
                if (size > length) {
                    EXPECT_EQ(result, length) << c.name << " " << size;
                    EXPECT_EQ(std::string(buffer), gLongPath) << c.name << " " << size;
                } else {
                    EXPECT_EQ(result, length + 1) << c.name << " " << size;
                    EXPECT_EQ(buffer[0], '#') << c.name << " " << size;
                }
            }
        }
    }
}

TEST_F(Files, HandlesReadWriteAndShare) {
    os::Handle file = os::CreateFileA("C:\\DATA.BIN", os::kGenericWrite, os::kShareRead, nullptr,
                                      os::kCreateNew, os::kAttrNormal, nullptr);
    ASSERT_NE(file, os::InvalidHandle());
    os::Dword written = 0;
    ASSERT_TRUE(os::WriteFile(file, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    // Written through at once: the disk holds it before the handle closes.
    std::string content;
    ASSERT_TRUE(sim::GetFile("C:\\DATA.BIN", &content));
    EXPECT_EQ(content, "hello");
    // Shared for reading only: a second writer, a deletion, a reader that won't share
    // writing are refused.
    EXPECT_EQ(os::CreateFileA("C:\\DATA.BIN", os::kGenericWrite, os::kShareRead | os::kShareWrite,
                              nullptr, os::kOpenExisting, 0, nullptr),
              os::InvalidHandle());
    EXPECT_EQ(os::GetLastError(), 32u);
    EXPECT_FALSE(os::DeleteFileA("C:\\DATA.BIN"));
    EXPECT_EQ(os::GetLastError(), 32u);
    os::Handle reader =
        os::CreateFileA("C:\\DATA.BIN", os::kGenericRead, os::kShareRead | os::kShareWrite, nullptr,
                        os::kOpenExisting, 0, nullptr);
    ASSERT_NE(reader, os::InvalidHandle());
    char buffer[8] = {};
    os::Dword read = 0;
    EXPECT_TRUE(os::ReadFile(reader, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "hello");
    EXPECT_TRUE(os::ReadFile(reader, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u) << "end of file";
    EXPECT_FALSE(os::WriteFile(reader, "x", 1, &written, nullptr));
    EXPECT_EQ(os::GetLastError(), 5u);
    os::Dword high = 1;
    EXPECT_EQ(os::GetFileSize(reader, &high), 5u);
    EXPECT_EQ(high, 0u);
    EXPECT_TRUE(os::FlushFileBuffers(file));
    EXPECT_TRUE(os::CloseHandle(file));
    EXPECT_TRUE(os::CloseHandle(reader));
    EXPECT_FALSE(os::CloseHandle(reader));
    EXPECT_EQ(os::GetLastError(), 6u);
    EXPECT_TRUE(os::DeleteFileA("C:\\DATA.BIN"));
}

TEST_F(Files, CreateFileDispositionsAndRefusals) {
    sim::PutFile("C:\\RO.TXT", "r", os::kAttrReadOnly);
    sim::PutFile("C:\\OLD.TXT", "old");
    sim::PutFile("C:\\USED.TXT", "u");
    sim::SetFileInUse("C:\\USED.TXT", true);
    sim::PutFile("E:\\CD.TXT", "cd");
    struct Row {
        const char* path;
        os::Dword access;
        os::Dword disposition;
        bool ok;
        os::Dword error;  // also the success value: 183 for an existing file re-created
    } rows[] = {
        {"C:\\NEW.TXT", os::kGenericWrite, os::kCreateNew, true, 0},
        {"C:\\OLD.TXT", os::kGenericWrite, os::kCreateNew, false, 80},
        {"C:\\OLD.TXT", os::kGenericWrite, os::kCreateAlways, true, 183},
        {"C:\\OLD.TXT", os::kGenericRead, os::kOpenAlways, true, 183},
        {"C:\\NONE.TXT", os::kGenericRead, os::kOpenExisting, false, 2},
        {"C:\\NODIR\\A.TXT", os::kGenericRead, os::kOpenAlways, false, 3},
        {"C:\\RO.TXT", os::kGenericWrite, os::kOpenExisting, false, 5},
        {"C:\\RO.TXT", os::kGenericRead, os::kOpenExisting, true, 0},
        {"C:\\USED.TXT", os::kGenericWrite, os::kOpenExisting, false, 32},
        {"C:\\USED.TXT", os::kGenericRead, os::kOpenExisting, true, 0},
        {"C:\\WINDOWS", os::kGenericRead, os::kOpenExisting, false, 5},
        {"E:\\CD.TXT", os::kGenericWrite, os::kOpenExisting, false, 5},
        {"E:\\NEW.TXT", os::kGenericWrite, os::kCreateAlways, false, 5},
    };
    for (const Row& row : rows) {
        os::SetLastError(kUnset);
        os::Handle file = os::CreateFileA(row.path, row.access, os::kShareRead, nullptr,
                                          row.disposition, os::kAttrNormal, nullptr);
        EXPECT_EQ(file != os::InvalidHandle(), row.ok) << row.path;
        EXPECT_EQ(os::GetLastError(), row.error) << row.path;
        if (file != os::InvalidHandle()) {
            os::CloseHandle(file);
        }
    }
    std::string content = "?";
    sim::GetFile("C:\\OLD.TXT", &content);
    EXPECT_EQ(content, "") << "CREATE_ALWAYS empties";
    // A write-protected (not CD) drive says 19.
    sim::AddDrive("A:\\", os::kDriveRemovable, 1 << 20);
    sim::SetDriveReadOnly("A:\\", true);
    EXPECT_FALSE(os::CreateDirectoryA("A:\\X", nullptr));
    EXPECT_EQ(os::GetLastError(), 19u);
}

TEST_F(Files, WritesUseUpFreeSpaceAndFailWhenItEnds) {
    sim::SetDriveFreeBytes("C:\\", 10);
    os::Handle file = os::CreateFileA("C:\\F.BIN", os::kGenericWrite, 0, nullptr, os::kCreateAlways,
                                      os::kAttrNormal, nullptr);
    os::Dword written = 0;
    EXPECT_TRUE(os::WriteFile(file, "12345678", 8, &written, nullptr));
    EXPECT_EQ(sim::DriveFreeBytes("C:\\"), 2u);
    EXPECT_FALSE(os::WriteFile(file, "abc", 3, &written, nullptr));
    EXPECT_EQ(os::GetLastError(), 112u);
    EXPECT_EQ(written, 0u);
    os::CloseHandle(file);
    std::string content;
    sim::GetFile("C:\\F.BIN", &content);
    EXPECT_EQ(content, "12345678") << "what was written stays";
    EXPECT_TRUE(os::DeleteFileA("C:\\F.BIN"));
    EXPECT_EQ(sim::DriveFreeBytes("C:\\"), 10u);
}

os::FileOperation CopyRequest(const std::string& from, const std::string& to, char* fromList,
                              char* toList) {
    memset(fromList, 0, 300);
    memset(toList, 0, 300);
    memcpy(fromList, from.c_str(), from.size());
    memcpy(toList, to.c_str(), to.size());
    os::FileOperation operation = {};
    operation.func = os::kFoCopy;
    operation.from = fromList;
    operation.to = toList;
    operation.flags = os::kFofSilent | os::kFofNoConfirmation;
    return operation;
}

TEST_F(Files, ShellCopyOverwritesAndCarriesAttributes) {
    sim::PutFile("E:\\Init\\Arrows.dll", "medium");
    sim::PutFile("C:\\STAGE\\Init\\Arrows.dll", "stale", os::kAttrReadOnly);
    char from[300];
    char to[300];
    os::FileOperation copy =
        CopyRequest("E:\\Init\\Arrows.dll", "C:\\STAGE\\Init\\Arrows.dll", from, to);
    EXPECT_EQ(os::SHFileOperationA(&copy), 0);
    std::string content;
    ASSERT_TRUE(sim::GetFile("C:\\STAGE\\Init\\Arrows.dll", &content));
    EXPECT_EQ(content, "medium");
    EXPECT_EQ(sim::Attributes("C:\\STAGE\\Init\\Arrows.dll"), os::kAttrReadOnly | os::kAttrArchive);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    // A missing destination directory is created.
    copy = CopyRequest("E:\\Init\\Arrows.dll", "C:\\NEW\\DIR\\Arrows.dll", from, to);
    EXPECT_EQ(os::SHFileOperationA(&copy), 0);
    EXPECT_TRUE(sim::FileExists("C:\\NEW\\DIR\\Arrows.dll"));
}

TEST_F(Files, ShellCopyFailuresShowTheShellsMessage) {
    sim::PutFile("E:\\Init\\Big.dll", std::string(100, 'b'));
    sim::AddDrive("D:\\", os::kDriveFixed, 10);
    sim::PutFile("C:\\USED.DLL", "u");
    sim::SetFileInUse("C:\\USED.DLL", true);
    struct Row {
        const char* from;
        const char* to;
    } rows[] = {
        {"E:\\Init\\Missing.dll", "C:\\X.DLL"},  // source missing
        {"E:\\Init\\Big.dll", "D:\\Big.dll"},    // no room
        {"E:\\Init\\Big.dll", "E:\\Copy.dll"},   // onto the CD
        {"E:\\Init\\Big.dll", "C:\\USED.DLL"},   // destination in use
    };
    for (const Row& row : rows) {
        char from[300];
        char to[300];
        os::FileOperation copy = CopyRequest(row.from, row.to, from, to);
        size_t boxes = sim::MessageBoxes().size();
        EXPECT_NE(os::SHFileOperationA(&copy), 0) << row.to;
        ASSERT_EQ(sim::MessageBoxes().size(), boxes + 1) << row.to;
        EXPECT_EQ(sim::MessageBoxes().back().caption, "Error Copying File or Folder");
        // With FOF_NOERRORUI the shell keeps quiet.
        copy.flags |= os::kFofNoErrorUi;
        EXPECT_NE(os::SHFileOperationA(&copy), 0) << row.to;
        EXPECT_EQ(sim::MessageBoxes().size(), boxes + 1) << row.to;
    }
    EXPECT_FALSE(sim::FileExists("D:\\Big.dll"));
    std::string content;
    sim::GetFile("C:\\USED.DLL", &content);
    EXPECT_EQ(content, "u");
}

TEST_F(Files, FullPathNamesAreLexical) {
    struct Row {
        const char* path;
        const char* full;
        const char* filePart;  // nullptr: none
    } rows[] = {
        {"x.txt", "C:\\WINDOWS\\x.txt", "x.txt"},
        {"..\\a\\.\\b", "C:\\a\\b", "b"},
        {"\\top", "C:\\top", "top"},
        {"D:rel", "D:\\rel", "rel"},           // another drive: its root
        {"C:sub", "C:\\WINDOWS\\sub", "sub"},  // the current drive: its directory
        {"C:\\a\\", "C:\\a\\", nullptr},
        {"c:/a/b", "C:\\a\\b", "b"},
        {"C:\\..\\..", "C:\\", nullptr},
    };
    for (const Row& row : rows) {
        char buffer[300];
        char* filePart = reinterpret_cast<char*>(1);
        os::Dword length = os::GetFullPathNameA(row.path, sizeof buffer, buffer, &filePart);
        EXPECT_EQ(std::string(buffer, length), row.full) << row.path;
        if (row.filePart == nullptr) {
            EXPECT_EQ(filePart, nullptr) << row.path;
        } else {
            EXPECT_STREQ(filePart, row.filePart) << row.path;
        }
    }
}

TEST_F(Files, SnapshotsListTreesInStoredSpelling) {
    sim::Reset();
    sim::AddDrive("c:\\", os::kDriveFixed, 0);
    sim::PutFile("C:\\Dir\\Sub\\File.txt", "content", os::kAttrHidden);
    std::vector<sim::Entry> entries = sim::Snapshot("C:\\DIR");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, "C:\\Dir\\Sub\\");
    EXPECT_TRUE(entries[0].directory);
    EXPECT_EQ(entries[1].path, "C:\\Dir\\Sub\\File.txt");
    EXPECT_EQ(entries[1].attributes, os::kAttrHidden);
    EXPECT_EQ(entries[1].content, "content");
    EXPECT_EQ(sim::SnapshotAll().size(), 3u);
}

}  // namespace
