// ScrambleReader over hand-built scrambled files: pads, key arithmetic,
// positioning and password checks.
#include <gtest/gtest.h>

#include <memory>

#include "readers/file_reader.h"
#include "readers/scramble_reader.h"
#include "tests/support/temp_dir.h"

using kiv::FileReader;
using kiv::ScrambleReader;
using kiv::Secret;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int64_t kOrigin = 16;

Bytes plainText(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct ScrambleFixture : ::testing::Test {
    kivtest::TempDir dir;
    std::unique_ptr<FileReader> file;
    Bytes plain;  // the unscrambled bytes from the key origin on

    // 16 plain bytes, then `fromOrigin` scrambled with `password`.
    void make(const Bytes& fromOrigin, const std::string& password) {
        plain = fromOrigin;
        Bytes f(kOrigin, 0x11);
        for (size_t i = 0; i < fromOrigin.size(); ++i)
            f.push_back(static_cast<uint8_t>(fromOrigin[i] + static_cast<uint8_t>(password[i % password.size()])));
        kivtest::writeFile(dir.file("s"), f);
        file = std::make_unique<FileReader>(dir.file("s").c_str());
    }
    std::unique_ptr<ScrambleReader> open(const std::string& password, int version) {
        auto r = std::make_unique<ScrambleReader>(file.get(), Secret(password.data(), password.size()), kOrigin,
                                                  version);
        file.release();  // owned by the scramble reader now
        return r;
    }
    bool fails(const std::string& password, int version) {
        try {
            ScrambleReader r(file.get(), Secret(password.data(), password.size()), kOrigin, version);
            file.release();
            return false;
        } catch (const kiv::ReaderError& e) {
            EXPECT_STREQ("Incorrect password or corrupted archive!", e.what());
            return true;
        }
    }
};

}  // namespace

TEST_F(ScrambleFixture, SingleBytePasswordAndSingleBytePads) {
    make(cat({plainText("X"), {0, 1, 2, 0xFF}, plainText("X")}), "\x07");
    auto r = open("\x07", 6);
    EXPECT_EQ(1u, r->headPadLength());
    EXPECT_EQ(1u, r->tailPadLength());
    EXPECT_EQ(kOrigin + 1, r->tell());
    EXPECT_EQ(0, r->readChar());
    EXPECT_EQ(1, r->readChar());
    EXPECT_EQ(2, r->readChar());
    EXPECT_EQ(-1, r->readChar());
    r->seek(0, 2);
    EXPECT_EQ(kOrigin + 1 + 4, r->tell());  // the end is the start of the tail pad
}

