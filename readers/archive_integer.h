// The archive integer: a width prefix (zero or more 00 bytes, then a non-zero
// byte B) and 4 * (z + 1) value bytes, most significant first. z is 8 per 00
// byte plus the zero bits above B's top one-bit. Values wider than 64 bits
// keep their low 64 bits.
#pragma once

#include <cstdint>

namespace kiv {

// Longest run of 00 prefix bytes accepted. Real archives use none; a reader
// whose data has ended yields zeros for ever, so the run must be bounded.
// Past the bound the decoding stops and yields 0.
constexpr unsigned kMaxNumberZeroPrefix = 64;

// Decodes one archive integer from `reader`'s own readChar. A template so
// that a final reader class gets its readChar inlined.
template <typename R>
uint64_t decodeArchiveInteger(R& reader) {
    unsigned z = 0;
    unsigned zeros = 0;
    unsigned b;
    for (;;) {
        b = static_cast<uint8_t>(reader.readChar());
        if (b != 0) break;
        if (++zeros > kMaxNumberZeroPrefix) return 0;
        z += 8;
    }
    while ((b & 0x80) == 0) {
        b <<= 1;
        ++z;
    }
    uint64_t value = 0;
    const uint64_t length = 4 * (static_cast<uint64_t>(z) + 1);
    for (uint64_t i = 0; i < length; ++i) value = (value << 8) | static_cast<uint8_t>(reader.readChar());
    return value;
}

}  // namespace kiv
