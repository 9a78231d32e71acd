// The command-line tail: what follows the program name on a Windows command line.
#pragma once

// Skips the program name (a name in quotes ends at its closing quote, any other at the first
// blank or control character), then the blanks and control characters after it, and returns
// a pointer into `commandLine` at the first character of the tail (at its NUL when the tail
// is empty). An unclosed quote takes the rest of the line as the name.
const char* CommandLineTail(const char* commandLine);
