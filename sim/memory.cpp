// Memory: the process heap's blocks, by the process that allocated them.
#include <stdlib.h>
#include <string.h>

#include "common/platform.h"
#include "sim/machine.h"
#include "sim/model.h"

namespace sim {

using namespace model;

int LiveHeapBlocks() {
    return static_cast<int>(M().heapBlocks.size());
}

}  // namespace sim

using namespace sim::model;

namespace os {

void* HeapAlloc(size_t bytes) {
    if (Enter("HeapAlloc", nullptr)) {
        return nullptr;
    }
    void* block = malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        SetError(kErrorNotEnoughMemory);
        return nullptr;
    }
    // Not zeroed, like the real heap: a pattern makes reliance on zeroed memory show.
    memset(block, 0xCD, bytes == 0 ? 1 : bytes);
    M().heapBlocks[block] = Current().id;
    return block;
}

void HeapFree(void* block) {
    Log("HeapFree", "");
    auto it = M().heapBlocks.find(block);
    if (it != M().heapBlocks.end()) {
        free(block);
        M().heapBlocks.erase(it);
    }
}

}  // namespace os
