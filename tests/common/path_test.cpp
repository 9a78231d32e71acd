// The bounded text helpers: a result that does not fit leaves the buffer exactly as it was.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "common/path.h"

namespace {

const char kFill = '#';

// A buffer of `capacity` characters plus guard bytes, all set to kFill.
struct Guarded {
    char bytes[64];
    Guarded() { memset(bytes, kFill, sizeof bytes); }
    bool UntouchedFrom(size_t from) const {
        for (size_t i = from; i < sizeof bytes; ++i) {
            if (bytes[i] != kFill) {
                return false;
            }
        }
        return true;
    }
};

TEST(CopyText, FitsUpToCapacityLessOneAndLeavesTheBufferOtherwise) {
    const size_t capacity = 8;
    struct Row {
        const char* source;
        bool fits;
    } rows[] = {
        {"", true},            // only the NUL
        {"abcdef", true},      // capacity - 2
        {"abcdefg", true},     // capacity - 1: the NUL takes the last byte
        {"abcdefgh", false},   // capacity: no room for the NUL
        {"abcdefghi", false},  // capacity + 1
    };
    for (const Row& row : rows) {
        Guarded buffer;
        EXPECT_EQ(CopyText(buffer.bytes, capacity, row.source), row.fits) << row.source;
        if (row.fits) {
            EXPECT_STREQ(buffer.bytes, row.source);
            EXPECT_TRUE(buffer.UntouchedFrom(strlen(row.source) + 1)) << row.source;
        } else {
            EXPECT_TRUE(buffer.UntouchedFrom(0)) << row.source;
        }
    }
}

TEST(AppendText, FitsUpToCapacityLessOneAndLeavesTheBufferOtherwise) {
    const size_t capacity = 8;
    struct Row {
        const char* start;
        const char* tail;
        bool fits;
    } rows[] = {
        {"abc", "", true},         // nothing to add
        {"abc", "defg", true},     // 7 characters: capacity - 1
        {"abc", "defgh", false},   // 8: capacity
        {"abc", "defghi", false},  // 9: capacity + 1
        {"", "abcdefg", true},     // into an empty buffer
    };
    for (const Row& row : rows) {
        Guarded buffer;
        strcpy(buffer.bytes, row.start);
        EXPECT_EQ(AppendText(buffer.bytes, capacity, row.tail), row.fits) << row.tail;
        std::string expected = row.fits ? std::string(row.start) + row.tail : row.start;
        EXPECT_STREQ(buffer.bytes, expected.c_str());
        EXPECT_TRUE(buffer.UntouchedFrom(expected.size() + 1)) << row.tail;
    }
}

TEST(AppendText, RefusesABufferWithoutNulInsideItsCapacity) {
    Guarded buffer;  // no NUL anywhere
    EXPECT_FALSE(AppendText(buffer.bytes, 8, "x"));
    EXPECT_TRUE(buffer.UntouchedFrom(0));
}

TEST(CopyText, ArrayOverloadUsesTheArraySize) {
    PathBuffer path;
    std::string longest(kMaxPath - 1, 'a');
    EXPECT_TRUE(CopyText(path, longest.c_str()));
    EXPECT_EQ(strlen(path), kMaxPath - 1);
    std::string tooLong(kMaxPath, 'b');
    EXPECT_FALSE(CopyText(path, tooLong.c_str()));
    EXPECT_EQ(path[0], 'a');
    EXPECT_FALSE(AppendText(path, "c"));
}

TEST(StripTrailingBackslash, RemovesOneBackslashOnly) {
    struct Row {
        const char* path;
        const char* expected;
    } rows[] = {
        {"C:\\", "C:"},                  // drive root
        {"C:\\TEMP\\", "C:\\TEMP"},      // directory
        {"C:\\TEMP", "C:\\TEMP"},        // nothing to strip
        {"C:\\TEMP\\\\", "C:\\TEMP\\"},  // only one goes
        {"\\", ""},                      // the root of the current drive
        {"", ""},                        // empty stays empty
    };
    for (const Row& row : rows) {
        char buffer[32];
        strcpy(buffer, row.path);
        StripTrailingBackslash(buffer);
        EXPECT_STREQ(buffer, row.expected) << row.path;
    }
}

TEST(ZeroBytes, ClearsExactlyTheGivenBytes) {
    char buffer[8];
    memset(buffer, kFill, sizeof buffer);
    ZeroBytes(buffer + 1, 6);
    EXPECT_EQ(buffer[0], kFill);
    for (int i = 1; i < 7; ++i) {
        EXPECT_EQ(buffer[i], '\0');
    }
    EXPECT_EQ(buffer[7], kFill);
}

}  // namespace
