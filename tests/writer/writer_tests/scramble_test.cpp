// Scrambled archives: the pads are found by the reading side's scans through
// the unscrambling, for both parameter sets and every pad form, and the
// archive behind them reads back.
#include <gtest/gtest.h>

#include "tests/writer/archive_writer.h"
#include "tests/writer/writer_tests/decode.h"

using kivtest::ArchiveWriter;
using kivtest::Bytes;
using kivtest::PadOptions;
using kivtest::digits;
using kivtest::ScrambleOptions;

namespace {

const char kText[] = "The quick brown fox jumps over the lazy dog, twice over.";

ArchiveWriter sample(const std::string& version, uint8_t compression) {
    ArchiveWriter w;
    w.version(version).compression(compression);
    w.dir("docs", 100).file("fox.txt", kText, 200).end().symlink("link", "docs/fox.txt");
    w.file("bin", Bytes{0x00, 0xFF, 0xFE, '>', '<', 'X'});
    return w;
}


PadOptions form(PadOptions::Form f) {
    PadOptions p;
    p.form = f;
    return p;
}

// A password that gives the head pad form wanted: the first header bytes
// must read as 'X' or as the pair of marks.
std::string passwordFor(const ArchiveWriter& w, const std::string& version, const PadOptions& head) {
    std::string pw = "k3y!pass";
    const kivtest::PadParameters p = kivtest::padParameters(version);
    if (head.form == PadOptions::SingleX)
        pw[0] = static_cast<char>(w.headKeyByte(0, 'X'));
    if (head.form == PadOptions::EdgePair) {
        pw[0] = static_cast<char>(w.headKeyByte(0, p.markBefore));
        pw[1] = static_cast<char>(w.headKeyByte(1, p.markAfter));
    }
    return pw;
}

// Reads the scrambled archive back and compares it with what `sample` holds.
void expectRoundTrip(const ArchiveWriter& w, const Bytes& b, const std::string& pw,
                     uint64_t headLength, uint64_t tailLength) {
    const kivcheck::Archive a = kivcheck::readArchive(b, pw);
    EXPECT_EQ(a.headPad, headLength);
    EXPECT_EQ(a.tailPad, tailLength);
    EXPECT_EQ(w.layout().headPadLength, headLength);
    EXPECT_EQ(w.layout().tailPadLength, tailLength);
    // The header fields themselves are stored plain.
    EXPECT_EQ(Bytes(b.begin() + 16, b.begin() + a.header.end), w.headerBytes());
    EXPECT_EQ(a.header.flags & 0x20, 0x20);
    EXPECT_EQ(a.catalogueStart, w.layout().catalogueStart);

    const auto& r = a.catalogue.records;
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[1].name, "fox.txt");
    EXPECT_EQ(r[2].target, "docs/fox.txt");
    EXPECT_EQ(kivcheck::fileData(b, a, r[1], pw), kivtest::toBytes(kText));
    EXPECT_EQ(kivcheck::fileData(b, a, r[3], pw), (Bytes{0x00, 0xFF, 0xFE, '>', '<', 'X'}));
    // Data begins after the head pad and after the header.
    EXPECT_GE(r[1].dataOffset, std::max<uint64_t>(headLength, a.header.end - 16));
    // Nothing of the plain text shows in the file.
    const std::string file(b.begin(), b.end());
    EXPECT_EQ(file.find("quick brown"), std::string::npos);
}

}  // namespace

TEST(Scramble, EveryPadFormRoundTripsWithBothParameterSets) {
    const std::vector<PadOptions> heads = {form(PadOptions::SingleX), form(PadOptions::EdgePair),
                                           digits(1), digits(2), digits(3, 0, 0), digits(4, 0, 40)};
    const std::vector<PadOptions> tails = {form(PadOptions::SingleX), form(PadOptions::EdgePair),
                                           digits(1, 0, 0), digits(2), digits(3), digits(4, 0, 300)};
    for (const std::string version : {"06", "08"}) {
        for (uint8_t compression : {'n', 'z'}) {
            for (size_t h = 0; h < heads.size(); ++h) {
                for (size_t t = 0; t < tails.size(); ++t) {
                    SCOPED_TRACE(testing::Message() << "version " << version << " compression "
                                                    << compression << " head " << h << " tail " << t);
                    ArchiveWriter w = sample(version, compression);
                    const std::string pw = passwordFor(w, version, heads[h]);
                    w.scramble({pw, heads[h], tails[t]});
                    const Bytes b = w.build();
                    const uint64_t headerLength = w.headerBytes().size();
                    const uint64_t head = h == 0 ? 1 : h == 1 ? 2
                                                      : headerLength + heads[h].filler + heads[h].digits + 2;
                    const uint64_t tail = t == 0 ? 1 : t == 1 ? 2 : tails[t].filler + tails[t].digits + 2;
                    expectRoundTrip(w, b, pw, head, tail);
                }
            }
        }
    }
}

