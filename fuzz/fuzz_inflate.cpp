// The fast inflate engines against zlib. The same zlib stream goes through
// GZReader (zlib, the reference) and through InflateReader with each engine
// the build has, fed 1, 3 or 7 bytes at a time or whole, and given stored
// sizes and sizes that hold or do not; then through the plug-in's
// extraction with the catalogue's sizes making it pick either engine. The
// bytes delivered, where they end, the result code and the progress
// reported must be exactly what zlib's decoding makes of the stream.
//
// Input: two control bytes, then the stream. Control byte 0: bits 0-1 the
// source's piece size (whole, 1, 3 or 7 bytes; 331 times that for inputs
// beyond 8 KiB), bits 2-3 the trailer (0: the stream is a whole zlib
// stream as given; 1-3: it is raw deflate, given a zlib header and the
// Adler-32 of what zlib, libdeflate or ISA-L decodes from it, so that a
// mutated body can still end "cleanly" for one decoder and not another),
// bits 4-5 the stored size handed to the whole-stream engine, bits 6-7 the
// entry's size. Control byte 1: the read sizes, and bit 0 a wrong checksum.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "archive/context.h"
#include "extract/extract.h"
#include "readers/gz_reader.h"
#include "readers/inflate_reader.h"
#include "tests/support/memory_reader.h"

#if KIV_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#if KIV_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using kiv::InflateReader;

// Beyond this a bomb shows nothing new; every side stops here.
constexpr size_t kOutputCap = 1 << 20;

[[noreturn]] void breach(const char* what) {
    std::fprintf(stderr, "inflate breach: %s\n", what);
    std::abort();
}

// What each decoder makes of raw deflate, up to the cap, for the trailers.
Bytes rawZlib(const Bytes& in) {
    Bytes out(kOutputCap);
    z_stream s{};
    inflateInit2(&s, -15);
    s.next_in = const_cast<uint8_t*>(in.data());
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    while (inflate(&s, Z_NO_FLUSH) == Z_OK && s.avail_out > 0) {
    }
    out.resize(out.size() - s.avail_out);
    inflateEnd(&s);
    return out;
}

Bytes rawWhole(const Bytes& in) {
#if KIV_HAVE_LIBDEFLATE
    if (in.empty()) return {};  // libdeflate takes no null input
    Bytes out(kOutputCap);
    size_t got = 0;
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    const bool ok = d && libdeflate_deflate_decompress_ex(d, in.data(), in.size(), out.data(), out.size(), nullptr,
                                                          &got) == LIBDEFLATE_SUCCESS;
    libdeflate_free_decompressor(d);
    if (ok) {
        out.resize(got);
        return out;
    }
#endif
    return rawZlib(in);
}

Bytes rawStream(const Bytes& in) {
#if KIV_HAVE_ISAL
    Bytes out(kOutputCap);
    std::unique_ptr<inflate_state> s(new inflate_state);
    isal_inflate_init(s.get());
    s->crc_flag = ISAL_DEFLATE;
    s->next_in = const_cast<uint8_t*>(in.data());
    s->avail_in = static_cast<uint32_t>(in.size());
    size_t got = 0;
    while (got < out.size()) {
        s->next_out = out.data() + got;
        s->avail_out = static_cast<uint32_t>(std::min<size_t>(out.size() - got, 65536));
        const int r = isal_inflate(s.get());
        const size_t n = static_cast<size_t>(s->next_out - (out.data() + got));
        if (r != ISAL_DECOMP_OK) break;
        got += n;
        if (s->block_state == ISAL_BLOCK_FINISH || (n == 0 && s->avail_in == 0)) break;
    }
    out.resize(got);
    return out;
#else
    return rawZlib(in);
#endif
}

Bytes withTrailer(const Bytes& raw, const Bytes& decoded) {
    Bytes z = {0x78, 0xDA};
    z.insert(z.end(), raw.begin(), raw.end());
    const uLong a = adler32(adler32(0, nullptr, 0), decoded.data(), static_cast<uInt>(decoded.size()));
    for (int shift = 24; shift >= 0; shift -= 8) z.push_back(static_cast<uint8_t>(a >> shift));
    return z;
}

