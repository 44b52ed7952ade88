#include "readers/bz2_blocks.h"

#include <bzlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace kiv {
namespace bz2 {

namespace {

constexpr uint64_t kMagicMask = (uint64_t(1) << 48) - 1;

// Bits [bit, bit + count) of the stream, count <= 32; `data` holds its
// bytes from `firstByte` on.
uint32_t bitsAt(const uint8_t* data, uint64_t firstByte, uint64_t bit, unsigned count) {
    uint64_t v = 0;
    for (unsigned i = 0; i < count; ++i, ++bit) {
        const uint8_t byte = data[bit / 8 - firstByte];
        v = (v << 1) | ((byte >> (7 - bit % 8)) & 1u);
    }
    return static_cast<uint32_t>(v);
}

// Appends bits, high bit first, to a byte vector.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void put(uint64_t value, unsigned bits) {
        while (bits > 0) {
            const unsigned take = std::min(bits, 8 - used_);
            const unsigned part = static_cast<unsigned>(value >> (bits - take)) & ((1u << take) - 1);
            current_ = static_cast<uint8_t>(current_ | (part << (8 - used_ - take)));
            used_ += take;
            bits -= take;
            if (used_ == 8) {
                out_.push_back(current_);
                current_ = 0;
                used_ = 0;
            }
        }
    }
    // Bits [fromBit, toBit) of a stream whose bytes `data` holds from `firstByte` on.
    void copy(const uint8_t* data, uint64_t firstByte, uint64_t fromBit, uint64_t toBit) {
        // Up to the writer's next byte one bit group at a time; whole bytes
        // after that.
        while (fromBit < toBit && used_ != 0) {
            const unsigned n = static_cast<unsigned>(std::min<uint64_t>(toBit - fromBit, 8 - used_));
            put(bitsAt(data, firstByte, fromBit, n), n);
            fromBit += n;
        }
        const uint64_t whole = (toBit - fromBit) / 8;
        const uint8_t* p = data + (fromBit / 8 - firstByte);
        const unsigned shift = static_cast<unsigned>(fromBit % 8);
        if (shift == 0) {
            out_.insert(out_.end(), p, p + whole);
        } else {
            const size_t at = out_.size();
            out_.resize(at + whole);
            uint8_t* o = out_.data() + at;
            for (uint64_t j = 0; j < whole; ++j)
                o[j] = static_cast<uint8_t>((p[j] << shift) | (p[j + 1] >> (8 - shift)));
        }
        fromBit += whole * 8;
        if (fromBit < toBit) {
            const unsigned n = static_cast<unsigned>(toBit - fromBit);
            put(bitsAt(data, firstByte, fromBit, n), n);
        }
    }
    bool aligned() const { return used_ == 0; }
    void finish() {
        if (used_ != 0) out_.push_back(current_);
        current_ = 0;
        used_ = 0;
    }

private:
    std::vector<uint8_t>& out_;
    uint8_t current_ = 0;
    unsigned used_ = 0;
};

// For a magic starting at bit s of byte i, the bytes i + 1 and i + 2 are
// fixed; these tables give, per byte value, the magics and shifts it fits
// there (bit 8 * m + s: m 0 for the block magic, 1 for the end magic).
struct ByteFilters {
    uint16_t second[256] = {};
    uint16_t third[256] = {};
    ByteFilters() {
        const uint64_t magics[2] = {kBlockMagic, kEndMagic};
        for (unsigned m = 0; m < 2; ++m)
            for (unsigned s = 0; s < 8; ++s) {
                second[(magics[m] >> (32 + s)) & 0xFF] |= static_cast<uint16_t>(1u << (8 * m + s));
                third[(magics[m] >> (24 + s)) & 0xFF] |= static_cast<uint16_t>(1u << (8 * m + s));
            }
    }
};
const ByteFilters filters;

uint64_t bigEndian64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

