// The same bzip2 stream decoded on the calling thread and on the decoding
// workers must give the same: every read the same count and bytes, and an
// extraction the same result code after the same progress reports.
//   byte 0: bits 0-1 workers - 1, bits 2-3 the read pattern (0: through
//           extraction), bit 4 a source of 3-byte reads, bit 5 blocks kept
//           only up to 64 KiB, bit 6 an entry shorter than the stream
//   byte 1: false magics to take at bits spread over the stream (0-3)
//   the rest: the stream
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "archive/context.h"
#include "extract/extract.h"
#include "readers/bz2_reader.h"
#include "readers/decoding_workers.h"
#include "readers/parallel_bz2_reader.h"
#include "tests/support/memory_reader.h"
#include "tests/support/read_transcript.h"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void breach(const char* what) {
    std::fprintf(stderr, "bzip2 breach: %s\n", what);
    std::abort();
}

std::vector<int> progress;
int WCX_CALL record(char*, int size) {
    progress.push_back(size);
    return 1;
}

// Tests the stream as an entry of `size` bytes, with the decoding workers
// the budget has; the result code, and the progress in `seen`.
int extractAsEntry(const Bytes& stream, uint64_t size, std::vector<int>& seen) {
    kiv::ArchiveContext context;
    Bytes file(1, 0);  // entry data cannot start at offset 0
    file.insert(file.end(), stream.begin(), stream.end());
    context.primaryReader = std::make_unique<kivtest::MemoryReader>(file);
    context.compressionCode = 'y';
    kiv::Entry entry;
    entry.size = size;
    entry.storedSize = stream.size();
    entry.dataOffset = 1;
    context.listingCursor = &entry;
    context.progressCallback = record;
    progress.clear();
    const int result = kiv::extractCurrentEntry(context, static_cast<const platform::Path*>(nullptr));
    seen = progress;
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int workers = 1 + (data[0] & 3);
    const unsigned pattern = data[0] >> 2 & 3;
    const int chunk = data[0] & 16 ? 3 : 0;
    const Bytes stream(data + 2, data + size);

    if (pattern == 0) {
        // Long enough for the workers (four blocks of the level named), or
        // as long as the stream's own bytes times a small factor.
        const unsigned level = stream.size() > 3 && stream[3] >= '1' && stream[3] <= '9' ? stream[3] - '0' : 9;
        const uint64_t entrySize = data[0] & 64 ? 4 * 100000 * uint64_t(level) : uint64_t(1) << 26;
        std::vector<int> one, many;
        kiv::setDecodingWorkerLimit(0);
        const int sequential = extractAsEntry(stream, entrySize, one);
        kiv::setDecodingWorkerLimit(workers);
        const int parallel = extractAsEntry(stream, entrySize, many);
        if (sequential != parallel) {
            std::fprintf(stderr, "result %d on one thread, %d on %d workers\n", sequential, parallel, workers);
            breach("extraction results differ");
        }
        if (one != many) breach("progress reports differ");
        return 0;
    }

    kiv::setDecodingWorkerLimit(workers);
    kivtest::MemoryReader a(stream, chunk), b(stream, chunk);
    kiv::BZ2Reader sequential(&a, 0);
    kiv::ParallelBZ2Reader parallel(&b, 0, stream.size(), kiv::WorkerLease::take(workers));
    if (data[0] & 32) parallel.setOutputCap(64 * 1024);
    std::vector<uint64_t> fake;
    for (unsigned k = 1; k <= (data[1] & 3) && !stream.empty(); ++k)
        fake.push_back((uint64_t(stream.size()) * 8 * k / 4 + data[1]) % (uint64_t(stream.size()) * 8));
    parallel.addFalseCandidates(fake);
    const kivtest::Transcript want = kivtest::readTranscript(sequential, pattern, data[1]);
    const kivtest::Transcript got = kivtest::readTranscript(parallel, pattern, data[1]);
    if (want != got) {
        std::fprintf(stderr, "pattern %u, %d workers: %zu calls and %zu bytes against %zu and %zu\n", pattern, workers,
                     want.counts.size(), want.bytes.size(), got.counts.size(), got.bytes.size());
        breach("the parallel reader gives other reads");
    }
    return 0;
}
