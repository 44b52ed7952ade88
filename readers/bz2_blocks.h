// The block structure of a bzip2 stream, for decoding its blocks apart.
//
// A stream is "BZh" and a level digit, then blocks at any bit offset, each
// starting with the 48-bit block magic and its 32-bit CRC, then the 48-bit
// end magic and the 32-bit combined CRC of all blocks. Magics are not
// escaped: the same bits may appear inside a block's data, so every place a
// magic appears is only a candidate until a block decodes cleanly between
// two of them. Bit offsets here count from the stream's first bit, the high
// bit of its first byte.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace kiv {
namespace bz2 {

constexpr uint64_t kBlockMagic = 0x314159265359ull;
constexpr uint64_t kEndMagic = 0x177245385090ull;
constexpr uint64_t kHeaderBits = 32;
// A magic and the CRC after it.
constexpr uint64_t kMarkBits = 48 + 32;
// No block reaches this far: at most 900,050 coded symbols of at most 20
// bits, and tables of a few kilobytes.
constexpr uint64_t kMaxBlockBytes = 2400000;

// The combined CRC after one more block.
inline uint32_t combineCrc(uint32_t combined, uint32_t block) { return ((combined << 1) | (combined >> 31)) ^ block; }

struct Candidate {
    uint64_t bit = 0;   // where the magic starts
    bool end = false;   // the end magic rather than the block magic
    uint32_t crc = 0;   // the 32 bits after the magic
};

// Every candidate whose magic starts at a bit in [fromBit, toBit), in
// order. `data` holds stream bytes from `firstByte` on, `size` of them; a
// magic is a candidate only when its CRC lies within them too.
void findCandidates(const uint8_t* data, size_t size, uint64_t firstByte, uint64_t fromBit, uint64_t toBit,
                    std::vector<Candidate>& found);

// The bits [fromBit, toBit) of the stream (`data` holds its bytes from
// `firstByte` on) as a stream of their own: "BZh" and `level`, those bits
// from the next byte on, the end magic and `combinedCrc`.
std::vector<uint8_t> unitStream(const uint8_t* data, uint64_t firstByte, uint64_t fromBit, uint64_t toBit,
                                uint8_t level, uint32_t combinedCrc);

// The start of a stream that decodes, from `fromBit` of the original on,
// exactly as the original does, with every later bit at the same place
// within its byte: "BZh" and `level`, one small block of its own whose
// length fits, and the original's bits up to its next byte. The original's
// bytes from fromBit / 8 rounded up follow it. `ownOutput` is how many
// bytes the small block decodes to, before the original's.
struct AlignedStart {
    std::vector<uint8_t> bytes;
    size_t ownOutput = 0;
};
// `head` is the original's byte holding fromBit (unused when fromBit is a
// multiple of 8). False without memory.
bool alignedStart(uint64_t fromBit, uint8_t head, uint8_t level, AlignedStart& out);

// What one block decodes to, in pieces of kPiece bytes.
struct BlockOutput {
    static constexpr size_t kPiece = 128 * 1024;
    std::vector<std::unique_ptr<uint8_t[]>> pieces;
    uint64_t size = 0;
};

enum class UnitResult {
    Good,       // a whole stream, ending exactly at its last byte; `out` holds what it decodes to
    Large,      // the same, but it decodes to more than the cap: only out.size is kept
    Bad,        // anything else
    NoMemory,
    Cancelled,
};

// The tables libbz2 asks for, kept from one unit to the next on one
// thread. A fresh 3.6 MB table per block left the C library holding freed
// ones in every worker's arena: some 15 MB more at the peak with 8 workers.
class DecoderMemory {
public:
    // As malloc and free; null without memory.
    void* take(size_t bytes);
    void give(void* p);

private:
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    struct Kept {
        std::unique_ptr<void, Free> p;
        size_t bytes = 0;
        bool inUse = false;
    };
    Kept kept_[2];  // a decoder's state and its table
};

// Decodes `stream` (from unitStream) with libbz2, as its own sequential
// decoder would. Stops early when `cancel` is set. With `memory`, libbz2
// allocates through it.
UnitResult decodeUnit(const std::vector<uint8_t>& stream, uint64_t cap, BlockOutput& out,
                      const std::atomic<bool>* cancel, DecoderMemory* memory = nullptr);

}  // namespace bz2
}  // namespace kiv