// Small blocks of every length modulo 8, made once by libbz2 itself.
struct SmallBlock {
    std::vector<uint8_t> stream;  // the whole one-block stream
    uint64_t endBit = 0;          // where its end magic starts
    size_t output = 0;
};
struct SmallBlocks {
    std::array<SmallBlock, 8> byLength;
    bool complete = false;
    SmallBlocks() {
        unsigned found = 0;
        for (unsigned i = 1; i < 4000 && found != 0xFF; ++i) {
            std::string text = std::to_string(i * 2654435761u);
            text.resize(1 + i % 23, static_cast<char>('a' + i % 26));
            std::vector<uint8_t> stream(text.size() + 600);
            unsigned length = static_cast<unsigned>(stream.size());
            if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(stream.data()), &length, &text[0],
                                         static_cast<unsigned>(text.size()), 1, 0, 0) != BZ_OK)
                continue;
            stream.resize(length);
            std::vector<Candidate> marks;
            findCandidates(stream.data(), stream.size(), 0, kHeaderBits, uint64_t(length) * 8, marks);
            // Exactly the block at bit 32 and the end after it.
            if (marks.size() != 2 || marks[0].bit != kHeaderBits || marks[0].end || !marks[1].end) continue;
            const unsigned residue = static_cast<unsigned>((marks[1].bit - kHeaderBits) % 8);
            if (found & (1u << residue)) continue;
            found |= 1u << residue;
            byLength[residue].stream = std::move(stream);
            byLength[residue].endBit = marks[1].bit;
            byLength[residue].output = text.size();
        }
        complete = found == 0xFF;
    }
};

}  // namespace

void findCandidates(const uint8_t* data, size_t size, uint64_t firstByte, uint64_t fromBit, uint64_t toBit,
                    std::vector<Candidate>& found) {
    const uint64_t endBit = (firstByte + size) * 8;
    // The last bytes go through a zero-padded copy, so that every window
    // reads eight bytes.
    uint8_t tail[16] = {};
    const size_t tailStart = size > 8 ? size - 8 : 0;
    std::memcpy(tail, data + tailStart, size - tailStart);
    uint64_t i = std::max(firstByte, fromBit / 8);
    const uint64_t stop = std::min(firstByte + size, (toBit + 7) / 8);
    for (; i < stop; ++i) {
        const size_t at = static_cast<size_t>(i - firstByte);
        const uint8_t* p = at < tailStart ? data + at : tail + (at - tailStart);
        unsigned fits = filters.second[p[1]] & filters.third[p[2]];
        if (fits == 0) continue;
        const uint64_t window = bigEndian64(p);
        while (fits != 0) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(fits));
            fits &= fits - 1;
            const unsigned s = k % 8;
            const bool end = k >= 8;
            const uint64_t bit = i * 8 + s;
            // The magic and its CRC must be within the data.
            if (bit < fromBit || bit >= toBit || bit + kMarkBits > endBit) continue;
            if (((window >> (16 - s)) & kMagicMask) != (end ? kEndMagic : kBlockMagic)) continue;
            Candidate c;
            c.bit = bit;
            c.end = end;
            c.crc = bitsAt(data, firstByte, bit + 48, 32);
            found.push_back(c);
        }
    }
}

std::vector<uint8_t> unitStream(const uint8_t* data, uint64_t firstByte, uint64_t fromBit, uint64_t toBit,
                                uint8_t level, uint32_t combinedCrc) {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>((toBit - fromBit) / 8 + 16));
    BitWriter w(out);
    w.put(0x425A68, 24);  // "BZh"
    w.put(level, 8);
    w.copy(data, firstByte, fromBit, toBit);
    w.put(kEndMagic, 48);
    w.put(combinedCrc, 32);
    w.finish();
    return out;
}

