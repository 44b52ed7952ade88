// FileReader, positioned views and archive integers over real files.
#include <gtest/gtest.h>

#include <random>

#include "readers/archive_integer.h"
#include "readers/file_reader.h"
#include "tests/support/temp_dir.h"

using kiv::FileReader;
using kiv::Reader;
using kiv::ReaderError;
using kivtest::TempDir;

namespace {

std::vector<uint8_t> counting(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
    return v;
}

struct FileFixture : ::testing::Test {
    TempDir dir;
    std::string make(const std::vector<uint8_t>& bytes) {
        const std::string p = dir.file("f" + std::to_string(count++));
        kivtest::writeFile(p, bytes);
        return p;
    }
    int count = 0;
};

uint64_t decode(FileFixture& fx, const std::vector<uint8_t>& bytes, int64_t* consumed = nullptr) {
    FileReader r(fx.make(bytes).c_str());
    const uint64_t v = r.readNumber();
    if (consumed) *consumed = r.tell();
    return v;
}

}  // namespace

TEST_F(FileFixture, ArchiveIntegerWidthsAndOverflow) {
    int64_t used = 0;
    EXPECT_EQ(300u, decode(*this, {0x80, 0, 0, 0x01, 0x2C}, &used));
    EXPECT_EQ(5, used);
    EXPECT_EQ(4294967296u, decode(*this, {0x40, 0, 0, 0, 1, 0, 0, 0, 0}, &used));
    EXPECT_EQ(9, used);
    // Only the top one-bit of the width byte counts.
    EXPECT_EQ(7u, decode(*this, {0xC5, 0, 0, 0, 7}));

    // 00 80: 36 value bytes; the earlier ones are shifted out.
    std::vector<uint8_t> wide = {0x00, 0x80};
    for (int i = 0; i < 36; ++i) wide.push_back(static_cast<uint8_t>(i + 1));
    EXPECT_EQ(0x1D1E1F2021222324u, decode(*this, wide, &used));
    EXPECT_EQ(38, used);

    std::vector<uint8_t> thirtyTwo = {0x01};
    thirtyTwo.resize(33, 0xAB);
    decode(*this, thirtyTwo, &used);
    EXPECT_EQ(33, used);
}

TEST_F(FileFixture, ArchiveIntegerZeroRunIsBounded) {
    // A run of zero bytes longer than any real prefix stops the decoding
    // instead of announcing kilobytes of value bytes.
    std::vector<uint8_t> zeros(1000, 0);
    int64_t used = 0;
    EXPECT_EQ(0u, decode(*this, zeros, &used));
    EXPECT_EQ(static_cast<int64_t>(kiv::kMaxNumberZeroPrefix) + 1, used);
}

TEST_F(FileFixture, FixedWidthReadsAndEndOfFile) {
    FileReader r(make({0x00, 0x00, 0x00, 0x7B, 0xFF, 0xFE, 0x80, 0x12}).c_str());
    EXPECT_EQ(123, r.readInt());
    EXPECT_EQ(-2, r.readShort());
    EXPECT_EQ(-128, r.readChar());
    // Only one byte left: the missing low byte reads as zero.
    EXPECT_EQ(0x1200, r.readShort());
    EXPECT_EQ(-1, r.readChar());
    EXPECT_EQ(0, r.read(nullptr, 0));
    char b[4];
    EXPECT_EQ(0, r.read(b, 4));
    EXPECT_EQ(8, r.tell());
}

TEST_F(FileFixture, SeekTellAndBackwardReads) {
    FileReader r(make(counting(100)).c_str());
    EXPECT_EQ(0, r.seek(-4, 2));
    EXPECT_EQ(96, r.tell());
    r.seek(5, 0);
    r.seek(3, 1);
    EXPECT_EQ(8, r.tell());
    EXPECT_NE(0, r.seek(-1, 0));
    EXPECT_NE(0, r.seek(0, 7));
    EXPECT_EQ(8, r.tell());

    r.seek(10, 0);
    EXPECT_EQ(9, r.readCharBackward());
    EXPECT_EQ(9, r.tell());
    EXPECT_EQ(8, r.readCharBackward());
    EXPECT_EQ(8, r.tell());
    // At the start the step back fails: byte 0 again, position stays.
    r.seek(0, 0);
    EXPECT_EQ(0, r.readCharBackward());
    EXPECT_EQ(0, r.tell());
}

TEST_F(FileFixture, BackwardScanAcrossBlocksMatchesForwardBytes) {
    const auto data = counting(300 * 1024);
    FileReader r(make(data).c_str());
    r.seek(0, 2);
    for (size_t i = data.size(); i-- > data.size() - 140000;)
        ASSERT_EQ(static_cast<signed char>(data[i]), r.readCharBackward()) << i;
}

