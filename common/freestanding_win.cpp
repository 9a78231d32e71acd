// The memory functions that GCC may call on its own (to zero or copy a record, say) even in
// code that never names them. Without a C runtime nothing else provides them.
//
// Plain byte loops where the buffers are small (-fno-tree-loop-distribute-patterns keeps GCC
// from turning them back into calls to themselves); memcpy also copies the WinInit.ini list.
#include <stddef.h>

extern "C" {

void* memset(void* dst, int value, size_t bytes) {
    unsigned char* d = static_cast<unsigned char*>(dst);
    for (size_t i = 0; i < bytes; ++i) {
        d[i] = static_cast<unsigned char>(value);
    }
    return dst;
}

// rep movsb: the processor copies in whole cache lines where it can (fast strings, P6 and
// later), which matters for WinInit.ini's 64 KiB pieces; still a correct byte copy anywhere.
// The Windows calling convention guarantees the direction flag clear on entry.
void* memcpy(void* dst, const void* src, size_t bytes) {
    void* d = dst;
    __asm__ volatile("rep movsb" : "+D"(d), "+S"(src), "+c"(bytes) : : "memory");
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