TEST(Scramble, DigitsAreLeastSignificantFirstInTheChosenRadix) {
    // A 300-byte tail pad: 300 = 44 + 1 * 256 with '>' '<', 46 + 1 * 254 with FF FE.
    for (const std::string version : {"06", "08"}) {
        SCOPED_TRACE(version);
        const kivtest::PadParameters p = kivtest::padParameters(version);
        ArchiveWriter w = sample(version, 'n');
        w.scramble({"pw", digits(2), digits(2, 0, 296)});
        const Bytes b = w.build();
        const kivcheck::View v(b, "pw");
        const uint64_t start = b.size() - 300;
        EXPECT_EQ(v.at(start), p.markBefore);
        EXPECT_EQ(v.at(start + 1), version == "06" ? 44 : 46);
        EXPECT_EQ(v.at(start + 2), 1);
        EXPECT_EQ(v.at(start + 3), p.markAfter);
        // The terminator ends where the pad begins.
        EXPECT_EQ(kivcheck::readTerminator(v, start).offsetPos, w.layout().terminatorStart);
    }
    EXPECT_EQ(kivtest::padParameters("6").radix, 256u);
    EXPECT_EQ(kivtest::padParameters("7").radix, 254u);
    EXPECT_EQ(kivtest::padParameters("12abc").markBefore, 0xFF);
    EXPECT_EQ(kivtest::padParameters("").markAfter, '<');
}

TEST(Scramble, ZeroGroupsComeFirstInScanOrder) {
    for (const std::string version : {"06", "08"}) {
        const unsigned radix = kivtest::padParameters(version).radix;
        for (unsigned groups : {1u, 2u}) {
            SCOPED_TRACE(testing::Message() << version << " zero groups " << groups);
            ArchiveWriter w = sample(version, 'n');
            w.scramble({"nought", digits(1, groups), digits(2, groups, 3)});
            const Bytes b = w.build();
            // Head groups keep raising the weight: the length is a multiple of radix^groups.
            const uint64_t unit = groups == 1 ? radix : uint64_t(radix) * radix;
            EXPECT_EQ(w.layout().headPadLength % unit, 0u);
            EXPECT_GE(w.layout().headPadLength, unit);
            // Tail groups restart at 0: the length is just the bytes.
            EXPECT_EQ(w.layout().tailPadLength, 2 + 2 + groups * 4 + 3u);
            const kivcheck::Archive a = kivcheck::readArchive(b, "nought");
            EXPECT_EQ(a.headPad, w.layout().headPadLength);
            EXPECT_EQ(a.tailPad, w.layout().tailPadLength);
            EXPECT_EQ(a.catalogue.records.size(), 4u);
        }
    }
}

TEST(Scramble, LengthsWhoseDigitWouldBeAMarkAreAvoided) {
    // With radix 256 a one-digit length of 60 or 62 would be read as a mark.
    for (unsigned filler = 0; filler < 80; ++filler) {
        SCOPED_TRACE(filler);
        ArchiveWriter w = sample("06", 'n');
        w.scramble({"m", digits(1, 0, filler), digits(1, 0, filler)});
        const Bytes b = w.build();
        EXPECT_NE(w.layout().headPadLength, uint64_t('<'));
        EXPECT_NE(w.layout().headPadLength, uint64_t('>'));
        EXPECT_NE(w.layout().tailPadLength, uint64_t('<'));
        EXPECT_NE(w.layout().tailPadLength, uint64_t('>'));
        const kivcheck::View v(b, "m");
        EXPECT_EQ(kivcheck::headPad(v, "06"), w.layout().headPadLength);
        EXPECT_EQ(kivcheck::tailPad(v, "06"), w.layout().tailPadLength);
    }
}

TEST(Scramble, MalformedPadsCanBeBuilt) {
    for (const std::string version : {"06", "08"}) {
        SCOPED_TRACE(version);
        ArchiveWriter five = sample(version, 'n');
        five.scramble({"pw", digits(5), digits(2)});
        EXPECT_FALSE(kivcheck::headPad(kivcheck::View(five.build(), "pw"), version));
        ArchiveWriter none = sample(version, 'n');
        none.scramble({"pw", digits(2), digits(0, 0, 4)});
        EXPECT_FALSE(kivcheck::tailPad(kivcheck::View(none.build(), "pw"), version));
    }
}

TEST(Scramble, RefusesLayoutsTheReaderWouldMisread) {
    const kivtest::PadParameters p = kivtest::padParameters("08");
    ArchiveWriter w = sample("08", 'n');
    // The first header byte would read as 'X': the head pad would be one byte.
    std::string pw = "abc";
    pw[0] = static_cast<char>(w.headKeyByte(0, 'X'));
    EXPECT_THROW(ArchiveWriter(w).scramble({pw, digits(2), digits(2)}).build(), std::invalid_argument);
    // A header byte that reads as markBefore would start the digits early.
    pw = "abc";
    pw[1] = static_cast<char>(w.headKeyByte(1, p.markBefore));
    EXPECT_THROW(ArchiveWriter(w).scramble({pw, digits(2), digits(2)}).build(), std::invalid_argument);
    // The edge forms need the password to shape the header.
    EXPECT_THROW(ArchiveWriter(w).scramble({"abc", form(PadOptions::SingleX), digits(2)}).build(),
                 std::invalid_argument);
    EXPECT_THROW(ArchiveWriter(w).scramble({"abc", form(PadOptions::EdgePair), digits(2)}).build(),
                 std::invalid_argument);
    // A length that does not fit in the digits asked for.
    EXPECT_THROW(ArchiveWriter(w).scramble({"abc", digits(1, 0, 300), digits(2)}).build(),
                 std::invalid_argument);
    EXPECT_THROW(ArchiveWriter(w).scramble({"abc", digits(2), digits(1, 0, 300)}).build(),
                 std::invalid_argument);
    EXPECT_THROW(ArchiveWriter(w).scramble({"", digits(2), digits(2)}).build(), std::invalid_argument);
    EXPECT_THROW(w.headKeyByte(w.headerBytes().size() + 1, 'X'), std::invalid_argument);
}
