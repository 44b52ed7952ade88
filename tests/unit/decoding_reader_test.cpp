// GZReader, BZ2Reader and InflateReader's engines: the same contract over
// every decoder; then the streams on which the fast inflate engines must
// end exactly where zlib ends.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <memory>
#include <random>

#include "readers/bz2_reader.h"
#include "readers/file_reader.h"
#include "readers/gz_reader.h"
#include "readers/inflate_reader.h"
#include "tests/support/crafted_streams.h"
#include "tests/support/memory_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/time_limit.h"

using kiv::FileReader;
using kiv::InflateReader;
using kiv::Reader;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes deflateBytes(const Bytes& in) {
    uLongf n = compressBound(in.size());
    Bytes out(n);
    compress2(out.data(), &n, in.data(), in.size(), 9);
    out.resize(n);
    return out;
}

Bytes bzipBytes(const Bytes& in) {
    unsigned n = static_cast<unsigned>(in.size() + in.size() / 100 + 600);
    Bytes out(n);
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &n,
                             const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                             static_cast<unsigned>(in.size()), 9, 0, 0);
    out.resize(n);
    return out;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes pseudoText(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    const char* words[] = {"alpha ", "beta ", "gamma\n", "delta ", "kiv ", "0123 "};
    Bytes out;
    while (out.size() < n) {
        const char* w = words[rng() % 6];
        out.insert(out.end(), w, w + strlen(w));
    }
    out.resize(n);
    return out;
}

// Zlib is GZReader; Whole and Stream are InflateReader's fast engines.
enum class Codec { Zlib, Bzip2, Whole, Stream };

std::unique_ptr<kiv::DecodingReader> makeReader(Codec codec, Reader* source, int64_t start, uint64_t storedSize,
                                                uint64_t size) {
    switch (codec) {
        case Codec::Zlib: return std::make_unique<kiv::GZReader>(source, start);
        case Codec::Bzip2: return std::make_unique<kiv::BZ2Reader>(source, start);
        case Codec::Whole:
            return std::make_unique<InflateReader>(source, start, InflateReader::Engine::Whole, storedSize, size);
        case Codec::Stream: return std::make_unique<InflateReader>(source, start, InflateReader::Engine::Stream);
    }
    return nullptr;
}

bool built(Codec codec) {
    return codec == Codec::Whole    ? InflateReader::built(InflateReader::Engine::Whole)
           : codec == Codec::Stream ? InflateReader::built(InflateReader::Engine::Stream)
                                    : true;
}

struct DecodingFixture : ::testing::TestWithParam<Codec> {
    kivtest::TempDir dir;
    std::unique_ptr<FileReader> file;
    // The last stream compress() made: its length and its data's, which the
    // whole-stream engine is given as the catalogue would give them.
    uint64_t packed = 0, plain = 0;

    void SetUp() override {
        if (!built(GetParam())) GTEST_SKIP() << "engine not in this build";
    }

    Bytes compress(const Bytes& in) {
        Bytes out = GetParam() == Codec::Bzip2 ? bzipBytes(in) : deflateBytes(in);
        packed = out.size();
        plain = in.size();
        return out;
    }

    // Writes `stream` at offset 100 of a file and opens the file.
    void place(const Bytes& stream, const Bytes& after = {}) {
        Bytes f(100, 0xEE);
        f.insert(f.end(), stream.begin(), stream.end());
        f.insert(f.end(), after.begin(), after.end());
        kivtest::writeFile(dir.file("a"), f);
        file = std::make_unique<FileReader>(dir.file("a").c_str());
    }
    std::unique_ptr<Reader> reader(int64_t start = 100) { return reader(start, packed, plain); }
    std::unique_ptr<Reader> reader(int64_t start, uint64_t storedSize, uint64_t size) {
        return makeReader(GetParam(), file.get(), start, storedSize, size);
    }
};

}  // namespace

TEST_P(DecodingFixture, ReadsAndEnds) {
    place(compress(text("hello")), text("trailing bytes after the stream"));
    auto r = reader();
    char buf[100];
    EXPECT_EQ(5, r->read(buf, 100));
    EXPECT_EQ("hello", std::string(buf, 5));
    EXPECT_EQ(0, r->read(buf, 100));
    EXPECT_EQ(0, r->readChar());
    EXPECT_EQ(0, r->tell());
}

TEST_P(DecodingFixture, ForwardSkipOnly) {
    place(compress(text("hello")));
    auto r = reader();
    EXPECT_EQ(2, r->seek(2, 1));
    EXPECT_EQ(0x6C, r->readChar());
    EXPECT_EQ(0, r->seek(2, 0));
    EXPECT_EQ(0, r->seek(-1, 1));
    EXPECT_EQ(0, r->seek(0, 1));
    EXPECT_EQ(0, r->seek(2, 2));
    EXPECT_EQ(0, r->readCharBackward());
    EXPECT_EQ(0x6C, r->readChar());
    // Skipping past the end reports what was skipped.
    EXPECT_EQ(1, r->seek(10, 1));
}

