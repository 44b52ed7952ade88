#include "readers/archive_integer.h"

#include "readers/reader.h"

namespace kiv {

uint64_t decodeArchiveInteger(Reader& reader) {
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
    for (uint64_t i = 0; i < length; ++i)
        value = (value << 8) | static_cast<uint8_t>(reader.readChar());
    return value;
}

}  // namespace kiv
