// Compressed archives: the catalogue and every file are separate whole
// streams that decompress back with the libraries' own one-shot decoders.
#include <gtest/gtest.h>

#include "tests/writer/archive_writer.h"
#include "tests/writer/writer_tests/decode.h"

using kivtest::ArchiveWriter;
using kivtest::Bytes;
using kivtest::RecordOptions;

namespace {

Bytes noise(size_t n) {
    Bytes b(n);
    uint32_t x = 12345;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

bool looksLikeStream(uint8_t code, const Bytes& b, uint64_t at) {
    if (code == 'y')
        return b[at] == 'B' && b[at + 1] == 'Z' && b[at + 2] == 'h';
    return (b[at] & 0x0F) == 8 && ((b[at] << 8) | b[at + 1]) % 31 == 0;  // zlib header
}

}  // namespace

TEST(Compression, CatalogueAndFilesAreSeparateStreams) {
    const Bytes binary = noise(10000);
    const std::string text(5000, 'a');
    for (uint8_t code : {'z', 'p', 'y'}) {
        SCOPED_TRACE(code);
        RecordOptions plain;
        plain.storedPlain = true;
        ArchiveWriter w;
        w.compression(code)
            .dir("d")
            .file("text", text)
            .file("binary", binary)
            .end()
            .file("empty", "")
            .file("plain", "stored as it is", 0, plain)
            .linkTarget("e", "linked", 3);
        const Bytes b = w.build();

        // The catalogue stream runs from its start up to the terminator.
        ASSERT_TRUE(looksLikeStream(code, b, w.layout().catalogueStart));
        const kivcheck::Archive a = kivcheck::readArchive(b);
        if (code != 'y') {
            size_t consumed = 0;
            kivcheck::zlibInflate(Bytes(b.begin() + w.layout().catalogueStart, b.end()), &consumed);
            EXPECT_EQ(w.layout().catalogueStart + consumed, w.layout().terminatorStart);
        }
        const auto& r = a.catalogue.records;
        ASSERT_EQ(r.size(), 6u);
        EXPECT_TRUE(a.catalogue.endedByZ);

        const Bytes expected[] = {{}, kivtest::toBytes(text), binary, {},
                                  kivtest::toBytes("stored as it is"), kivtest::toBytes("linked")};
        for (size_t i = 1; i < r.size(); ++i) {
            SCOPED_TRACE(r[i].name);
            EXPECT_EQ(r[i].size, expected[i].size());
            EXPECT_EQ(r[i].checksum, kivtest::checksum(expected[i]));
            EXPECT_EQ(kivcheck::fileData(b, a, r[i]), expected[i]);
            if (r[i].name == "plain") {
                EXPECT_EQ(r[i].storedSize, 0u);
                continue;
            }
            // Even the empty file is a stream, so its stored size is not 0.
            EXPECT_NE(r[i].storedSize, 0u);
            EXPECT_TRUE(looksLikeStream(code, b, 16 + r[i].dataOffset));
            if (code != 'y') {
                size_t consumed = 0;
                kivcheck::zlibInflate(Bytes(b.begin() + 16 + r[i].dataOffset, b.end()), &consumed);
                EXPECT_EQ(consumed, r[i].storedSize);
            }
        }
        EXPECT_LT(r[1].storedSize, 100u);  // 5000 equal bytes compress well
    }
}

TEST(Compression, UnknownCodeWritesPlain) {
    ArchiveWriter w;
    w.compression('Z').file("a", "abc");
    const Bytes b = w.build();
    const kivcheck::Archive a = kivcheck::readArchive(b);
    ASSERT_EQ(a.catalogue.records.size(), 1u);
    EXPECT_EQ(a.catalogue.records[0].storedSize, 0u);
    EXPECT_EQ(kivcheck::fileData(b, a, a.catalogue.records[0]), kivtest::toBytes("abc"));
    EXPECT_EQ(b[w.layout().catalogueStart], 'd');
}

TEST(Compression, TruncatedStreamKeepsItsStoredSize) {
    RecordOptions cut;
    cut.truncateData = true;
    const Bytes data = noise(3000);
    for (uint8_t code : {'z', 'y'}) {
        SCOPED_TRACE(code);
        ArchiveWriter w;
        w.compression(code).file("cut", data, 0, cut).file("next", "n");
        const Bytes b = w.build();
        const kivcheck::Archive a = kivcheck::readArchive(b);
        const auto& r = a.catalogue.records;
        ASSERT_EQ(r.size(), 2u);
        const Bytes whole = code == 'y' ? kivtest::bzip2Compress(data) : kivtest::zlibCompress(data);
        EXPECT_EQ(r[0].storedSize, whole.size());
        const size_t half = whole.size() / 2;
        EXPECT_EQ(Bytes(b.begin() + 16 + r[0].dataOffset, b.begin() + 16 + r[0].dataOffset + half),
                  Bytes(whole.begin(), whole.begin() + half));
        EXPECT_EQ(r[1].dataOffset, r[0].dataOffset + half);
        // What follows the half is the next stream, so the cut one no longer decodes.
        EXPECT_THROW(kivcheck::fileData(b, a, r[0]), kivcheck::Malformed);
        EXPECT_EQ(kivcheck::fileData(b, a, r[1]), kivtest::toBytes("n"));
    }
}
