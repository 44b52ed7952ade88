// Hand-made deflate streams: blocks whose codes and symbols are spelled out,
// including ones no compressor makes (codes zlib refuses, symbols outside
// the alphabet), for the tests and fuzz seeds of the inflate engines.
//
//   DeflateCraft c;
//   c.dynamicHeader(true, lit, dist);   // code lengths per symbol
//   c.literal('a').match(3, 1).endOfBlock();
//   Bytes z = c.zlib(adlerOf);          // 78 DA, the blocks, Adler-32
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace kivtest {

class DeflateCraft {
public:
    using Bytes = std::vector<uint8_t>;
    using Lengths = std::vector<uint8_t>;

    // `n` bits of `v`, least significant first (the header fields).
    DeflateCraft& bits(uint32_t v, int n) {
        for (int i = 0; i < n; ++i) bits_.push_back(static_cast<uint8_t>((v >> i) & 1));
        return *this;
    }
    // A Huffman codeword of `n` bits, most significant first.
    DeflateCraft& code(uint32_t c, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back(static_cast<uint8_t>((c >> i) & 1));
        return *this;
    }
    DeflateCraft& align() {
        while (bits_.size() % 8) bits_.push_back(0);
        return *this;
    }
    // Blocks made elsewhere (raw deflate ending on a byte boundary, as after
    // a sync flush), at a byte boundary.
    DeflateCraft& blocks(const Bytes& raw) {
        align();
        for (uint8_t b : raw) bits(b, 8);
        return *this;
    }

    DeflateCraft& storedBlock(bool final, const Bytes& data) {
        bits(final, 1).bits(0, 2).align();
        bits(static_cast<uint32_t>(data.size()), 16).bits(static_cast<uint32_t>(~data.size()) & 0xFFFF, 16);
        for (uint8_t b : data) bits(b, 8);
        return *this;
    }
    // A block with the fixed codes: literals 0-143 of 8 bits, 144-255 of 9,
    // 256-279 of 7, 280-287 of 8; distances 0-31 of 5.
    DeflateCraft& fixedHeader(bool final) {
        lit_.assign(288, 8);
        for (int i = 144; i < 256; ++i) lit_[i] = 9;
        for (int i = 256; i < 280; ++i) lit_[i] = 7;
        dist_.assign(32, 5);
        return bits(final, 1).bits(1, 2);
    }
    // A block with these litlen and distance code lengths (their counts are
    // HLIT + 257 and HDIST + 1). The lengths are sent as plain length
    // symbols, or as `sequence` (pairs of symbol and extra bits, 16-18 with
    // their repeat counts); the code length code is complete over the
    // symbols used unless `precode` gives it.
    DeflateCraft& dynamicHeader(bool final, const Lengths& lit, const Lengths& dist,
                                std::vector<std::pair<int, int>> sequence = {}, Lengths precode = {}) {
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        lit_ = lit;
        dist_ = dist;
        if (sequence.empty()) {
            for (uint8_t l : lit) sequence.push_back({l, 0});
            for (uint8_t l : dist) sequence.push_back({l, 0});
        }
        if (precode.empty()) {
            std::vector<int> used;
            for (const auto& s : sequence)
                if (std::find(used.begin(), used.end(), s.first) == used.end()) used.push_back(s.first);
            if (used.size() == 1) used.push_back(used[0] == 0 ? 1 : 0);
            std::sort(used.begin(), used.end());
            int k = 1;
            while ((1u << k) < used.size()) ++k;
            precode.assign(19, 0);
            const size_t shorter = (1u << k) - used.size();  // these get k - 1 bits
            for (size_t i = 0; i < used.size(); ++i) precode[used[i]] = static_cast<uint8_t>(i < shorter ? k - 1 : k);
        }
        int count = 19;
        while (count > 4 && precode[order[count - 1]] == 0) --count;
        bits(final, 1).bits(2, 2);
        bits(static_cast<uint32_t>(lit.size() - 257), 5).bits(static_cast<uint32_t>(dist.size() - 1), 5);
        bits(static_cast<uint32_t>(count - 4), 4);
        for (int i = 0; i < count; ++i) bits(precode[order[i]], 3);
        const std::vector<uint32_t> codes = canonical(precode);
        for (const auto& s : sequence) {
            code(codes[s.first], precode[s.first]);
            const int extra = s.first == 16 ? 2 : s.first == 17 ? 3 : s.first == 18 ? 7 : 0;
            bits(static_cast<uint32_t>(s.second), extra);
        }
        return *this;
    }

    // Symbols of the current block's codes.
    DeflateCraft& symbol(int litlen) { return code(canonical(lit_)[litlen], lit_[litlen]); }
    DeflateCraft& literal(uint8_t byte) { return symbol(byte); }
    DeflateCraft& endOfBlock() { return symbol(256); }
    // A distance symbol with its extra bits, after a length symbol.
    DeflateCraft& distance(int symbol, uint32_t extra = 0, int extraBits = 0) {
        code(canonical(dist_)[symbol], dist_[symbol]);
        return bits(extra, extraBits);
    }
    // A match of 3-10 bytes at a distance of 1-4 (no extra bits either way).
    DeflateCraft& match(int length, int distanceBack) {
        symbol(254 + length);
        return distance(distanceBack - 1);
    }

    Bytes raw() const {
        Bytes out((bits_.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits_.size(); ++i) out[i / 8] |= static_cast<uint8_t>(bits_[i] << (i % 8));
        return out;
    }
    // The blocks as a zlib stream whose trailer is the Adler-32 of `adlerOf`:
    // the bytes a decoder that took the blocks as written would produce.
    // `cmf` is the header's first byte (0x78: deflate, 32 KiB window); the
    // second is made to fit it.
    Bytes zlib(const Bytes& adlerOf, uint8_t cmf = 0x78) const {
        uint8_t flg = 0xC0;
        flg = static_cast<uint8_t>(flg + (31 - (cmf * 256 + flg) % 31) % 31);
        Bytes out = {cmf, flg};
        const Bytes blocks = raw();
        out.insert(out.end(), blocks.begin(), blocks.end());
        const uLong a = adler32(adler32(0, nullptr, 0), adlerOf.data(), static_cast<uInt>(adlerOf.size()));
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(a >> shift));
        return out;
    }

    // Canonical codewords for code lengths (RFC 1951, 3.2.2).
    static std::vector<uint32_t> canonical(const Lengths& lengths) {
        uint32_t count[16] = {0}, next[16] = {0};
        for (uint8_t l : lengths)
            if (l) ++count[l];
        for (int b = 1, c = 0; b < 16; ++b) {
            c = (c + static_cast<int>(count[b - 1])) << 1;
            next[b] = static_cast<uint32_t>(c);
        }
        std::vector<uint32_t> codes(lengths.size(), 0);
        for (size_t i = 0; i < lengths.size(); ++i)
            if (lengths[i]) codes[i] = next[lengths[i]]++;
        return codes;
    }

private:
    std::vector<uint8_t> bits_;
    Lengths lit_, dist_;
};

}  // namespace kivtest
