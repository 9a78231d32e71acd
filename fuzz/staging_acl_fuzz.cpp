// Fuzzes the judgement of a directory's security descriptor, as Windows hands it over, and the
// private descriptor setup builds for a user it reads from the token.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "bootstrap/staging_acl.h"

namespace {

const AclRule kRules[] = {
    {0, 0},                                   // the owner alone
    {kRightDeleteChild | kRightWriteDac, 0},  // a drive root's right over its TEMP
    {kChangingRights, kChangingRights},       // a private directory
};

}  // namespace

// The input: one byte that says how much of the rest is the user's SID, then the SID, then
// the descriptor. Each goes into a buffer of its own exact size, so a read past either shows.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    size_t sidSize = data[0] % 72;
    if (sidSize > size - 1) {
        return 0;
    }
    std::vector<unsigned char> sid(data + 1, data + 1 + sidSize);
    std::vector<unsigned char> descriptor(data + 1 + sidSize, data + size);
    const unsigned char* user =
        sidSize > 0 && SidSize(sid.data(), sid.size()) > 0 ? sid.data() : nullptr;

    // Forbidding more never lets more through.
    bool before = true;
    for (const AclRule& rule : kRules) {
        bool kept = KeepsOthersOut(descriptor.data(), descriptor.size(), user, rule);
        if (kept && !before) {
            abort();
        }
        before = kept;
    }

    // What setup makes for a user keeps everyone else out, once Windows has made that user its
    // owner, as it does for what the user creates.
    if (user != nullptr) {
        std::vector<unsigned char> made(kPrivateDescriptorCapacity);
        size_t madeSize = BuildPrivateDescriptor(user, made.data(), made.size());
        if (madeSize == 0 || madeSize > made.size() || made[4] != 0 || made[5] != 0) {
            abort();
        }
        made.resize(madeSize);
        made.insert(made.end(), sid.begin(), sid.begin() + SidSize(sid.data(), sid.size()));
        made[4] = static_cast<unsigned char>(madeSize);
        if (!KeepsOthersOut(made.data(), made.size(), user, kRules[2])) {
            abort();
        }
    }
    return 0;
}