TEST_P(DecodingFixture, PartialValuesAtTheEnd) {
    place(compress({0x80, 0x01, 0x61, 0x62, 0x63}));
    auto r = reader();
    EXPECT_EQ(-32767, r->readShort());
    EXPECT_EQ(0, r->readInt());  // only three bytes remain: dropped
    char b[4];
    EXPECT_EQ(0, r->read(b, 4));

    place(compress({0x61, 0x62}));
    auto s = reader();
    EXPECT_EQ("ab", s->readString());
    EXPECT_EQ("", s->readString());
}

TEST_P(DecodingFixture, AwkwardChunksDeliverExactlyTheData) {
    const Bytes data = pseudoText(300000, 3);
    place(compress(data));
    auto r = reader();
    Bytes got;
    std::mt19937 rng(11);
    uint8_t buf[5000];
    for (int guard = 0; guard < 1000000; ++guard) {
        const int want = static_cast<int>(rng() % 5000) + 1;
        const int n = r->read(buf, want);
        ASSERT_LE(n, want);
        if (n == 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(data, got);
}

TEST_P(DecodingFixture, TwoReadersOverOneSourceInterleave) {
    const Bytes a = pseudoText(20000, 1), b = pseudoText(30000, 2);
    const Bytes ca = compress(a), cb = compress(b);
    Bytes both = ca;
    both.insert(both.end(), cb.begin(), cb.end());
    place(both);
    auto ra = reader(100, ca.size(), a.size()), rb = reader(100 + static_cast<int64_t>(ca.size()), cb.size(), b.size());
    Bytes ga, gb;
    uint8_t buf[333];
    for (;;) {
        const int na = ra->read(buf, sizeof buf);
        ga.insert(ga.end(), buf, buf + na);
        const int nb = rb->read(buf, sizeof buf);
        gb.insert(gb.end(), buf, buf + nb);
        if (na == 0 && nb == 0) break;
    }
    EXPECT_EQ(a, ga);
    EXPECT_EQ(b, gb);
}

TEST_P(DecodingFixture, TruncatedOrCorruptDataEndsPromptly) {
    const Bytes data = pseudoText(200000, 5);
    Bytes stream = compress(data);
    for (const double keep : {0.5, 0.9, 0.999}) {
        Bytes cut(stream.begin(), stream.begin() + static_cast<long>(stream.size() * keep));
        place(cut);
        auto r = reader();
        const auto start = std::chrono::steady_clock::now();
        size_t total = 0;
        uint8_t buf[4096];
        int n;
        while ((n = r->read(buf, sizeof buf)) > 0) {
            ASSERT_TRUE(std::equal(buf, buf + n, data.begin() + static_cast<long>(total)));
            total += static_cast<size_t>(n);
        }
        EXPECT_LT(total, data.size());
        EXPECT_EQ(0, r->read(buf, sizeof buf));  // and stays ended
        EXPECT_EQ(0, r->readChar());
        EXPECT_LT(std::chrono::steady_clock::now() - start, kivtest::timeLimit(5));
    }
    // Garbage in the middle of the stream.
    Bytes bad = stream;
    for (size_t i = bad.size() / 3; i < bad.size() / 3 + 64; ++i) bad[i] ^= 0x5A;
    place(bad);
    auto r = reader();
    size_t total = 0;
    uint8_t buf[4096];
    for (int n; (n = r->read(buf, sizeof buf)) > 0;) total += static_cast<size_t>(n);
    EXPECT_LT(total, data.size());
}

// Found by fuzzing: the bytes decoded before a failure were dropped or kept
// depending on how the input arrived. Now a trickling source and the whole
// stream at once deliver the same bytes, and exactly as many as a limit allows.
TEST_P(DecodingFixture, DamagedStreamDeliversTheSameBytesHoweverItArrives) {
    const Bytes data = pseudoText(400000, 8);
    Bytes bad = compress(data);
    for (size_t i = bad.size() / 2; i < bad.size() / 2 + 16; ++i) bad[i] ^= 0xA5;
    const auto drain = [&](int chunk, uint64_t limit, bool* exceeded) {
        kivtest::MemoryReader source(bad, chunk);
        auto r = makeReader(GetParam(), &source, 0, bad.size(), data.size());
        r->limitOutput(limit);
        Bytes got;
        uint8_t buf[3001];
        for (int n; (n = r->read(buf, sizeof buf)) > 0;) got.insert(got.end(), buf, buf + n);
        if (exceeded) *exceeded = r->exceededLimit();
        return got;
    };
    // What a damaged stream decodes to is the decoder's business (bzip2
    // hands out a damaged block before its check fails); it must only not
    // depend on the source.
    const Bytes whole = drain(0, UINT64_MAX, nullptr);
    ASSERT_GT(whole.size(), 20000u);
    for (int chunk : {1, 2, 3, 7}) EXPECT_EQ(whole, drain(chunk, UINT64_MAX, nullptr)) << "chunk " << chunk;

    bool exceeded = false;
    const Bytes cut = drain(3, 12345, &exceeded);
    EXPECT_TRUE(exceeded);
    EXPECT_EQ(Bytes(whole.begin(), whole.begin() + 12345), cut);
    EXPECT_EQ(whole, drain(1, whole.size(), &exceeded));
    EXPECT_FALSE(exceeded);
}

TEST_P(DecodingFixture, NullSource) {
    try {
        makeReader(GetParam(), nullptr, 0, 5, 5);
        FAIL();
    } catch (const kiv::ReaderError& e) {
        EXPECT_STREQ("Passed NULL reader!", e.what());
    }
}

const char* codecName(const ::testing::TestParamInfo<Codec>& info) {
    switch (info.param) {
        case Codec::Zlib: return "zlib";
        case Codec::Bzip2: return "bzip2";
        case Codec::Whole: return "whole";
        case Codec::Stream: return "stream";
    }
    return "?";
}

INSTANTIATE_TEST_SUITE_P(Codecs, DecodingFixture, ::testing::Values(Codec::Zlib, Codec::Bzip2, Codec::Whole, Codec::Stream),
                         codecName);

// ---------------------------------------------------------------------------
// Streams zlib refuses, and streams it takes that the fast engines leave to
// it: every engine must deliver exactly zlib's bytes and end there. Each
// trailer is the Adler-32 of what a decoder taking the blocks at their word
// would make, so an engine without our patch would end these streams
// "cleanly" with other bytes than zlib's.

namespace {

using kivtest::CraftedStream;

Bytes drainAll(kiv::DecodingReader& r, int step) {
    Bytes got;
    std::vector<uint8_t> buf(static_cast<size_t>(step));
    for (int n; (n = r.read(buf.data(), step)) > 0;) got.insert(got.end(), buf.data(), buf.data() + n);
    return got;
}

}  // namespace

TEST(InflateEngines, EndWhereZlibEndsWithZlibsBytes) {
    const std::vector<CraftedStream> streams = kivtest::craftedZlibStreams();
    for (const Codec engine : {Codec::Whole, Codec::Stream}) {
        if (!built(engine)) continue;
        for (const CraftedStream& c : streams) {
            kivtest::MemoryReader whole(c.stream);
            kiv::GZReader zlib(&whole, 0);
            const Bytes expected = drainAll(zlib, 4096);
            for (const int chunk : {0, 1, 7}) {
                for (const int step : {1, 5000, 300000}) {
                    kivtest::MemoryReader source(c.stream, chunk);
                    InflateReader r(&source, 0, engine == Codec::Whole ? InflateReader::Engine::Whole
                                                                       : InflateReader::Engine::Stream,
                                    c.stream.size(), 2 << 20);
                    const Bytes got = drainAll(r, step);
                    ASSERT_EQ(expected.size(), got.size()) << c.name << ", " << codecName({engine, 0})
                                                           << ", chunk " << chunk << ", reads of " << step;
                    ASSERT_EQ(expected, got) << c.name;
                    // Only the plain stream stays with ISA-L; libdeflate
                    // also takes the lone and the missing distance code,
                    // failing at an unused codeword as zlib does.
                    const bool kept = c.name == "valid" ||
                                      (engine == Codec::Whole && (c.name == "one distance code" ||
                                                                  c.name == "no distance codes" ||
                                                                  c.name == "300 KB, then one distance code"));
                    EXPECT_EQ(kept, r.engine() != InflateReader::Engine::Zlib) << c.name;
                }
            }
        }
    }
}

// The whole-stream engine trusts the catalogue's sizes only as far as they
// hold: a stored size too short for the stream, or a size short of what it
// decodes to, leave the stream to zlib, which reads on as far as it goes.
TEST(InflateEngines, WholeStreamSizesThatDoNotHoldGoToZlib) {
    if (!built(Codec::Whole)) GTEST_SKIP() << "engine not in this build";
    const Bytes data = pseudoText(100000, 31);
    const Bytes stream = deflateBytes(data);
    Bytes file = stream;
    const Bytes after = pseudoText(5000, 32);
    file.insert(file.end(), after.begin(), after.end());
    const struct {
        uint64_t storedSize, size;
        bool zlib;
    } cases[] = {{stream.size(), data.size(), false},
                 {file.size(), data.size() + 1, false},  // bytes after the stream are ignored
                 {stream.size() - 1, data.size(), true},
                 {stream.size(), data.size() - 1, true}};
    for (const auto& k : cases) {
        kivtest::MemoryReader source(file, 3);
        InflateReader r(&source, 0, InflateReader::Engine::Whole, k.storedSize, k.size);
        EXPECT_EQ(data, drainAll(r, 4096)) << k.storedSize << " " << k.size;
        EXPECT_EQ(k.zlib, r.engine() == InflateReader::Engine::Zlib) << k.storedSize << " " << k.size;
    }
}
