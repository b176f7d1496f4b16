// Block decryption against the byte-at-a-time key stream it is built from:
// the same plain bytes and the same keys afterwards, across block cuts.
#include "extract/extract.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

TEST(DecryptBlock, MatchesTheByteWiseKeyStreamAcrossBlockCuts) {
    BuildCrcTable();
    std::mt19937 random(61211);
    std::vector<uint8_t> cipher(10000);
    for (uint8_t &byte : cipher)
        byte = static_cast<uint8_t>(random());

    InitKeys("Morvik-bench-7");
    std::vector<uint8_t> expected(cipher);
    for (uint8_t &byte : expected) {
        byte ^= DecryptByte();
        UpdateKeys(byte);
    }
    const uint32_t keysAfter[3] = {session.keys[0], session.keys[1], session.keys[2]};

    for (uint32_t cut : {1u, 7u, 2048u, 10000u}) {
        InitKeys("Morvik-bench-7");
        std::vector<uint8_t> block(cipher);
        for (uint32_t at = 0; at < block.size(); at += cut)
            DecryptBlock(block.data() + at, std::min<uint32_t>(cut, uint32_t(block.size()) - at));
        EXPECT_EQ(block, expected) << "blocks of " << cut;
        EXPECT_EQ(session.keys[0], keysAfter[0]);
        EXPECT_EQ(session.keys[1], keysAfter[1]);
        EXPECT_EQ(session.keys[2], keysAfter[2]);
    }
}

} // namespace
