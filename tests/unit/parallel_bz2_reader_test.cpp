// ParallelBZ2Reader against BZ2Reader: the same reads, call by call, for
// whole, damaged, cut and odd streams; and where the workers come from.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "readers/bz2_blocks.h"
#include "readers/bz2_reader.h"
#include "readers/decoder_choice.h"
#include "readers/decoding_workers.h"
#include "readers/parallel_bz2_reader.h"
#include "tests/support/memory_reader.h"
#include "tests/support/read_transcript.h"
#include "tests/writer/archive_writer.h"

using kivtest::Bytes;

namespace {

Bytes words(size_t n, unsigned seed) {
    std::string t;
    for (unsigned i = 0; t.size() < n; ++i) t += "w" + std::to_string((i * 7919u + seed) % 1013u) + (i % 11 ? " " : "\n");
    t.resize(n);
    return Bytes(t.begin(), t.end());
}

// Long runs: blocks that decode to megabytes.
Bytes runs(size_t n) {
    Bytes out;
    for (int i = 0; out.size() < n; ++i) out.insert(out.end(), 2000 + i % 5000, static_cast<uint8_t>('a' + i % 4));
    out.resize(n);
    return out;
}

struct Case {
    const char* name;
    Bytes stream;
    std::vector<uint64_t> falseBits;
    uint64_t cap = 0;
    int chunk = 0;
    bool handsOver;  // expected of the parallel reader, read through
};

// Each case read by both readers in two of the patterns, with 1 to 3
// workers; the cases take turns over the combinations.
void expectSameReads(const Case& c, unsigned turn) {
    const int workers = 1 + static_cast<int>(turn % 3);
    kiv::setDecodingWorkerLimit(workers);
    for (unsigned pattern : {turn % 4, (turn + 2) % 4}) {
        kivtest::MemoryReader a(c.stream, c.chunk), b(c.stream, c.chunk);
        kiv::BZ2Reader sequential(&a, 0);
        kiv::ParallelBZ2Reader parallel(&b, 0, c.stream.size(), kiv::WorkerLease::take(workers));
        parallel.addFalseCandidates(c.falseBits);
        if (c.cap) parallel.setOutputCap(c.cap);
        const kivtest::Transcript want = kivtest::readTranscript(sequential, pattern, pattern + 7);
        const kivtest::Transcript got = kivtest::readTranscript(parallel, pattern, pattern + 7);
        EXPECT_EQ(want.counts, got.counts) << c.name << ", pattern " << pattern << ", " << workers << " workers";
        EXPECT_TRUE(want.bytes == got.bytes) << c.name << ", pattern " << pattern << ": " << want.bytes.size()
                                             << " bytes against " << got.bytes.size();
        EXPECT_EQ(c.handsOver, parallel.handedOver()) << c.name << ", pattern " << pattern;
    }
}

}  // namespace

