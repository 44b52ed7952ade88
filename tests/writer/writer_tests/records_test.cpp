// Catalogue records of every kind, in stored and reference form, parsed back
// with the reading side's record rules.
#include <gtest/gtest.h>

#include "tests/writer/archive_writer.h"
#include "tests/writer/writer_tests/decode.h"

using kivtest::ArchiveWriter;
using kivtest::Bytes;
using kivtest::RecordOptions;

namespace {

std::vector<kivcheck::Record> records(const ArchiveWriter& w) {
    return kivcheck::readArchive(w.build()).catalogue.records;
}

RecordOptions topBit() {
    RecordOptions o;
    o.topBit = true;
    return o;
}

}  // namespace

TEST(Records, StoredKindsCarryTheirFields) {
    ArchiveWriter w;
    w.dir("sub", 1000)
        .file("a.txt", "abc", 2000)
        .end()
        .linkTarget("t", "target data", 7, 3000)
        .hardLink("h", 7)
        .symlink("l", "../t", 4000)
        .device('b', "blk", -1, 1, 5000)
        .device('c', "chr", 0x1234, -32768)
        .special('p', "fifo", 6000)
        .special('s', "sock")
        .deleted("gone", 0x42)
        .file("last", "");
    const Bytes b = w.build();
    const kivcheck::Archive a = kivcheck::readArchive(b);
    EXPECT_TRUE(a.catalogue.endedByZ);
    const auto& r = a.catalogue.records;
    ASSERT_EQ(r.size(), 11u);

    const std::string kinds = "dfehlbcpsxf";
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i].kindByte, kinds[i]) << i;
        EXPECT_FALSE(r[i].reference) << i;
        EXPECT_EQ(r[i].depth, i == 1 ? 1 : 0) << i;
    }
    EXPECT_EQ(r[0].name, "sub");
    EXPECT_EQ(r[0].time, 1000u);
    EXPECT_EQ(r[1].name, "a.txt");
    EXPECT_EQ(r[1].time, 2000u);
    EXPECT_EQ(r[1].size, 3u);
    EXPECT_EQ(r[1].storedSize, 0u);
    EXPECT_EQ(r[1].checksum, 0x0262);
    EXPECT_EQ(kivcheck::fileData(b, a, r[1]), kivtest::toBytes("abc"));
    EXPECT_EQ(r[2].label, 7u);
    EXPECT_EQ(r[2].size, 11u);
    EXPECT_EQ(kivcheck::fileData(b, a, r[2]), kivtest::toBytes("target data"));
    EXPECT_EQ(r[3].name, "h");
    EXPECT_EQ(r[3].label, 7u);
    EXPECT_EQ(r[4].target, "../t");
    EXPECT_EQ(r[4].time, 4000u);
    EXPECT_EQ(r[5].first, -1);
    EXPECT_EQ(r[5].second, 1);
    EXPECT_EQ(r[6].first, 0x1234);
    EXPECT_EQ(r[6].second, -32768);
    EXPECT_EQ(r[7].name, "fifo");
    EXPECT_EQ(r[8].name, "sock");
    EXPECT_EQ(r[9].name, "gone");
    EXPECT_EQ(r[9].extra, 0x42);
    // An empty stored file still has a non-zero offset, which marks stored data.
    EXPECT_EQ(r[10].size, 0u);
    EXPECT_NE(r[10].dataOffset, 0u);
    EXPECT_EQ(r[10].checksum, 0u);
    EXPECT_EQ(w.layout().dataOffsets,
              (std::vector<uint64_t>{r[1].dataOffset, r[2].dataOffset, r[10].dataOffset}));
}

TEST(Records, ReferenceFormsUseUpperCaseOrTheTopBit) {
    RecordOptions upper;
    upper.upperCase = true;
    RecordOptions both = topBit();
    both.upperCase = true;
    ArchiveWriter w;
    w.refFile("rf", 3, 0x0262)
        .refFile("rf2", 5, 0xBEEF, 0, topBit())
        .refFile("rf3", 6, 0x0001, 0, both)
        .refLinkTarget("re", 9, 0x1111, 5)
        .refSymlink("rl", 10)
        .refDevice('c', "rc", 11, topBit())
        .dir("D", 12, upper)
        .end()
        .hardLink("rh", 5, topBit())
        .deleted("rx", 1, upper)
        .special('s', "rs", 0, topBit());
    const auto r = records(w);
    ASSERT_EQ(r.size(), 10u);
    const uint8_t kindBytes[] = {'F', 'f' | 0x80, 'F' | 0x80, 'E', 'L', 'c' | 0x80,
                                 'D', 'h' | 0x80, 'X', 's' | 0x80};
    const std::string kinds = "fffelcdhxs";
    for (size_t i = 0; i < r.size(); ++i) {
        EXPECT_EQ(r[i].kindByte, kindBytes[i]) << i;
        EXPECT_EQ(r[i].kind, kinds[i]) << i;
        EXPECT_TRUE(r[i].reference) << i;
    }
    EXPECT_EQ(r[0].size, 3u);
    EXPECT_EQ(r[0].checksum, 0x0262);
    EXPECT_EQ(r[1].checksum, 0xBEEF);
    EXPECT_EQ(r[2].size, 6u);
    EXPECT_EQ(r[3].kind, 'e');
    EXPECT_EQ(r[3].size, 9u);
    EXPECT_EQ(r[3].label, 5u);
    EXPECT_EQ(r[4].time, 10u);
    EXPECT_EQ(r[4].target, "");
    EXPECT_EQ(r[5].time, 11u);
    EXPECT_EQ(r[6].name, "D");
    EXPECT_EQ(r[7].label, 5u);
    EXPECT_EQ(r[8].extra, 1);
    EXPECT_EQ(r[9].name, "rs");
    // Reference records have no data, so nothing was placed.
    EXPECT_TRUE(w.layout().dataOffsets.empty());
}

