// Whole-file layout: slice header, archive header, data placement and the
// terminator, read back the way the reading side finds them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/writer/archive_writer.h"
#include "tests/writer/writer_tests/decode.h"

using kivtest::ArchiveWriter;
using kivtest::Bytes;
using kivtest::TerminatorOptions;

TEST(Layout, MinimalArchiveIsTheFiftyOneByteExample) {
    ArchiveWriter w;
    const Bytes b = w.build();
    Bytes expected = {0x00, 0x00, 0x00, 0x7B};
    expected.insert(expected.end(), 10, 0x00);           // not interpreted
    expected.push_back('T');
    expected.push_back(0x00);                            // not interpreted
    expected.insert(expected.end(), {'0', '8', 0x00, 'n', 0x00, 0x00});
    expected.insert(expected.end(), {'d', 0x00});
    expected.insert(expected.end(), 7, 0x00);
    expected.insert(expected.end(), {0x80, 0, 0, 0, 0, 0x80, 0, 0, 0, 0});
    expected.push_back('z');
    expected.insert(expected.end(), {0x80, 0, 0, 0, 0x06});
    expected.insert(expected.end(), 3, 0x00);            // not read
    expected.push_back(0xC0);
    ASSERT_EQ(expected.size(), 51u);
    EXPECT_EQ(b, expected);
    EXPECT_EQ(w.layout().catalogueStart, 22u);
    EXPECT_EQ(w.layout().terminatorStart, 42u);
    EXPECT_EQ(w.layout().headPadLength, 0u);
    EXPECT_EQ(w.layout().tailPadLength, 0u);
}

TEST(Layout, HeaderFieldsAsConfigured) {
    ArchiveWriter w;
    w.magic(0x7B000000).sliceFlag('N').version("06").compression('q').headerString("hello").flags(0x05);
    const Bytes b = w.build();
    const kivcheck::Header h = kivcheck::readHeader(b);
    EXPECT_EQ(h.magic, 0x7B000000u);
    EXPECT_EQ(h.sliceFlag, 'N');
    EXPECT_EQ(h.version, "06");
    EXPECT_EQ(h.compression, 'q');
    EXPECT_EQ(h.headerString, "hello");
    EXPECT_EQ(h.flags, 0x05);
    EXPECT_EQ(w.headerBytes(), Bytes(b.begin() + 16, b.begin() + h.end));
    // An unknown compression code is written plain.
    const kivcheck::Archive a = kivcheck::readArchive(b);
    EXPECT_TRUE(a.catalogue.endedByZ);
    EXPECT_EQ(a.catalogueStart, h.end);
}

struct TerminatorCase {
    unsigned k, fill, offsetBytes;
    uint8_t gap;
    uint8_t countByte;
    unsigned leftover;  // bytes between the offset's end and the count byte
};

TEST(Layout, TerminatorPutsTheOffsetFourMBytesBeforeTheCountByte) {
    const TerminatorCase cases[] = {
        {2, 0, 4, 0x00, 0xC0, 3},
        {7, 0, 4, 0x55, 0xFE, 23},
        {0, 1, 4, 0xFF, 0x00, 27},
        {3, 1, 4, 0xAA, 0xE0, 39},    // E0 FF: m = 11, 44 bytes
        {2, 1, 36, 0x00, 0xC0, 2},    // 00 80 + 36 bytes in 40
        {2, 3, 100, 0x00, 0xC0, 0},   // 000000 80 + 100 bytes fill 4*26 exactly
        {3, 0, 8, 0x11, 0xE0, 3},
    };
    for (const TerminatorCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "k=" << c.k << " fill=" << c.fill
                                        << " offsetBytes=" << c.offsetBytes);
        ArchiveWriter w;
        w.file("a", "abc").terminator({c.k, c.fill, c.offsetBytes, c.gap, {}, {}});
        const Bytes b = w.build();
        const kivcheck::View v(b);
        const kivcheck::Terminator t = kivcheck::readTerminator(v, b.size());
        EXPECT_EQ(t.m, 8 * c.fill + c.k);
        EXPECT_EQ(b[t.countPos], c.countByte);
        EXPECT_EQ(b.size() - 1 - t.countPos, c.fill);
        EXPECT_EQ(t.offsetPos, w.layout().terminatorStart);
        EXPECT_EQ(t.countPos - t.offsetEnd, c.leftover);
        for (uint64_t p = t.offsetEnd; p < t.countPos; ++p)
            EXPECT_EQ(b[p], c.gap);
        EXPECT_EQ(16 + t.catalogueOffset, w.layout().catalogueStart);
        const kivcheck::Archive a = kivcheck::readArchive(b);
        ASSERT_EQ(a.catalogue.records.size(), 1u);
        EXPECT_EQ(a.catalogue.records[0].name, "a");
    }
}