TEST(ParallelBZ2Reader, ReadsAsTheSequentialDecoder) {
    const Bytes plain = words(700000, 1);  // 7 blocks at level 1
    const Bytes whole = kivtest::bzip2Compress(plain, 1);
    std::vector<Case> cases;
    cases.push_back({"whole stream", whole, {}, 0, 0, false});
    cases.push_back({"level 9", kivtest::bzip2Compress(words(1900000, 2), 9), {}, 0, 0, false});
    cases.push_back({"3-byte source reads", whole, {}, 0, 3, false});
    // Magics inside blocks' data: their stretches are joined with the next.
    cases.push_back({"false magics", whole, {whole.size() * 8 / 3 + 5, whole.size() * 8 / 2, whole.size() * 8 / 2 + 900}, 0,
                     0, false});
    cases.push_back({"long runs, blocks decoded again", kivtest::bzip2Compress(runs(4000000), 1), {}, 0, 0, false});
    cases.push_back({"blocks larger than a small cap", whole, {}, 64 * 1024, 0, false});
    {
        Bytes after = whole;
        after.insert(after.end(), whole.begin(), whole.end());  // a second stream, never decoded
        cases.push_back({"a second stream", after, {}, 0, 0, false});
    }
    // Damage in a block's data, its CRC, the end's CRC; cuts in a block
    // and in the end marker.
    for (size_t at : {whole.size() / 2, size_t(4 + 6 + 1), whole.size() - 2}) {
        Bytes damaged = whole;
        damaged[at] ^= 0x10;
        cases.push_back({"damaged", damaged, {}, 0, 0, at != whole.size() - 2});
    }
    // Damage in every other block: the rest is handed over at block starts
    // of several bit offsets within their bytes.
    std::vector<kiv::bz2::Candidate> marks;
    kiv::bz2::findCandidates(whole.data(), whole.size(), 0, kiv::bz2::kHeaderBits, whole.size() * 8, marks);
    for (size_t k = 1; k + 1 < marks.size(); k += 2) {
        Bytes damaged = whole;
        damaged[(marks[k].bit + marks[k + 1].bit) / 16] ^= 0x40;
        cases.push_back({"damaged block", damaged, {}, 0, 0, true});
    }
    for (size_t cut : {whole.size() * 3 / 4, whole.size() - 4}) {
        const Bytes shorter(whole.begin(), whole.begin() + static_cast<long>(cut));
        cases.push_back({"cut", shorter, {}, 0, 0, true});
    }
    {
        Bytes header = whole;
        header[3] = '0';
        cases.push_back({"no level", header, {}, 0, 0, true});
    }
    for (unsigned i = 0; i < cases.size(); ++i) expectSameReads(cases[i], i);
}

TEST(ParallelBZ2Reader, WorkersComeFromOneBudget) {
    kiv::setDecodingWorkerLimit(3);
    {
        kiv::WorkerLease first = kiv::WorkerLease::take(2);
        kiv::WorkerLease second = kiv::WorkerLease::take(2);
        kiv::WorkerLease third = kiv::WorkerLease::take(2);
        EXPECT_EQ(2, first.count());
        EXPECT_EQ(1, second.count());
        EXPECT_EQ(0, third.count());
        first = kiv::WorkerLease();
        EXPECT_EQ(2, kiv::WorkerLease::take(3).count());
    }
    EXPECT_EQ(3, kiv::WorkerLease::take(8).count());

    // Entries of four blocks or more are decoded on workers while any are
    // free; smaller ones, the catalogue and a busy budget stay sequential.
    const Bytes stream = kivtest::bzip2Compress(words(450000, 3), 1);
    kivtest::MemoryReader source(stream);
    const auto engine = [&](uint64_t decoded, bool sized) {
        const kiv::PackedExtent extent{stream.size(), decoded};
        auto r = kiv::makeDecodingReader('y', &source, 0, sized ? &extent : nullptr);
        return dynamic_cast<kiv::ParallelBZ2Reader*>(r.get()) != nullptr;
    };
    EXPECT_TRUE(engine(450000, true));
    EXPECT_FALSE(engine(399999, true));
    EXPECT_FALSE(engine(450000, false));
    kiv::WorkerLease all = kiv::WorkerLease::take(8);
    EXPECT_FALSE(engine(450000, true));
}

// A worker's decoder tables are handed out again, never while in use;
// anything beyond the two kept goes back to the C library (leaks and double
// frees show under the sanitizers).
TEST(ParallelBZ2Reader, DecoderMemoryReusesOnlyFreedTables) {
    kiv::bz2::DecoderMemory memory;
    void* state = memory.take(64000);
    void* table = memory.take(3600000);
    void* extra = memory.take(64000);
    ASSERT_TRUE(state && table && extra);
    EXPECT_NE(extra, state);
    memory.give(extra);
    memory.give(state);
    memory.give(table);
    EXPECT_EQ(memory.take(3600000), table);
    EXPECT_EQ(memory.take(64000), state);
    memory.give(state);
    void* other = memory.take(128);  // a size not kept takes the free place
    ASSERT_NE(other, nullptr);
    memory.give(other);
    memory.give(table);
}
