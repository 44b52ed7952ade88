// inflate_engines DATA SIZE... : the inflate engines by entry size.
// For each SIZE, entries of SIZE bytes (DATA's first bytes, then the next
// ones, over at least 64 MiB of output for small sizes) are compressed as
// the archive writer does (zlib level 9) and decoded from memory the way
// extraction reads them: 256 KiB blocks, each folded into the checksum.
// Each engine decodes through the reader the plug-in uses (GZReader for
// zlib, InflateReader with the engine fixed), best CPU time of 5 runs;
// prints MB/s of output and the speed against zlib. The whole-stream engine
// is shown up to its limit (InflateReader::kWholeLimit).
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "extract/extract.h"
#include "readers/gz_reader.h"
#include "readers/inflate_reader.h"
#include "tests/support/memory_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kiv::InflateReader;

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

Bytes compress(const uint8_t* p, size_t n) {
    uLongf length = compressBound(static_cast<uLong>(n));
    Bytes out(length);
    compress2(out.data(), &length, p, static_cast<uLong>(n), 9);
    out.resize(length);
    return out;
}

enum class Engine { Zlib, Whole, Stream };

// Decodes every stream as extraction would; the bytes decoded in all.
uint64_t decodeAll(Engine engine, const std::vector<Bytes>& streams, size_t size, kiv::InflateBuffers& kept) {
    static std::vector<uint8_t> block(256 * 1024);
    uint64_t total = 0;
    for (const Bytes& s : streams) {
        kivtest::MemoryReader source(s);
        std::unique_ptr<kiv::DecodingReader> r;
        if (engine == Engine::Zlib) r = std::make_unique<kiv::GZReader>(&source, 0);
        else
            r = std::make_unique<InflateReader>(
                &source, 0, engine == Engine::Whole ? InflateReader::Engine::Whole : InflateReader::Engine::Stream,
                s.size(), size, &kept);
        uint8_t sum[2] = {0, 0};
        unsigned parity = 0;
        for (int n; (n = r->read(block.data(), static_cast<int>(block.size()))) > 0;) {
            kiv::foldChecksum(sum, parity, block.data(), static_cast<size_t>(n));
            parity = (parity + static_cast<unsigned>(n)) & 1;
            total += static_cast<uint64_t>(n);
        }
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: inflate_engines DATA SIZE...\n");
        return 2;
    }
    FILE* f = std::fopen(argv[1], "rb");
    if (!f) {
        std::fprintf(stderr, "inflate_engines: cannot open %s\n", argv[1]);
        return 1;
    }
    Bytes data;
    std::vector<uint8_t> chunk(1 << 20);
    for (size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0;) data.insert(data.end(), chunk.begin(), chunk.begin() + static_cast<long>(n));
    std::fclose(f);

    std::printf("%10s %7s %6s %10s %16s %16s\n", "entry", "entries", "ratio", "zlib MB/s", "whole MB/s", "stream MB/s");
    for (int i = 2; i < argc; ++i) {
        const size_t size = std::strtoull(argv[i], nullptr, 10);
        if (size == 0 || size > data.size()) {
            std::fprintf(stderr, "inflate_engines: size %s is not within the data\n", argv[i]);
            return 1;
        }
        const size_t count = std::max<size_t>(1, std::min<size_t>(data.size() / size, (64u << 20) / size));
        std::vector<Bytes> streams;
        uint64_t packed = 0;
        for (size_t k = 0; k < count; ++k) {
            streams.push_back(compress(data.data() + k * size, size));
            packed += streams.back().size();
        }
        double best[3] = {1e30, 1e30, 1e30};
        kiv::InflateBuffers kept;
        for (int run = 0; run < 5; ++run) {
            for (int e = 0; e < 3; ++e) {
                const Engine engine = static_cast<Engine>(e);
                if (engine == Engine::Whole && (!InflateReader::built(InflateReader::Engine::Whole) || size > InflateReader::kWholeLimit)) continue;
                if (engine == Engine::Stream && !InflateReader::built(InflateReader::Engine::Stream)) continue;
                const double t0 = cpuSeconds();
                if (decodeAll(engine, streams, size, kept) != uint64_t(size) * count) {
                    std::fprintf(stderr, "inflate_engines: an engine decoded other bytes\n");
                    return 1;
                }
                best[e] = std::min(best[e], cpuSeconds() - t0);
            }
        }
        const double bytes = static_cast<double>(size) * static_cast<double>(count);
        const auto cell = [&](int e) {
            char b[32];
            if (best[e] > 1e29) return std::string("n/a");
            std::snprintf(b, sizeof b, "%.0f (%.2fx)", bytes / best[e] / 1e6, best[0] / best[e]);
            return std::string(b);
        };
        std::printf("%10zu %7zu %6.2f %10.0f %16s %16s\n", size, count, bytes / static_cast<double>(packed),
                    bytes / best[0] / 1e6, cell(1).c_str(), cell(2).c_str());
    }
    return 0;
}
