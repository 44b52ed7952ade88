// Listing through the exports: paths, record kinds, attributes, sizes,
// times, names, terminators and malformed headers.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tests/e2e/plugin_fixture.h"
#include "tests/support/time_limit.h"

using namespace kivtest;

namespace {

struct Listing : PluginFixture {
    void SetUp() override {
#if defined(_WIN32)
        _putenv_s("TZ", "UTC");
        _tzset();
#else
        setenv("TZ", "UTC", 1);
        tzset();
#endif
        PluginFixture::SetUp();
    }
    std::vector<std::string> namesOf(const ArchiveWriter& w) { return names(save(w)); }
    int openResult(const ArchiveWriter& w) {
        int r = 0;
        list(save(w), &r);
        return r;
    }
    int openResult(const Bytes& bytes) {
        writeFile(dir.file("raw.kiv"), bytes);
        int r = 0;
        list(dir.file("raw.kiv"), &r);
        return r;
    }
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(Listing, MinimalArchiveIsEmpty) {
    ArchiveWriter w;
    const Bytes b = w.build();
    EXPECT_EQ(51u, b.size());
    int result = -1;
    EXPECT_TRUE(list(save(w), &result).empty());
    EXPECT_EQ(0, result);
}

TEST_F(Listing, DirectoriesNestAndCloseInOrder) {
    ArchiveWriter w;
    w.dir("sub").file("a", "1").end().file("b", "22");
    w.dir("x").dir("y").file("f", "").end().file("g", "ggg").end();
    EXPECT_EQ((Names{"sub", "sub\\a", "b", "x", "x\\y", "x\\y\\f", "x\\g"}), namesOf(w));

    const auto e = list(save(w));
    EXPECT_EQ(0x10, e[0].fileAttr);
    EXPECT_EQ(0x20, e[1].fileAttr);
    EXPECT_EQ(2, e[2].unpSize);
    EXPECT_EQ(2, e[2].packSize);  // stored plain: the size is the packed size
}

TEST_F(Listing, UnknownKindClosesDirectoryAndEndsTopLevel) {
    // 'q' closes sub; the next record belongs to the top level.
    ArchiveWriter w;
    w.dir("sub").file("a", "1").raw({'q'}).file("b", "2").raw({'q'}).file("never", "3");
    EXPECT_EQ((Names{"sub", "sub\\a", "b"}), namesOf(w));

    // A catalogue that stops without its final end record still lists.
    ArchiveWriter cut;
    cut.file("one", "1").file("two", "2").finalEnd(false);
    EXPECT_EQ((Names{"one", "two"}), namesOf(cut));
}

TEST_F(Listing, EveryRecordKindInBothForms) {
    ArchiveWriter w;
    RecordOptions upper;
    upper.upperCase = true;
    RecordOptions top;
    top.topBit = true;
    w.file("f", "data").refFile("F", 10, 0x1234, 0, upper).refFile("F2", 10, 0, 0, top);
    w.linkTarget("e", "abc", 7).hardLink("h", 7);
    w.symlink("l", "../t").refSymlink("L", 0, upper);
    w.device('b', "blk", 8, 1).device('c', "chr", -1, 1).refDevice('c', "C", 0, upper);
    w.special('p', "fifo").special('s', "sock").deleted("gone", 9);
    RecordOptions refDir = upper;
    w.dir("D", 0, refDir).file("inside", "x").end();
    const auto e = list(save(w));
    // Reference files, links and devices, and deleted entries are hidden by default.
    Names got;
    for (const auto& x : e) got.push_back(x.name);
    EXPECT_EQ((Names{"f", "e", "h", "l", "blk", "chr", "fifo", "sock", "D", "D\\inside"}), got);
    EXPECT_EQ(0x20, e[1].fileAttr);
    EXPECT_EQ(3, e[2].unpSize);  // the hard link takes its target's fields
    EXPECT_EQ(0x20, e[2].fileAttr);
    EXPECT_EQ(0, e[3].unpSize);
    EXPECT_EQ(0x04, e[4].fileAttr);
    EXPECT_EQ(0x04, e[6].fileAttr);
    EXPECT_EQ(0x10, e[8].fileAttr);  // a reference directory lists as a directory
}

TEST_F(Listing, HardLinksFindTheNewestLabel) {
    ArchiveWriter w;
    w.hardLink("early", 5);  // before any target: initial fields
    w.linkTarget("first", "1", 5).linkTarget("second", "22", 5).hardLink("h", 5).hardLink("other", 6);
    const auto e = list(save(w));
    ASSERT_EQ(5u, e.size());
    EXPECT_EQ(0x04, e[0].fileAttr);
    EXPECT_EQ(0, e[0].unpSize);
    EXPECT_EQ(2, e[3].unpSize);
    EXPECT_EQ(0x04, e[4].fileAttr);
}

TEST_F(Listing, TailCodesAndNumberWidthsAreSkippedExactly) {
    ArchiveWriter w;
    for (int code : {0, 1, 2, 3, 4, -128, 5}) {
        RecordOptions o;
        o.tailCode = static_cast<int8_t>(code);
        o.tailNumbers[0] = 0x1122334455667788ULL;
        o.tailNumbers[1] = 99;
        o.firstTime = 123456;
        o.numberBytes = code == 1 ? 12 : 8;
        w.file("t" + std::to_string(code), "xy", 0, o);
    }
    w.rootName("the root");
    EXPECT_EQ((Names{"t0", "t1", "t2", "t3", "t4", "t-128", "t5"}), namesOf(w));
}

TEST_F(Listing, SizesAreReportedInTheirLow32Bits) {
    ArchiveWriter w;
    RecordOptions big;
    big.sizeOverride = 5368709120ULL;
    big.numberBytes = 8;
    w.file("big", "x", 0, big);
    ArchiveWriter z;
    z.compression('z').file("packed", std::string(10000, 'a'));
    const auto e = list(save(w));
    EXPECT_EQ(1073741824, e[0].unpSize);
    const auto p = list(save(z, "z.kiv"));
    EXPECT_EQ(10000, p[0].unpSize);
    EXPECT_GT(p[0].packSize, 0);
    EXPECT_LT(p[0].packSize, 10000);
}

// ReadHeaderEx walks the same list and fills the same fields, but with the
// whole sizes and paths of up to 1023 bytes.
TEST_F(Listing, ExHeadersCarryWholeSizesAndLongPaths) {
    ASSERT_NE(nullptr, host->ReadHeaderEx);
    ArchiveWriter w;
    RecordOptions big;
    big.sizeOverride = 5368709120ULL;
    big.numberBytes = 8;
    const std::string folder(300, 'd'), name(299, 'f');  // a 600-byte path
    w.file("big", "x", 0, big).dir(folder).file(name, "", 1000000000).end();
    w.dir(std::string(700, 'e')).file(std::string(400, 'g'), "").end();  // 1101 bytes, cut
    const std::string archive = save(w);
    const auto seven = list(archive);
    host->useEx = true;
    const auto ex = list(archive);
    ASSERT_EQ(5u, seven.size());
    ASSERT_EQ(seven.size(), ex.size());
    EXPECT_EQ(1073741824, seven[0].unpSize);
    EXPECT_EQ(5368709120ULL, ex[0].unpSize64);
    EXPECT_EQ(5368709120ULL, ex[0].packSize64);  // kept uncompressed: the size
    const std::string sep = "\\";  // the suite's plug-in has the Windows conventions
    EXPECT_EQ(folder + sep + name, ex[2].name);
    EXPECT_EQ(ex[2].name.substr(0, 259), seven[2].name);
    EXPECT_EQ(1023u, ex[4].name.size());
    EXPECT_EQ(std::string(700, 'e') + sep + std::string(322, 'g'), ex[4].name);
    for (size_t i = 0; i < ex.size(); ++i) {
        EXPECT_EQ(seven[i].fileTime, ex[i].fileTime) << i;
        EXPECT_EQ(seven[i].fileAttr, ex[i].fileAttr) << i;
        EXPECT_EQ(static_cast<uint32_t>(seven[i].packSize), static_cast<uint32_t>(ex[i].packSize64)) << i;
    }
}

TEST_F(Listing, TimesArePackedLocalTimes) {
    ArchiveWriter w;
    w.file("billion", "", 1000000000).file("epoch", "", 0).file("negative", "", 1ULL << 31);
    RecordOptions wide;
    wide.numberBytes = 8;
    w.file("wraps", "", (1ULL << 32) + 60, wide);
    const auto e = list(save(w));
    const auto field = [](int t, int shift, int bits) { return (static_cast<uint32_t>(t) >> shift) & ((1u << bits) - 1); };
    EXPECT_EQ(21u, field(e[0].fileTime, 25, 7));
    EXPECT_EQ(9u, field(e[0].fileTime, 21, 4));
    EXPECT_EQ(9u, field(e[0].fileTime, 16, 5));
    EXPECT_EQ(1u, field(e[0].fileTime, 11, 5));
    EXPECT_EQ(46u, field(e[0].fileTime, 5, 6));
    EXPECT_EQ(20u, field(e[0].fileTime, 0, 5));
    EXPECT_EQ(118u, field(e[1].fileTime, 25, 7));
    EXPECT_EQ(0, e[2].fileTime);
    EXPECT_EQ(118u, field(e[3].fileTime, 25, 7));
    EXPECT_EQ(1u, field(e[3].fileTime, 5, 6));  // 60 s past the epoch: minute 1
    EXPECT_EQ(0u, field(e[3].fileTime, 0, 5));
}

// The Linux file manager reads '/'-separated paths, Unix modes and Unix
// seconds: the same entries, spelled as its own plug-ins spell them.
TEST_F(Listing, UnixConventionsSpellTheSameEntries) {
    if (!kHostUnixConventions) GTEST_SKIP() << "this build's plug-in has the Windows conventions";
    const uint64_t june = 1717243200;  // 2024-06-01 12:00 UTC
    ArchiveWriter w;
    w.dir("d", june).dir("sub").file("f.txt", "hello", june).end().dir("empty").end().end();
    w.file("untimed", "x").symlink("l", "t", 1000000000).device('c', "chr", 1, 2);
    w.file(std::string(257, 'n') + "\\.z", "", 5);
    const std::string path = save(w);
    const auto windows = list(path);
    loadPlugin(nullptr, hostPlugin());
    const auto unix = list(path);
    ASSERT_EQ(windows.size(), unix.size());
    const int dir = 040755, file = 0100644;
    const struct {
        const char* name;
        int mode;
        int time;
    } expected[] = {{"d", dir, int(june)},           {"d/sub", dir, 0},    {"d/sub/f.txt", file, int(june)},
                    {"d/empty", dir, 0},              {"untimed", file, 0}, {"l", file, 1000000000},
                    {"chr", file, 0},                 {nullptr, file, 5}};
    for (size_t i = 0; i < unix.size(); ++i) {
        SCOPED_TRACE(windows[i].name);
        std::string slashed = windows[i].name;
        for (char& c : slashed) c = c == '\\' ? '/' : c;
        EXPECT_EQ(slashed, unix[i].name);
        if (expected[i].name) EXPECT_EQ(expected[i].name, unix[i].name);
        EXPECT_EQ(expected[i].mode, unix[i].fileAttr);
        EXPECT_EQ(expected[i].time, unix[i].fileTime);
        EXPECT_EQ(windows[i].unpSize, unix[i].unpSize);
        EXPECT_EQ(windows[i].packSize, unix[i].packSize);
    }
    EXPECT_EQ(std::string(257, 'n') + "/_", unix.back().name);  // cut at 259 bytes and mended first

    // Separators at every position of paths of every length up to 3 words,
    // beside bytes one away from '\\' (the swap works a word at a time).
    ArchiveWriter mixed;
    for (size_t n = 1; n <= 26; ++n) {
        std::string name;
        for (size_t i = 0; i < n; ++i) name += i % 3 == 1 ? '\\' : "][a\xDC"[(i + n) % 4];
        mixed.file(name, "");
    }
    const std::string mixedPath = save(mixed);
    const auto mixedUnix = list(mixedPath);
    loadPlugin();
    const auto mixedWindows = list(mixedPath);
    ASSERT_EQ(26u, mixedUnix.size());
    ASSERT_EQ(mixedWindows.size(), mixedUnix.size());
    for (size_t i = 0; i < mixedUnix.size(); ++i) {
        std::string slashed = mixedWindows[i].name;
        for (char& c : slashed) c = c == '\\' ? '/' : c;
        EXPECT_EQ(slashed, mixedUnix[i].name);
    }
}

TEST_F(Listing, NamesAreConvertedAndMadeSafe) {
    const std::string utf8 = "gr\xC3\xBC\xC3\x9F" "e";
    const std::string broken = std::string("a\xC3") + "b\xFF";
    const std::string outsideLatin1 = "\xE6\x97\xA5" "x";  // U+65E5, then x
    ArchiveWriter v4;
    v4.version("4").file(utf8, "").file(broken, "").file(outsideLatin1, "");
#if defined(_WIN32)
    // The ANSI code page, 1252 under Wine: u-umlaut FC, sharp s DF; a
    // character it lacks becomes the code page's default, '?'.
    EXPECT_EQ((Names{"gr\xFC\xDF" "e", "a?b?", "?x"}), namesOf(v4));
#else
    EXPECT_EQ((Names{utf8, "a?b?", outsideLatin1}), namesOf(v4));
#endif
    // Names of version 3 are bytes of a code page (1252 unless kiv.ini names
    // another): Windows hosts are shown the bytes, POSIX hosts UTF-8; a
    // folder's name and the names inside it are converted one by one.
    ArchiveWriter v3;
    v3.version("3").file(broken, "").dir("d\xFCr").file("f\xFC", "").end();
#if defined(_WIN32)
    EXPECT_EQ((Names{broken, "d\xFCr", "d\xFCr\\f\xFC"}), namesOf(v3));
#else
    EXPECT_EQ((Names{"a\xC3\x83" "b\xC3\xBF", "d\xC3\xBCr", "d\xC3\xBCr\\f\xC3\xBC"}), namesOf(v3));
#endif

    // No reported path leads outside the folder a host extracts into.
    ArchiveWriter w;
    w.file("..", "").file(".", "").file("", "").file("a\\..\\b", "").file("../up", "").file("\\abs", "");
    w.dir("..").file("in", "").end().file("ok..name", "");
    EXPECT_EQ((Names{"_", "_", "_", "a\\_\\b", "_/up", "_\\abs", "_", "_\\in", "ok..name"}), namesOf(w));
}

TEST_F(Listing, LongNamesAndPathsAreBounded) {
    const std::string longName(300, 'n');
    const std::string huge(1 << 20, 'h');
    ArchiveWriter w;
    w.file(longName, "").file(huge, "").file("after", "");
    const auto e = list(save(w));
    ASSERT_EQ(3u, e.size());
    EXPECT_EQ(longName.substr(0, 259), e[0].name);
    EXPECT_EQ(std::string(259, 'h'), e[1].name);
    EXPECT_EQ("after", e[2].name);

    // A name cut at 259 bytes must not end in a "." or ".." it did not have.
    ArchiveWriter dots;
    dots.file(std::string(257, 'd') + "\\.z", "").file(std::string(256, 'e') + "\\..z", "");
    dots.file(std::string(256, 'f') + "/..", "");
    EXPECT_EQ((Names{std::string(257, 'd') + "\\_", std::string(256, 'e') + "\\__", std::string(256, 'f') + "/_"}),
              namesOf(dots));
#if !defined(_WIN32)
    // Names are UTF-8 here: the cut keeps whole characters, and one that
    // backs off to just after a separator leaves "_", not an empty name.
    const std::string ji = "\xE6\x97\xA5";
    ArchiveWriter wide;
    wide.file(std::string(256, 'k') + ji, "").file(std::string(257, 'm') + ji, "");
    wide.file(std::string(257, 'g') + "\\" + ji, "");
    EXPECT_EQ((Names{std::string(256, 'k') + ji, std::string(257, 'm'), std::string(257, 'g') + "\\_"}),
              namesOf(wide));
#endif
}

TEST_F(Listing, DeepNestingWithinTheLimitLists) {
    ArchiveWriter w;
    const int depth = 3000;
    for (int i = 0; i < depth; ++i) w.dir("d");
    w.file("leaf", "x");
    for (int i = 0; i < depth; ++i) w.end();
    w.file("top", "");
    const auto e = list(save(w));
    ASSERT_EQ(static_cast<size_t>(depth + 2), e.size());
    EXPECT_EQ("d\\d\\d", e[2].name);
    EXPECT_EQ(259u, e[depth].name.size());
    EXPECT_EQ("top", e[depth + 1].name);
}

TEST_F(Listing, MillionNestedDirectoriesFailFast) {
    // Built by hand: a million directory records, never closed.
    ArchiveWriter w;
    Bytes record = {'d', 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0x80, 0, 0, 0, 0};
    Bytes many;
    many.reserve(record.size() * 1000000);
    for (int i = 0; i < 1000000; ++i) many.insert(many.end(), record.begin(), record.end());
    w.raw(many).finalEnd(false);
    const auto start = std::chrono::steady_clock::now();
    int result = 0;
    list(save(w), &result);
    EXPECT_EQ(E_BAD_ARCHIVE, result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, timeLimit(10));
}

TEST_F(Listing, TerminatorForms) {
    for (unsigned k = 0; k <= 7; ++k) {
        for (unsigned fill : {0u, 1u, 3u}) {
            TerminatorOptions t;
            t.k = k;
            t.fill = fill;
            t.offsetBytes = 4;
            if (8 * fill + k < 2) t.offsetBytes = 4;
            if (4 * (8 * fill + k) < 5) continue;  // no room for the offset
            t.gapByte = 0xAA;
            ArchiveWriter w;
            w.terminator(t).file("a", "1");
            EXPECT_EQ((Names{"a"}), namesOf(w)) << "k=" << k << " fill=" << fill;
        }
    }
    TerminatorOptions wide;
    wide.k = 3;
    wide.offsetBytes = 8;
    ArchiveWriter w;
    w.terminator(wide).file("a", "1");
    EXPECT_EQ((Names{"a"}), namesOf(w));

    // A last byte 00 (m = 0): the offset starts at that byte itself, which
    // then counts as a prefix zero: 00 00 ... does not fit, so build by hand.
    for (uint8_t bad : {0xA0, 0x7F, 0x01}) {
        TerminatorOptions t;
        t.countByteOverride = bad;
        ArchiveWriter b;
        b.terminator(t).file("a", "1");
        EXPECT_EQ(E_UNKNOWN_FORMAT, openResult(b)) << int(bad);
    }
}

TEST_F(Listing, HeadersThatAreNotArchives) {
    ArchiveWriter magic;
    magic.magic(0x7B000000);
    EXPECT_EQ(E_UNKNOWN_FORMAT, openResult(magic));
    ArchiveWriter slice;
    slice.sliceFlag('N');
    EXPECT_EQ(E_UNKNOWN_FORMAT, openResult(slice));
    ArchiveWriter upper;
    upper.compression('Z');
    EXPECT_EQ(E_UNKNOWN_FORMAT, openResult(upper));
    ArchiveWriter root;
    root.rootKind('D');
    EXPECT_EQ(E_UNKNOWN_FORMAT, openResult(root));

    // Shorter than the slice header, even when what is there looks right.
    EXPECT_EQ(E_UNKNOWN_FORMAT, openResult(Bytes{0, 0, 0, 0x7B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'T'}));
    EXPECT_EQ(E_UNKNOWN_FORMAT, openResult(Bytes{}));

    int result = 0;
    list(dir.file("does-not-exist"), &result);
    EXPECT_EQ(E_EOPEN, result);
}

TEST_F(Listing, HiddenEntriesAndTheSecondWalk) {
    ArchiveWriter w;
    w.refFile("only-hidden", 1, 0);
    const std::string hidden = save(w, "h.kiv");
    int result = 0;
    void* h = host->open(hidden, result);
    ASSERT_NE(nullptr, h);
    tHeaderData header{};
    EXPECT_EQ(E_END_ARCHIVE, host->ReadHeader(h, &header));
    host->CloseArchive(h);

    ArchiveWriter two;
    two.file("a", "1").file("b", "2");
    h = host->open(save(two), result);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(2u, host->walk(h).size());  // ends with 10, which starts the walk over
    EXPECT_EQ(0, host->ReadHeader(h, &header));
    EXPECT_EQ(0, host->ReadHeader(h, &header));
    EXPECT_STREQ("b", header.FileName);
    std::memset(&header, 0x5A, sizeof header);
    EXPECT_EQ(E_END_ARCHIVE, host->ReadHeader(h, &header));
    EXPECT_EQ(0x5A, static_cast<uint8_t>(header.FileName[0]));  // untouched at the end
    EXPECT_EQ(0, host->ReadHeader(h, &header));
    EXPECT_STREQ("a", header.FileName);
    // Fields the plug-in does not fill keep what the host put there.
    EXPECT_EQ(0x5A5A5A5A, header.HostOS);
    EXPECT_EQ(0x5A5A5A5A, header.FileCRC);
    host->CloseArchive(h);
}
