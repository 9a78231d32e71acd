// Whether a path names a directory itself, and no link: both programs leave alone a staging
// directory that another user may have replaced with a junction or symbolic link.
#pragma once

// True when `path` is a directory whose attributes say it is no reparse point. Windows reports
// a link as itself at the last name of a path, so the answer is about that name, not about
// what a link there would name. False when the attributes cannot be read.
bool IsPlainDirectory(const char* path);