TEST(Records, TailCodesSelectTheTailFields) {
    const int8_t codes[] = {0, 1, 2, 3, 4, 5, -1, -128};
    for (int8_t code : codes) {
        SCOPED_TRACE(int(code));
        RecordOptions o;
        o.tailCode = code;
        o.tailNumbers[0] = 11;
        o.tailNumbers[1] = 22;
        o.tailBytes[0] = 0xAB;
        o.tailBytes[1] = 0xCD;
        ArchiveWriter w;
        w.file("a", "xyz", 99, o).symlink("next", "t", 0, o).file("after", "q");
        const auto r = records(w);
        ASSERT_EQ(r.size(), 3u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(r[i].tailCode, code);
            if (code == 1) {
                EXPECT_EQ(r[i].tail, (std::vector<uint64_t>{11, 22}));
                EXPECT_EQ(r[i].tailBytes, (Bytes{0xAB, 0xCD}));
            } else if (code == 2 || code == 4) {
                EXPECT_EQ(r[i].tail, (std::vector<uint64_t>{11}));
            } else {
                EXPECT_TRUE(r[i].tail.empty());
            }
        }
        EXPECT_EQ(r[0].time, 99u);
        EXPECT_EQ(r[0].size, 3u);
        EXPECT_EQ(r[1].target, "t");
        EXPECT_EQ(r[2].name, "after");
    }
}

TEST(Records, NumberWidthAppliesToEveryIntegerOfTheRecord) {
    for (unsigned width : {8u, 12u, 36u}) {
        SCOPED_TRACE(width);
        RecordOptions o;
        o.numberBytes = width;
        o.tailCode = 1;
        o.firstTime = 0x0102030405ull;
        o.tailNumbers[0] = uint64_t(1) << 33;
        o.tailNumbers[1] = 3;
        ArchiveWriter w;
        w.linkTarget("e", "data", uint64_t(1) << 40, 1700000000, o).hardLink("h", uint64_t(1) << 40, o);
        const Bytes b = w.build();
        const kivcheck::Archive a = kivcheck::readArchive(b);
        const auto& r = a.catalogue.records;
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0].firstTime, 0x0102030405ull);
        EXPECT_EQ(r[0].time, 1700000000u);
        EXPECT_EQ(r[0].tail, (std::vector<uint64_t>{uint64_t(1) << 33, 3}));
        EXPECT_EQ(r[0].size, 4u);
        EXPECT_EQ(r[0].label, uint64_t(1) << 40);
        EXPECT_EQ(r[1].label, uint64_t(1) << 40);
        EXPECT_EQ(kivcheck::fileData(b, a, r[0]), kivtest::toBytes("data"));
        // The first time follows kind, name "e", NUL, tail code and six bytes.
        const size_t first = a.catalogueStart + 19 /* root record */ + 1 + 2 + 1 + 6;
        EXPECT_EQ(Bytes(b.begin() + first, b.begin() + first + 2),
                  width == 36 ? (Bytes{0x00, 0x80}) : (Bytes{uint8_t(0x80 >> (width / 4 - 1)), 0x00}));
    }
}

TEST(Records, OverridesChangeOnlyTheirField) {
    RecordOptions o;
    o.checksumOverride = 0xFFFF;
    o.sizeOverride = 1000;
    o.storedSizeOverride = 77;
    o.firstTime = 5;
    for (int i = 0; i < 6; ++i)
        o.sixBytes[i] = static_cast<uint8_t>(0xA0 + i);
    ArchiveWriter w;
    w.file("f", "abc", 0, o);
    const auto r = records(w);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].checksum, 0xFFFF);
    EXPECT_EQ(r[0].size, 1000u);
    EXPECT_EQ(r[0].storedSize, 77u);
    EXPECT_EQ(r[0].firstTime, 5u);
    EXPECT_EQ(r[0].six, (Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
}

TEST(Records, RootRecordAndCatalogueEnd) {
    ArchiveWriter named;
    named.rootName("root dir").file("a", "1");
    const kivcheck::Archive a = kivcheck::readArchive(named.build());
    EXPECT_EQ(a.catalogue.rootName, "root dir");
    EXPECT_EQ(a.catalogue.records.size(), 1u);

    ArchiveWriter upper;
    upper.rootKind('D');
    EXPECT_THROW(kivcheck::readArchive(upper.build()), kivcheck::Malformed);

    // Raw bytes go in as they are: an unknown kind ends the top level early.
    ArchiveWriter damaged;
    damaged.file("a", "1").raw({'q'}).file("b", "2").finalEnd(false);
    const kivcheck::Archive d = kivcheck::readArchive(damaged.build());
    EXPECT_FALSE(d.catalogue.endedByZ);
    ASSERT_EQ(d.catalogue.records.size(), 1u);
    EXPECT_EQ(d.catalogue.records[0].name, "a");

    // Without the final 'z' an open directory runs to the end of the data.
    ArchiveWriter open;
    open.dir("d").file("in", "x").finalEnd(false);
    const kivcheck::Archive o = kivcheck::readArchive(open.build());
    ASSERT_EQ(o.catalogue.records.size(), 2u);
    EXPECT_EQ(o.catalogue.records[1].depth, 1);
    EXPECT_FALSE(o.catalogue.endedByZ);
}
