// Byte-level encodings the archive uses: archive integers, the entry
// checksum, and the two compressed stream formats.
#include "tests/writer/archive_writer.h"

#include <bzlib.h>
#include <zlib.h>

#include <stdexcept>

namespace kivtest {

Bytes encodeNumber(uint64_t value, unsigned valueBytes, uint8_t extraLowBits) {
    if (valueBytes == 0 || valueBytes % 4 != 0)
        throw std::invalid_argument("encodeNumber: valueBytes must be a positive multiple of 4");
    if (valueBytes < 8 && (value >> (8 * valueBytes)) != 0)
        throw std::invalid_argument("encodeNumber: value does not fit in valueBytes");
    // z counts the zero bits of the width prefix above its first one-bit.
    const unsigned z = valueBytes / 4 - 1;
    Bytes out(z / 8, 0x00);
    const uint8_t topBit = static_cast<uint8_t>(0x80u >> (z % 8));
    if (extraLowBits & ~(topBit - 1u) & 0xFFu)
        throw std::invalid_argument("encodeNumber: extraLowBits reach the width bit");
    out.push_back(static_cast<uint8_t>(topBit | extraLowBits));
    for (unsigned i = valueBytes; i-- > 0;)
        out.push_back(i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0x00);
    return out;
}

uint16_t checksum(const Bytes& data) {
    uint8_t even = 0, odd = 0;
    for (size_t i = 0; i < data.size(); ++i)
        (i % 2 == 0 ? even : odd) ^= data[i];
    return static_cast<uint16_t>(even << 8 | odd);
}

Bytes toBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

namespace {
// Both libraries refuse a null source even for zero bytes.
const uint8_t kNothing = 0;
const uint8_t* source(const Bytes& data) { return data.empty() ? &kNothing : data.data(); }
}  // namespace

Bytes zlibCompress(const Bytes& data) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    Bytes out(length);
    if (compress2(out.data(), &length, source(data), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlibCompress: compress2 failed");
    out.resize(length);
    return out;
}

Bytes bzip2Compress(const Bytes& data) {
    // bzip2's documented worst case: 1% larger plus 600 bytes.
    unsigned length = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
    Bytes out(length);
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                                 const_cast<char*>(reinterpret_cast<const char*>(source(data))),
                                 static_cast<unsigned>(data.size()), 9, 0, 0) != BZ_OK)
        throw std::runtime_error("bzip2Compress: BZ2_bzBuffToBuffCompress failed");
    out.resize(length);
    return out;
}

}  // namespace kivtest
