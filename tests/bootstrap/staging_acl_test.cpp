// The private descriptor setup gives the directories it creates, byte for byte as Windows
// reads a self-relative descriptor (winnt.h): Windows refuses one that is not whole, and an
// entry without its inheritance flags would leave what is created below to its parent's.
#include <gtest/gtest.h>

#include <vector>

#include "bootstrap/staging_acl.h"

namespace {

TEST(StagingAcl, ThePrivateDescriptorIsLaidOutAsWindowsReadsIt) {
    // S-1-5-21-1-2-3-1000
    const unsigned char user[] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 0,
                                  0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 0xE8, 3, 0, 0};
    const std::vector<unsigned char> expected = {
        // revision 1; SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_SELF_RELATIVE; no owner, group
        // or SACL; the DACL at 20
        1, 0, 0x04, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
        // ACL_REVISION, size 88, 3 entries
        2, 0, 88, 0, 3, 0, 0, 0,
        // allowed, inherited by files and folders, 20 bytes, FILE_ALL_ACCESS, S-1-5-18
        0, 3, 20, 0, 0xFF, 0x01, 0x1F, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,
        // the same for S-1-5-32-544
        0, 3, 24, 0, 0xFF, 0x01, 0x1F, 0, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0,
        // and for the user
        0, 3, 36, 0, 0xFF, 0x01, 0x1F, 0, 1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0,
        0, 3, 0, 0, 0, 0xE8, 3, 0, 0};
    std::vector<unsigned char> made(kPrivateDescriptorCapacity);
    made.resize(BuildPrivateDescriptor(user, made.data(), made.size()));
    EXPECT_EQ(made, expected);
    // One byte too few: nothing is written halfway.
    std::vector<unsigned char> small(expected.size() - 1, 0xAA);
    EXPECT_EQ(BuildPrivateDescriptor(user, small.data(), small.size()), 0u);
    EXPECT_EQ(small, std::vector<unsigned char>(expected.size() - 1, 0xAA));
}

}  // namespace
