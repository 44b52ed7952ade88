// Each decompressing reader over a source that hands over 1, 2, 3 or 7
// bytes at a time. The first byte picks the decoder and the chunk; the rest
// is the stream. What the reader delivers, through plain reads and through
// the typed operations, must be exactly what the library decodes from the
// whole stream at once, up to where that decoding stops.
#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "readers/bz2_reader.h"
#include "readers/gz_reader.h"
#include "tests/support/memory_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Beyond this a bomb shows nothing new; both sides stop here.
constexpr size_t kOutputCap = 1 << 20;

[[noreturn]] void breach(const char* what) {
    std::fprintf(stderr, "decoder breach: %s\n", what);
    std::abort();
}

// The library's own decoding of the whole stream at once, up to `cap`
// bytes. `clean` tells whether it ended without a failure.
struct Reference {
    Bytes bytes;
    bool clean = false;
};

Reference referenceZlib(const Bytes& in, size_t cap) {
    Reference ref;
    ref.bytes.resize(cap);
    z_stream s{};
    inflateInit(&s);
    s.next_in = const_cast<uint8_t*>(in.data());
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = ref.bytes.data();
    s.avail_out = static_cast<uInt>(cap);
    int r;
    while ((r = inflate(&s, Z_NO_FLUSH)) == Z_OK && s.avail_out > 0) {
    }
    ref.clean = r == Z_STREAM_END || s.avail_out == 0;
    ref.bytes.resize(cap - s.avail_out);
    inflateEnd(&s);
    return ref;
}

Reference referenceBzip2(const Bytes& in, size_t cap) {
    Reference ref;
    ref.bytes.resize(cap);
    bz_stream s{};
    BZ2_bzDecompressInit(&s, 0, 0);
    s.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(in.data()));
    s.avail_in = static_cast<unsigned>(in.size());
    s.next_out = reinterpret_cast<char*>(ref.bytes.data());
    s.avail_out = static_cast<unsigned>(cap);
    // With all input given, BZ_OK without progress means the stream is cut.
    int r = BZ_OK;
    for (unsigned before = s.avail_out + 1; r == BZ_OK && s.avail_out > 0 && s.avail_out < before;) {
        before = s.avail_out;
        r = BZ2_bzDecompress(&s);
    }
    // On a failure the library need not count all it wrote, so only a
    // clean end fixes the length.
    ref.clean = r == BZ_STREAM_END || s.avail_out == 0;
    ref.bytes.resize(cap - s.avail_out);
    BZ2_bzDecompressEnd(&s);
    return ref;
}

std::unique_ptr<kiv::DecodingReader> makeReader(bool bzip2, kiv::Reader* source) {
    std::unique_ptr<kiv::DecodingReader> r;
    if (bzip2) r = std::make_unique<kiv::BZ2Reader>(source, 0);
    else r = std::make_unique<kiv::GZReader>(source, 0);
    r->limitOutput(kOutputCap);
    return r;
}

// Everything the reader delivers through plain reads of varying sizes.
Bytes drain(kiv::DecodingReader& reader) {
    Bytes got;
    uint8_t buffer[9000];
    for (unsigned i = 0;; ++i) {
        const int want = 1 + static_cast<int>((i * 2654435761u) % sizeof buffer);
        const int n = reader.read(buffer, want);
        if (n < 0 || n > want) breach("read count");
        if (n == 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    if (reader.read(buffer, 1) != 0 || reader.readChar() != 0) breach("ended reader delivers more");
    return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool bzip2 = data[0] & 1;
    static const int chunks[] = {1, 2, 3, 7};
    const int chunk = chunks[data[0] >> 1 & 3];
    const Bytes stream(data + 1, data + size);

    // A trickling source and the whole stream at once give the same bytes.
    kivtest::MemoryReader trickle(stream, chunk), whole(stream);
    auto slow = makeReader(bzip2, &trickle);
    const Bytes got = drain(*slow);
    {
        auto fast = makeReader(bzip2, &whole);
        if (drain(*fast) != got || fast->exceededLimit() != slow->exceededLimit())
            breach("the bytes depend on how the source delivers them");
    }

    // They are the library's decoding of the stream, and where the library
    // ends cleanly, all of it, up to the limit.
    const Reference ref = bzip2 ? referenceBzip2(stream, kOutputCap) : referenceZlib(stream, kOutputCap);
    const size_t common = std::min(got.size(), ref.bytes.size());
    if (!std::equal(got.begin(), got.begin() + static_cast<long>(common), ref.bytes.begin()))
        breach("the bytes differ from the library's");
    if (ref.clean && got.size() != ref.bytes.size()) {
        std::fprintf(stderr, "chunk %d: %zu bytes against %zu\n", chunk, got.size(), ref.bytes.size());
        breach("the bytes end elsewhere than the library's");
    }
    if (slow->exceededLimit() && got.size() != kOutputCap) breach("limit reported short of the limit");

    // The typed operations agree with the same bytes read by the model. Before
    // a failure the library may count less of what it wrote when it had less
    // room, so reading in other steps may end a damaged stream up to two
    // buffers sooner, but never differently; only the bytes before that are
    // compared strictly.
    kivtest::MemoryReader again(stream, chunk);
    auto reader = makeReader(bzip2, &again);
    kivtest::MemoryReader model(got);
    const int64_t total = static_cast<int64_t>(got.size());
    const int64_t trusted =
        ref.clean ? total : std::max<int64_t>(0, total - 2 * int64_t{kiv::DecodingReader::kOutputSize});
    for (unsigned step = 0; step < 20000; ++step) {
        const int64_t left = trusted - model.tell();
        if (left < 4096) {
            if (model.tell() >= total) break;
            if (reader->readChar() != model.readChar()) {
                uint8_t b;
                if (model.tell() <= trusted || reader->read(&b, 1) != 0) breach("readChar near the end");
                break;
            }
            continue;
        }
        switch ((step * 7 + data[0]) % 6) {
            case 0: if (reader->readChar() != model.readChar()) breach("readChar"); break;
            case 1: if (reader->readShort() != model.readShort()) breach("readShort"); break;
            case 2: if (reader->readInt() != model.readInt()) breach("readInt"); break;
            case 3: if (reader->readNumber() != model.readNumber()) breach("readNumber"); break;
            case 4: {
                // Only strings that end among the trusted bytes compare cleanly.
                const auto at = got.begin() + model.tell();
                if (std::find(at, got.begin() + trusted, 0) == got.begin() + trusted) {
                    if (reader->readChar() != model.readChar()) breach("readChar before a string");
                } else if (reader->readString() != model.readString()) {
                    breach("readString");
                }
                break;
            }
            default: {
                const int64_t skip = 1 + step % 5000;
                if (skip >= left) break;
                if (reader->seek(skip, 1) != skip) breach("skip count");
                model.seek(skip, 1);
                break;
            }
        }
    }
    return 0;
}
