// CommandLineTail: what a program takes as its argument from its command line.
#include <gtest/gtest.h>

#include <string>

#include "common/command_line.h"

namespace {

TEST(CommandLineTail, SkipsTheProgramNameAndTheBlanksAfterIt) {
    struct Row {
        const char* line;
        const char* tail;
    } rows[] = {
        {"C:\\T\\Init\\_zorp.ex_ E:\\Init", "E:\\Init"},               // setup's hand-off
        {"\"C:\\My Dir\\a.exe\" E:\\Init", "E:\\Init"},                // quoted name with a blank
        {"\"C:\\My Dir\\a.exe\"E:\\x", "E:\\x"},                       // nothing between
        {"a.exe \t  tail", "tail"},                                    // blanks and a tab
        {"a.exe\ttail", "tail"},                                       // a tab ends the name
        {"a.exe", ""},                                                 // no tail
        {"a.exe   ", ""},                                              // only blanks after it
        {"a.exe E:\\Source Dir\\Init  x", "E:\\Source Dir\\Init  x"},  // blanks inside kept
        {"C:\\My Temp\\a.exe E:\\Init", "Temp\\a.exe E:\\Init"},       // unquoted blank ends it
        {"\"C:\\unclosed a.exe tail", ""},                             // unclosed quote: all name
        {"\"\" tail", "tail"},                                         // empty quoted name
        {"", ""},                                                      // empty line
        {" tail", "tail"},                                             // empty unquoted name
    };
    for (const Row& row : rows) {
        const char* tail = CommandLineTail(row.line);
        EXPECT_STREQ(tail, row.tail) << row.line;
        // The tail points into the line, never at a copy.
        EXPECT_GE(tail, row.line);
        EXPECT_LE(tail, row.line + std::string(row.line).size());
    }
}

}  // namespace
