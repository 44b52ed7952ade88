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

Bytes zlibRepeated(const Bytes& head, const Bytes& unit, uint64_t copies, const Bytes& tail) {
    z_stream s{};
    if (deflateInit(&s, 9) != Z_OK) throw std::runtime_error("zlibRepeated: deflateInit failed");
    Bytes out;
    const auto feed = [&](const Bytes& in, int flush) {
        s.next_in = const_cast<Bytef*>(in.empty() ? &kNothing : in.data());
        s.avail_in = static_cast<uInt>(in.size());
        uint8_t chunk[16384];
        do {
            s.next_out = chunk;
            s.avail_out = sizeof chunk;
            deflate(&s, flush);
            out.insert(out.end(), chunk, chunk + (sizeof chunk - s.avail_out));
        } while (s.avail_out == 0 || s.avail_in != 0);
    };
    // After a full flush the compressor starts afresh, so equal units come
    // out as equal bytes; two are made to check that, the rest are copies.
    feed(head, Z_FULL_FLUSH);
    Bytes units[2];
    for (Bytes& u : units) {
        const size_t before = out.size();
        feed(unit, Z_FULL_FLUSH);
        u.assign(out.begin() + static_cast<long>(before), out.end());
    }
    if (copies < 2 || units[0] != units[1]) {
        deflateEnd(&s);
        throw std::runtime_error("zlibRepeated: the units do not repeat");
    }
    for (uint64_t i = 2; i < copies; ++i) out.insert(out.end(), units[1].begin(), units[1].end());
    feed(tail, Z_FINISH);
    deflateEnd(&s);
    // The trailer must check everything the stream stands for.
    uLong sum = adler32(adler32(1, nullptr, 0), head.data(), static_cast<uInt>(head.size()));
    const uLong unitSum = adler32(adler32(1, nullptr, 0), unit.data(), static_cast<uInt>(unit.size()));
    for (uint64_t i = 0; i < copies; ++i) sum = adler32_combine(sum, unitSum, static_cast<z_off_t>(unit.size()));
    sum = adler32(sum, tail.data(), static_cast<uInt>(tail.size()));
    for (int i = 0; i < 4; ++i) out[out.size() - 4 + i] = static_cast<uint8_t>(sum >> (24 - 8 * i));
    return out;
}

Bytes zlibCompress(const Bytes& data) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    Bytes out(length);
    if (compress2(out.data(), &length, source(data), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlibCompress: compress2 failed");
    out.resize(length);
    return out;
}

Bytes bzip2Compress(const Bytes& data, int level) {
    // bzip2's documented worst case: 1% larger plus 600 bytes.
    unsigned length = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
    Bytes out(length);
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                                 const_cast<char*>(reinterpret_cast<const char*>(source(data))),
                                 static_cast<unsigned>(data.size()), level, 0, 0) != BZ_OK)
        throw std::runtime_error("bzip2Compress: BZ2_bzBuffToBuffCompress failed");
    out.resize(length);
    return out;
}

}  // namespace kivtest