TEST_F(ScrambleFixture, KeyRepeatsAndEveryAccessAgrees) {
    Bytes body;
    for (int i = 0; i < 200; ++i) body.push_back(static_cast<uint8_t>(i * 7));
    make(cat({plainText("X"), body, plainText("X")}), "k3y!");
    auto r = open("k3y!", 7);
    uint8_t block[10];
    r->seek(kOrigin + 5, 0);
    ASSERT_EQ(10, r->read(block, 10));
    r->seek(kOrigin + 5, 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(static_cast<int8_t>(block[i]), r->readChar());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(plain[5 + i], block[i]);

    // Absolute seek then one byte equals sequential reading.
    r->seek(kOrigin + 123, 0);
    EXPECT_EQ(static_cast<int8_t>(plain[123]), r->readChar());
    // Backward read: the byte before, unscrambled with its own key.
    r->seek(kOrigin + 50, 0);
    EXPECT_EQ(static_cast<int8_t>(plain[49]), r->readCharBackward());
    EXPECT_EQ(kOrigin + 49, r->tell());
    r->seek(-4, 2);
    EXPECT_EQ(kOrigin + 1 + 200 - 4, r->tell());
    EXPECT_EQ(static_cast<int8_t>(plain[197]), r->readChar());
    // Big-endian values through the unscrambling.
    r->seek(kOrigin + 1, 0);
    EXPECT_EQ(static_cast<int16_t>((plain[1] << 8) | plain[2]), r->readShort());
}

TEST_F(ScrambleFixture, EdgePairsBothParameterSets) {
    make(cat({plainText("><"), plainText("data"), plainText("><")}), "pw");
    auto v6 = open("pw", 6);
    EXPECT_EQ(2u, v6->headPadLength());
    EXPECT_EQ(2u, v6->tailPadLength());
    EXPECT_EQ('d', v6->readChar());

    make(cat({{0xFF, 0xFE}, plainText("data"), {0xFF, 0xFE}}), "pw");
    auto v7 = open("pw", 7);
    EXPECT_EQ(2u, v7->headPadLength());
    EXPECT_EQ('d', v7->readChar());

    // The version-6 marks mean nothing to a version-7 reader and vice versa.
    make(cat({plainText("><"), plainText("data"), plainText("><")}), "pw");
    EXPECT_TRUE(fails("pw", 7));
}

TEST_F(ScrambleFixture, DigitPadsWeighLeastSignificantFirst) {
    // Version 7: digits 5 and 1 in base 254 give 259, the whole head pad.
    Bytes head(255, 'h');
    head.insert(head.end(), {0xFF, 5, 1, 0xFE});
    ASSERT_EQ(259u, head.size());
    Bytes tail = {0xFF, 7, 0xFE};
    tail.resize(7, 't');
    make(cat({head, plainText("payload"), tail}), "secret");
    auto r = open("secret", 7);
    EXPECT_EQ(259u, r->headPadLength());
    EXPECT_EQ(7u, r->tailPadLength());
    EXPECT_EQ('p', r->readChar());
    r->seek(-1, 2);
    EXPECT_EQ('d', r->readChar());

    // Version 6: base 256 with '>' and '<'.
    Bytes h6(10, 'h');
    h6.insert(h6.end(), {'>', 13, '<'});
    Bytes t6 = {'>', 3, '<'};
    make(cat({h6, plainText("x"), t6}), "ab");
    auto r6 = open("ab", 6);
    EXPECT_EQ(13u, r6->headPadLength());
    EXPECT_EQ(3u, r6->tailPadLength());
}

TEST_F(ScrambleFixture, ZeroGroupsAreSkipped) {
    // Head: a zero group, then digit 1 weighted by R^1 (the weight carries on).
    Bytes head(20, 'h');
    head.insert(head.end(), {0xFF, 0, 0xFE});
    head.resize(254 - 3, 'g');
    head.insert(head.end(), {0xFF, 1, 0xFE});
    ASSERT_EQ(254u, head.size());
    // Tail: a real group nearer the data, a zero group at the outer side; the
    // value restarts per group.
    Bytes tail = {0xFF, 9, 0xFE, 'f', 0xFF, 0, 0xFE, 'f', 'f'};
    make(cat({head, plainText("DATA"), tail}), "zz");
    auto r = open("zz", 7);
    EXPECT_EQ(254u, r->headPadLength());
    EXPECT_EQ(9u, r->tailPadLength());
}

TEST_F(ScrambleFixture, MalformedPadsAndWrongPasswords) {
    // Five digits between the marks.
    Bytes head = {'h', 0xFF, 1, 1, 1, 1, 1, 0xFE};
    make(cat({head, plainText("d"), plainText("X")}), "pw");
    EXPECT_TRUE(fails("pw", 7));
    // A pair away from the edge.
    make(cat({plainText("ab><"), plainText("d"), plainText("X")}), "pw");
    EXPECT_TRUE(fails("pw", 6));
    // A head pad that never closes runs out of bytes.
    make(cat({plainText("abc>"), {1, 1}}), "pw");
    EXPECT_TRUE(fails("pw", 6));
    // A tail without marks runs back to the key origin.
    make(cat({plainText("X"), plainText("no marks here")}), "pw");
    EXPECT_TRUE(fails("pw", 6));

    Bytes good(30, 'h');
    good.insert(good.end(), {'>', 33, '<'});
    make(cat({good, plainText("payload"), {'>', 3, '<'}}), "right");
    EXPECT_TRUE(fails("wrong", 6));
    // The failed construction left the file with its owner, still usable.
    ASSERT_TRUE(file);
    file->seek(0, 0);
    EXPECT_EQ(0x11, file->readChar());
    auto r = open("right", 6);
    EXPECT_EQ(33u, r->headPadLength());
}

TEST_F(ScrambleFixture, BytesBeforeTheKeyOriginAreDeliveredAsStored) {
    make(cat({plainText("X"), plainText("abc"), plainText("X")}), "q");
    auto r = open("q", 6);
    r->seek(3, 0);
    EXPECT_EQ(0x11, r->readChar());
    uint8_t b[16];
    r->seek(kOrigin - 2, 0);
    ASSERT_EQ(6, r->read(b, 6));
    EXPECT_EQ(0x11, b[0]);
    EXPECT_EQ(0x11, b[1]);
    EXPECT_EQ('X', b[2]);
    EXPECT_EQ('a', b[3]);
}