TEST_F(FileFixture, Strings) {
    FileReader r(make({'a', 'b', 0, 'c'}).c_str());
    EXPECT_EQ("ab", r.readString());
    EXPECT_EQ(3, r.tell());
    // No terminator before the end: the bytes read so far.
    EXPECT_EQ("c", r.readString());
    EXPECT_EQ("", r.readString());

    // A huge name keeps 4 KiB but is consumed whole.
    std::vector<uint8_t> big(200000, 'n');
    big.push_back(0);
    big.push_back('z');
    FileReader h(make(big).c_str());
    EXPECT_EQ(kiv::kMaxStringBytes, h.readString().size());
    EXPECT_EQ('z', h.readChar());
}

TEST_F(FileFixture, ReadsAtAwkwardSizesAndPositions) {
    const auto data = counting(200 * 1024 + 17);
    FileReader r(make(data).c_str());
    std::mt19937 rng(7);
    std::vector<uint8_t> buf(150000);
    for (int i = 0; i < 300; ++i) {
        const int64_t pos = rng() % data.size();
        const int len = static_cast<int>(rng() % (i % 3 == 0 ? 150000 : 9)) + 1;
        r.seek(pos, 0);
        const int n = r.read(buf.data(), len);
        ASSERT_EQ(std::min<int64_t>(len, static_cast<int64_t>(data.size()) - pos), n);
        ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + n, data.begin() + pos));
        ASSERT_EQ(pos + n, r.tell());
    }
}

TEST_F(FileFixture, InterleavedViewsKeepTheirOwnPositions) {
    FileReader file(make(counting(100)).c_str());
    Reader a(&file, 0), b(&file, 50);
    uint8_t x[4];
    a.read(x, 4);
    EXPECT_EQ(0, x[0]);
    b.read(x, 4);
    EXPECT_EQ(50, x[0]);
    a.read(x, 4);
    EXPECT_EQ(4, x[0]);
    EXPECT_EQ(8, a.tell());
    EXPECT_EQ(54, b.tell());
    EXPECT_EQ(8, a.readChar());
    EXPECT_EQ(54, b.readChar());
    // Relative seeks are relative to the view's own position.
    a.seek(10, 1);
    EXPECT_EQ(19, a.readChar());
    {
        Reader gone(&file, 3);
        gone.readChar();
    }
    EXPECT_EQ(20, a.readChar());  // destroying a view leaves the source usable
}

TEST_F(FileFixture, ConstructionFailures) {
    try {
        FileReader r(dir.file("missing").c_str());
        FAIL();
    } catch (const ReaderError& e) {
        EXPECT_STREQ("File not found", e.what());
    }
    try {
        Reader v(nullptr, 0);
        FAIL();
    } catch (const ReaderError& e) {
        EXPECT_STREQ("Passed NULL reader!", e.what());
    }
}

TEST_F(FileFixture, ViewAtAnImpossiblePositionReadsNothing) {
    FileReader file(make(counting(64)).c_str());
    file.seek(20, 0);
    Reader far(&file, INT64_MIN);
    uint8_t b[8];
    EXPECT_EQ(0, far.read(b, 8));
    EXPECT_EQ(-1, far.readChar());
}

// Found by fuzzing: positions at the top of the range overflowed in the
// two-byte read and in relative seeks. A crafted catalogue offset puts a
// view there.
TEST_F(FileFixture, PositionsAtTheTopOfTheRange) {
    FileReader file(make(counting(64)).c_str());
    ASSERT_EQ(0, file.seek(INT64_MAX, 0));
    EXPECT_EQ(0, file.readShort());
    EXPECT_EQ(-1, file.seek(1, 1));
    EXPECT_EQ(-1, file.seek(INT64_MAX, 2));
    EXPECT_EQ(INT64_MAX, file.tell());
    Reader top(&file, INT64_MAX);
    EXPECT_EQ(0, top.readShort());
    EXPECT_EQ(-1, top.readChar());
    EXPECT_EQ(-1, top.seek(5, 1));
    EXPECT_EQ(0, file.seek(-INT64_MAX, 1));
    EXPECT_EQ(0, file.tell());
}

TEST_F(FileFixture, ArchiveIntegersAcrossBlockBoundaries) {
    // Many numbers of mixed widths, so some straddle the reader's blocks.
    std::mt19937_64 rng(99);
    std::vector<uint8_t> bytes;
    std::vector<uint64_t> values;
    while (bytes.size() < 300000) {
        const unsigned width = 4u << (rng() % 3);  // 4, 8 or 16 value bytes
        const uint64_t v = width == 4 ? rng() & 0xFFFFFFFFu : rng();
        const bool zeroPrefix = rng() % 7 == 0;  // 00 80: 36 value bytes
        if (zeroPrefix) bytes.push_back(0x00);
        const unsigned n = zeroPrefix ? 36 : width;
        bytes.push_back(zeroPrefix ? 0x80 : static_cast<uint8_t>(0x80 >> (width / 4 - 1) | (rng() % 2)));
        for (unsigned i = n; i-- > 0;) bytes.push_back(i < 8 ? static_cast<uint8_t>(v >> (8 * i)) : 0xEE);
        values.push_back(n == 4 ? v & 0xFFFFFFFFu : v);
    }
    FileReader r(make(bytes).c_str());
    for (size_t i = 0; i < values.size(); ++i) ASSERT_EQ(values[i], r.readNumber()) << i;
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), r.tell());
}
