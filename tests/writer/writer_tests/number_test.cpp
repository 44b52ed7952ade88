// Archive integers and the entry checksum, against the worked values of the
// format and against the reading rule.
#include <gtest/gtest.h>

#include "tests/writer/archive_writer.h"
#include "tests/writer/writer_tests/decode.h"

using kivtest::Bytes;
using kivtest::encodeNumber;

TEST(EncodeNumber, KnownEncodings) {
    EXPECT_EQ(encodeNumber(300), (Bytes{0x80, 0x00, 0x00, 0x01, 0x2C}));
    EXPECT_EQ(encodeNumber(uint64_t(1) << 32, 8),
              (Bytes{0x40, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(encodeNumber(7, 4, 0x45), (Bytes{0xC5, 0x00, 0x00, 0x00, 0x07}));

    const Bytes twelve = encodeNumber(0x0102030405060708ull, 12);
    ASSERT_EQ(twelve.size(), 13u);
    EXPECT_EQ(twelve[0], 0x20);
    EXPECT_EQ(Bytes(twelve.begin() + 1, twelve.begin() + 5), Bytes(4, 0x00));
    EXPECT_EQ(twelve[5], 0x01);
    EXPECT_EQ(twelve[12], 0x08);

    const Bytes thirtyTwo = encodeNumber(9, 32);
    ASSERT_EQ(thirtyTwo.size(), 33u);
    EXPECT_EQ(thirtyTwo[0], 0x01);
    EXPECT_EQ(thirtyTwo.back(), 9);

    // 36 value bytes need a 00 before the width byte.
    const Bytes thirtySix = encodeNumber(0xABCD, 36);
    ASSERT_EQ(thirtySix.size(), 38u);
    EXPECT_EQ(thirtySix[0], 0x00);
    EXPECT_EQ(thirtySix[1], 0x80);
    EXPECT_EQ(thirtySix[36], 0xAB);
    EXPECT_EQ(thirtySix[37], 0xCD);
}

TEST(EncodeNumber, EveryWidthDecodesBackToItsValue) {
    const uint64_t values[] = {0, 1, 0xFF, 0xFFFFFFFFull, 0x100000000ull, ~uint64_t(0)};
    for (unsigned width = 4; width <= 80; width += 4) {
        for (uint64_t v : values) {
            if (width < 8 && v > 0xFFFFFFFFull)
                continue;
            const Bytes b = encodeNumber(v, width);
            size_t pos = 0;
            EXPECT_EQ(kivcheck::decodeNumber(b, pos), v) << "width " << width;
            EXPECT_EQ(pos, b.size()) << "width " << width;
            EXPECT_EQ(b.size(), width + 1 + (width / 4 - 1) / 8) << "width " << width;
        }
    }
}

TEST(EncodeNumber, ExtraLowBitsAreIgnoredByTheRule) {
    // Below the width bit only: 0x40 announces 8 bytes, so 0x3F may be added.
    const Bytes b = encodeNumber(0x1234, 8, 0x3F);
    EXPECT_EQ(b[0], 0x7F);
    size_t pos = 0;
    EXPECT_EQ(kivcheck::decodeNumber(b, pos), 0x1234u);
    EXPECT_EQ(pos, 9u);
}

TEST(EncodeNumber, RefusesWhatItCannotEncode) {
    EXPECT_THROW(encodeNumber(1, 0), std::invalid_argument);
    EXPECT_THROW(encodeNumber(1, 6), std::invalid_argument);
    EXPECT_THROW(encodeNumber(uint64_t(1) << 32, 4), std::invalid_argument);
    EXPECT_THROW(encodeNumber(1, 8, 0x40), std::invalid_argument);  // would change the width
    EXPECT_THROW(encodeNumber(1, 32, 0x01), std::invalid_argument);  // 0x01 has no low bits
}

TEST(Checksum, XorOfEvenAndOddPositions) {
    EXPECT_EQ(kivtest::checksum(kivtest::toBytes("abc")), 0x0262);
    EXPECT_EQ(kivtest::checksum({}), 0x0000);
    EXPECT_EQ(kivtest::checksum({0xFF}), 0xFF00);
    // Equal bytes on the same parity cancel out.
    EXPECT_EQ(kivtest::checksum({0x12, 0x34, 0x12, 0x34}), 0x0000);
    EXPECT_EQ(kivtest::checksum({0x12, 0x34, 0x56}), (0x12 ^ 0x56) << 8 | 0x34);
}
