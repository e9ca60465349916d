#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "peloader/program.h"

using namespace peloader;

namespace {

// The published self-test of MurmurHash3: hash keys {0}, {0,1}, ... of
// lengths 0 to 255 with seed 256 - length, then hash the concatenated
// digests with seed 0; the low 32 bits of that, little-endian, are fixed.
TEST(MurmurDigest, MatchesPublishedVerificationValue) {
    std::vector<uint8_t> key(256);
    std::vector<uint8_t> digests(256 * 16);
    for (uint32_t length = 0; length < 256; ++length) {
        key[length] = uint8_t(length);
        auto digest = murmurHash3x64_128({key.data(), length}, 256 - length);
        std::copy(digest.begin(), digest.end(), digests.begin() + 16 * length);
    }
    auto final = murmurHash3x64_128(digests, 0);
    uint32_t verification = uint32_t(final[0]) | uint32_t(final[1]) << 8 |
                            uint32_t(final[2]) << 16 | uint32_t(final[3]) << 24;
    EXPECT_EQ(verification, 0x6384BA69u);
}

TEST(MurmurDigest, IsSeedZero) {
    const std::vector<uint8_t> bytes = {'Q', 'u', 'o', 'r', 'l', 'e', 'n'};
    EXPECT_EQ(murmurDigest(bytes), murmurHash3x64_128(bytes, 0));
    EXPECT_NE(murmurDigest(bytes), murmurHash3x64_128(bytes, 1));
}

TEST(MurmurDigest, EmptyInputGivesZeroDigits) {
    EXPECT_EQ(toLowerHex(murmurDigest({})), std::string(32, '0'));
}

TEST(ToLowerHex, WritesBytesInOrderHighNibbleFirst) {
    std::array<uint8_t, 16> digest = {0x01, 0xAB, 0xF0, 0x0F, 0x9C, 0, 0, 0,
                                      0,    0,    0,    0,    0,    0, 0, 0xFF};
    EXPECT_EQ(toLowerHex(digest), "01abf00f9c00000000000000000000ff");
}

TEST(MakeSection, FillsExactlyVirtualSizeBytes) {
    const std::vector<uint8_t> raw = {1, 2, 3, 4};
    struct Case {
        uint32_t virtualSize;
        std::vector<uint8_t> data;
    } cases[] = {
        {6, {1, 2, 3, 4, 0, 0}},  // shorter raw: zeros after it
        {4, {1, 2, 3, 4}},
        {2, {1, 2}},  // longer raw: cut to VirtualSize
        {0, {}},
    };
    for (const Case& c : cases) {
        Section section = makeSection(0x401000, c.virtualSize, raw, true);
        EXPECT_EQ(section.data, c.data) << "VirtualSize " << c.virtualSize;
        EXPECT_EQ(section.address, 0x401000u);
        EXPECT_TRUE(section.isCode);
    }
}

}  // namespace