TEST(Layout, TerminatorTooShortForTheOffsetIsRefused) {
    EXPECT_THROW(ArchiveWriter().terminator({1, 0, 4, 0, {}, {}}).build(), std::invalid_argument);
    EXPECT_THROW(ArchiveWriter().terminator({0, 0, 4, 0, {}, {}}).build(), std::invalid_argument);
    EXPECT_THROW(ArchiveWriter().terminator({2, 0, 8, 0, {}, {}}).build(), std::invalid_argument);
    EXPECT_THROW(ArchiveWriter().terminator({8, 0, 4, 0, {}, {}}).build(), std::invalid_argument);
    EXPECT_NO_THROW(ArchiveWriter().terminator({3, 0, 8, 0, {}, {}}).build());
}

TEST(Layout, TerminatorOverrides) {
    ArchiveWriter w;
    w.terminator({2, 0, 4, 0, 0x1234, 0xA0});
    const Bytes b = w.build();
    EXPECT_EQ(b.back(), 0xA0);
    const Bytes offset(b.end() - 9, b.end() - 4);
    EXPECT_EQ(offset, (Bytes{0x80, 0x00, 0x00, 0x12, 0x34}));
}

TEST(Layout, FileDataLiesAtTheRecordedOffsets) {
    kivtest::RecordOptions at100, cut;
    at100.dataOffset = 100;
    cut.truncateData = true;
    ArchiveWriter w;
    w.dataGap(7)
        .file("one", "first file")
        .file("far", "placed at 100", 0, at100)
        .file("two", "after the far one")
        .file("cut", "0123456789", 0, cut);
    const Bytes b = w.build();
    const kivcheck::Archive a = kivcheck::readArchive(b);
    const auto& r = a.catalogue.records;
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(w.layout().dataOffsets,
              (std::vector<uint64_t>{r[0].dataOffset, r[1].dataOffset, r[2].dataOffset, r[3].dataOffset}));

    EXPECT_EQ(r[0].dataOffset, kivcheck::readHeader(b).end - 16 + 7);
    EXPECT_EQ(r[1].dataOffset, 100u);
    EXPECT_EQ(r[2].dataOffset, 100u + 13);
    EXPECT_EQ(kivcheck::fileData(b, a, r[0]), kivtest::toBytes("first file"));
    EXPECT_EQ(kivcheck::fileData(b, a, r[1]), kivtest::toBytes("placed at 100"));
    EXPECT_EQ(kivcheck::fileData(b, a, r[2]), kivtest::toBytes("after the far one"));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(r[i].checksum, kivtest::checksum(kivcheck::fileData(b, a, r[i]))) << i;

    // Half of the cut file is there; the catalogue follows straight after.
    EXPECT_EQ(r[3].size, 10u);
    EXPECT_EQ(r[3].checksum, kivtest::checksum(kivtest::toBytes("0123456789")));
    EXPECT_EQ(Bytes(b.begin() + 16 + r[3].dataOffset, b.begin() + 16 + r[3].dataOffset + 5),
              kivtest::toBytes("01234"));
    EXPECT_EQ(w.layout().catalogueStart, 16 + r[3].dataOffset + 5);
}

TEST(Layout, FarOffsetIsOnlyRecorded) {
    kivtest::RecordOptions o;
    o.dataOffset = uint64_t(1) << 40;
    o.numberBytes = 8;
    ArchiveWriter w;
    w.file("near", "xy").file("far", "data", 0, o);
    const Bytes b = w.build();
    const kivcheck::Archive a = kivcheck::readArchive(b);
    ASSERT_EQ(a.catalogue.records.size(), 2u);
    EXPECT_EQ(a.catalogue.records[1].dataOffset, uint64_t(1) << 40);
    EXPECT_EQ(a.catalogue.records[1].size, 4u);
    EXPECT_EQ(w.layout().catalogueStart, 16 + a.catalogue.records[0].dataOffset + 2);
    // A 64-bit offset needs a wide record.
    o.numberBytes = 4;
    EXPECT_THROW(ArchiveWriter().file("far", "data", 0, o).build(), std::invalid_argument);
}

TEST(Layout, WriteToWritesTheBuiltBytes) {
    ArchiveWriter w;
    w.dir("d").file("f", "contents").end().trailingBytes({1, 2, 3});
    const std::string path = testing::TempDir() + "kivwriter_layout.kiv";
    w.writeTo(path);
    std::ifstream in(path, std::ios::binary);
    const Bytes onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    const Bytes built = w.build();
    EXPECT_EQ(onDisk, built);
    EXPECT_EQ(Bytes(built.end() - 3, built.end()), (Bytes{1, 2, 3}));
}