Bytes drain(kiv::DecodingReader& reader, uint8_t seed) {
    Bytes got;
    static uint8_t buffer[300000];
    for (unsigned i = 0;; ++i) {
        // Small, chunk-sized and extraction-sized reads in turn.
        const unsigned pick = (i * 2654435761u + seed) % 3;
        const int want = pick == 0 ? 1 + static_cast<int>((i * 7919u + seed) % 5000) : pick == 1 ? 4096 : 262144;
        const int n = reader.read(buffer, want);
        if (n < 0 || n > want) breach("read count");
        if (n == 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    if (reader.read(buffer, 1) != 0 || reader.readChar() != 0) breach("ended reader delivers more");
    return got;
}

uint16_t checksumOf(const uint8_t* p, size_t n) {
    uint8_t c[2] = {0, 0};
    for (size_t i = 0; i < n; ++i) c[i & 1] ^= p[i];
    return static_cast<uint16_t>(c[0] << 8 | c[1]);
}

uint64_t g_reported = 0;
bool g_shortReport = false;
int WCX_CALL countProgress(char*, int n) {
    if (n <= 0 || n > 4096 || g_shortReport) breach("progress chunk");
    g_shortReport = n < 4096;  // only the last report may be short
    g_reported += static_cast<uint64_t>(n);
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t c0 = data[0], c1 = data[1];
    static const int chunks[] = {0, 1, 3, 7};
    // Long inputs trickle in larger odd pieces: ISA-L handed a few bytes a
    // call spends its time moving its window, not on the stream.
    const int chunk = chunks[c0 & 3] * (size > 8192 ? 331 : 1);
    const Bytes body(data + 2, data + size);
    Bytes stream;
    switch (c0 >> 2 & 3) {
        case 0: stream = body; break;
        case 1: stream = withTrailer(body, rawZlib(body)); break;
        case 2: stream = withTrailer(body, rawWhole(body)); break;
        default: stream = withTrailer(body, rawStream(body)); break;
    }

    // zlib's own decoding: the truth.
    kivtest::MemoryReader whole(stream);
    kiv::GZReader zlib(&whole, 0);
    zlib.limitOutput(kOutputCap);
    const Bytes truth = drain(zlib, 0);

    // The catalogue's sizes as they come: right, or short, or long.
    const uint64_t stored = stream.size();
    const uint64_t storedSizes[] = {stored, stored > 1 ? stored - 1 : 1, stored + 100, stored / 2 + 1};
    const uint64_t decoded = truth.size();
    const uint64_t sizes[] = {decoded, decoded ? decoded - 1 : 0, decoded + 1, kOutputCap};
    const uint64_t storedSize = storedSizes[c0 >> 4 & 3];
    const uint64_t entrySize = sizes[c0 >> 6 & 3];

    static kiv::InflateBuffers kept;  // reused from input to input, as between entries
    for (const auto engine : {InflateReader::Engine::Whole, InflateReader::Engine::Stream}) {
        if (!InflateReader::built(engine)) continue;
        kivtest::MemoryReader source(stream, chunk);
        InflateReader reader(&source, 0, engine, storedSize, entrySize, &kept);
        reader.limitOutput(kOutputCap);
        const Bytes got = drain(reader, c1);
        if (got.size() != truth.size()) {
            std::fprintf(stderr, "engine %d: %zu bytes, zlib %zu\n", static_cast<int>(engine), got.size(),
                         truth.size());
            breach("the engine ends elsewhere than zlib");
        }
        if (got != truth) breach("the engine's bytes differ from zlib's");
        if (reader.exceededLimit() != zlib.exceededLimit()) breach("limit");
    }

    // Through extraction, testing the entry (the plug-in's PK_TEST), with
    // the catalogue's stored size picking the whole-stream engine or not.
    const uint64_t testedSize = std::min<uint64_t>(entrySize, kOutputCap);
    const size_t covered = static_cast<size_t>(std::min<uint64_t>(testedSize, truth.size()));
    const uint16_t sum = static_cast<uint16_t>(checksumOf(truth.data(), covered) ^ (c1 & 1));
    const int expected = truth.size() < testedSize ? E_BAD_DATA : (c1 & 1) ? E_BAD_ARCHIVE : 0;
    Bytes file = {0};  // the data starts at offset 1: offset 0 means no data
    file.insert(file.end(), stream.begin(), stream.end());
    for (const uint64_t packed : {storedSize, InflateReader::kWholeLimit + 1}) {
        kiv::ArchiveContext context;
        context.primaryReader = std::make_unique<kivtest::MemoryReader>(file, chunk);
        context.compressionCode = 'z';
        kiv::Entry entry;
        entry.dataOffset = 1;
        entry.size = testedSize;
        entry.storedSize = packed;
        entry.checksum = sum;
        context.listingCursor = &entry;
        context.progressCallback = countProgress;
        g_reported = 0;
        g_shortReport = false;
        const int result = kiv::extractCurrentEntry(context, nullptr);
        if (result != expected || g_reported != covered) {
            std::fprintf(stderr, "stored size %llu: result %d, %llu bytes reported; zlib: %d, %zu\n",
                         static_cast<unsigned long long>(packed), result, static_cast<unsigned long long>(g_reported),
                         expected, covered);
            breach("extraction reports otherwise than with zlib");
        }
    }
    return 0;
}
