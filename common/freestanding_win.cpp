// The memory functions that GCC may call on its own (to zero or copy a record, say) even in
// code that never names them. Without a C runtime nothing else provides them.
//
// Plain byte loops: the buffers are small, and -fno-tree-loop-distribute-patterns keeps GCC
// from turning these loops back into calls to themselves.
#include <stddef.h>

extern "C" {

void* memset(void* dst, int value, size_t bytes) {
    unsigned char* d = static_cast<unsigned char*>(dst);
    for (size_t i = 0; i < bytes; ++i) {
        d[i] = static_cast<unsigned char>(value);
    }
    return dst;
}

void* memcpy(void* dst, const void* src, size_t bytes) {
    unsigned char* d = static_cast<unsigned char*>(dst);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    for (size_t i = 0; i < bytes; ++i) {
        d[i] = s[i];
    }
    return dst;
}

void* memmove(void* dst, const void* src, size_t bytes) {
    unsigned char* d = static_cast<unsigned char*>(dst);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    if (d < s) {
        for (size_t i = 0; i < bytes; ++i) {
            d[i] = s[i];
        }
    } else {
        // Overlapping with the destination above the source: copy from the end.
        for (size_t i = bytes; i > 0; --i) {
            d[i - 1] = s[i - 1];
        }
    }
    return dst;
}

int memcmp(const void* a, const void* b, size_t bytes) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < bytes; ++i) {
        if (x[i] != y[i]) {
            return x[i] < y[i] ? -1 : 1;
        }
    }
    return 0;
}

}  // extern "C"