bool alignedStart(uint64_t fromBit, uint8_t head, uint8_t level, AlignedStart& out) {
    static const SmallBlocks small;
    if (!small.complete) return false;
    const SmallBlock& block = small.byLength[fromBit % 8];
    try {
        out.bytes.clear();
        BitWriter w(out.bytes);
        w.put(0x425A68, 24);
        w.put(level, 8);
        w.copy(block.stream.data(), 0, kHeaderBits, block.endBit);
        const unsigned rest = static_cast<unsigned>((8 - fromBit % 8) % 8);
        w.put(head & ((1u << rest) - 1), rest);
        if (!w.aligned()) return false;
        out.ownOutput = block.output;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void* DecoderMemory::take(size_t bytes) {
    for (Kept& k : kept_) {
        if (k.p && !k.inUse && k.bytes == bytes) {
            k.inUse = true;
            return k.p.get();
        }
    }
    for (Kept& k : kept_) {
        if (k.inUse) continue;
        k.p.reset();  // the old one goes before the new one is asked for
        k.p.reset(std::malloc(bytes));
        k.bytes = k.p ? bytes : 0;
        k.inUse = k.p != nullptr;
        return k.p.get();
    }
    return std::malloc(bytes);
}

void DecoderMemory::give(void* p) {
    for (Kept& k : kept_) {
        if (k.p.get() == p) {
            k.inUse = false;
            return;
        }
    }
    std::free(p);
}

UnitResult decodeUnit(const std::vector<uint8_t>& stream, uint64_t cap, BlockOutput& out,
                      const std::atomic<bool>* cancel, DecoderMemory* memory) {
    out.pieces.clear();
    out.size = 0;
    bz_stream s{};
    if (memory) {
        s.opaque = memory;
        s.bzalloc = [](void* m, int n, int size) {
            return static_cast<DecoderMemory*>(m)->take(static_cast<size_t>(n) * static_cast<size_t>(size));
        };
        s.bzfree = [](void* m, void* p) { static_cast<DecoderMemory*>(m)->give(p); };
    }
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return UnitResult::NoMemory;
    struct End {
        bz_stream& s;
        ~End() { BZ2_bzDecompressEnd(&s); }
    } end{s};

    // Input in steps, so that a cancel is seen between them.
    constexpr size_t kStep = 64 * 1024;
    size_t fed = 0;
    bool large = false;
    uint8_t spill[4096];  // where the output of a large block goes
    try {
        for (;;) {
            if (cancel && cancel->load(std::memory_order_relaxed)) return UnitResult::Cancelled;
            if (s.avail_in == 0 && fed < stream.size()) {
                const size_t n = std::min(kStep, stream.size() - fed);
                s.next_in = const_cast<char*>(reinterpret_cast<const char*>(stream.data() + fed));
                s.avail_in = static_cast<unsigned>(n);
                fed += n;
            }
            if (s.avail_out == 0) {
                if (!large && out.size + BlockOutput::kPiece > cap) {
                    large = true;
                    out.pieces.clear();
                }
                if (large) {
                    s.next_out = reinterpret_cast<char*>(spill);
                    s.avail_out = sizeof spill;
                } else {
                    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[BlockOutput::kPiece]);
                    if (!piece) return UnitResult::NoMemory;
                    s.next_out = reinterpret_cast<char*>(piece.get());
                    s.avail_out = static_cast<unsigned>(BlockOutput::kPiece);
                    out.pieces.push_back(std::move(piece));
                }
            }
            const unsigned inBefore = s.avail_in;
            const unsigned outBefore = s.avail_out;
            const int r = BZ2_bzDecompress(&s);
            out.size += outBefore - s.avail_out;
            if (r == BZ_STREAM_END) {
                // Exactly one stream, ending with the last byte given.
                if (s.avail_in != 0 || fed != stream.size()) return UnitResult::Bad;
                return large ? UnitResult::Large : UnitResult::Good;
            }
            if (r == BZ_MEM_ERROR) return UnitResult::NoMemory;
            if (r != BZ_OK) return UnitResult::Bad;
            // Without progress and with nothing more to give, the stream is cut.
            if (s.avail_in == inBefore && s.avail_out == outBefore && (s.avail_in != 0 || fed == stream.size()))
                return UnitResult::Bad;
        }
    } catch (const std::bad_alloc&) {
        return UnitResult::NoMemory;
    }
}

}  // namespace bz2
}  // namespace kiv
