// The CRC-32 of output blocks: the folding routine against the byte-wise walk
// of crcTable, at every length and alignment around its lane boundaries.
#include "extract/extract.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

uint32_t TableWalk(uint32_t crc, const uint8_t *bytes, size_t count) {
    for (size_t i = 0; i < count; i++)
        crc = session.crcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

class CrcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BuildCrcTable();
        std::mt19937 random(20261211);
        data.resize(70000);
        for (uint8_t &byte : data)
            byte = static_cast<uint8_t>(random());
    }
    std::vector<uint8_t> data;
};

TEST_F(CrcTest, CheckValueOfTheStandardString) {
    const char *text = "123456789";
    EXPECT_EQ(~CrcFold(0xFFFFFFFFu, reinterpret_cast<const uint8_t *>(text), 9), 0xCBF43926u);
    std::string longer(1000, 'a');
    const uint8_t *bytes = reinterpret_cast<const uint8_t *>(longer.data());
    EXPECT_EQ(CrcFold(0xFFFFFFFFu, bytes, 1000), TableWalk(0xFFFFFFFFu, bytes, 1000));
}

TEST_F(CrcTest, EveryLengthAndAlignmentMatchesTheTableWalk) {
    std::vector<uint32_t> lengths;
    for (uint32_t n = 0; n <= 300; n++)
        lengths.push_back(n);
    for (uint32_t n : {1023u, 2048u, 2049u, 4095u, 32768u, 65536u + 77u})
        lengths.push_back(n);
    const uint32_t registers[] = {0xFFFFFFFFu, 0u, 0x12345678u};
    for (uint32_t length : lengths) {
        for (uint32_t offset = 0; offset < 16; offset++) {
            const uint8_t *bytes = data.data() + offset;
            for (uint32_t crc : registers)
                ASSERT_EQ(CrcFold(crc, bytes, length), TableWalk(crc, bytes, length))
                    << "length " << length << ", offset " << offset << ", register " << crc;
        }
    }
}

TEST_F(CrcTest, UpdateCrcCarriesTheRegisterAcrossPieces) {
    // The output goes out in pieces of any size; the sum must not depend on
    // where they are cut.
    const uint32_t whole = TableWalk(0xFFFFFFFFu, data.data(), data.size());
    for (uint32_t piece : {1u, 15u, 64u, 100u, 2048u, 5000u}) {
        session.runningCrc = 0xFFFFFFFFu;
        for (size_t at = 0; at < data.size(); at += piece)
            UpdateCrc(data.data() + at,
                      static_cast<uint32_t>(std::min<size_t>(piece, data.size() - at)));
        EXPECT_EQ(session.runningCrc, whole) << "pieces of " << piece;
    }
}

} // namespace
