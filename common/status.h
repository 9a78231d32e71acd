// Result codes shared by both programs.
#pragma once

#include <stdint.h>

// E_FAIL: the bootstrap's failure status, and both programs' exit code when another
// stage holds the single-instance mutex.
constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);

// A status passes when it is not negative: a positive Windows error number returned in
// place of 0 (183 from CreateDirectoryPath, say) counts as success.
inline bool Succeeded(int32_t status) {
    return status >= 0;
}
