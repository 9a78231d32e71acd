#include "common/plain_directory.h"

#include "common/platform.h"

bool IsPlainDirectory(const char* path) {
    os::Dword attributes = os::GetFileAttributesA(path);
    return attributes != os::kInvalidFileAttributes && (attributes & os::kAttrDirectory) != 0 &&
           (attributes & os::kAttrReparsePoint) == 0;
}
