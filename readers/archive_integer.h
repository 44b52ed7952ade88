// The archive integer: a width prefix (zero or more 00 bytes, then a non-zero
// byte B) and 4 * (z + 1) value bytes, most significant first. z is 8 per 00
// byte plus the zero bits above B's top one-bit. Values wider than 64 bits
// keep their low 64 bits.
#pragma once

#include <cstdint>

namespace kiv {

class Reader;

// Longest run of 00 prefix bytes accepted. Real archives use none; a reader
// whose data has ended yields zeros for ever, so the run must be bounded.
// Past the bound the decoding stops and yields 0.
constexpr unsigned kMaxNumberZeroPrefix = 64;

// Decodes one archive integer from `reader`'s own readChar.
uint64_t decodeArchiveInteger(Reader& reader);

}  // namespace kiv
