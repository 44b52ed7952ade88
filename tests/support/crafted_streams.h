// Hand-made zlib streams on which an inflate engine could part from zlib:
// codes zlib refuses, symbols outside the alphabet, incomplete codes,
// windows it refuses, a bad trailer, streams zlib takes with codes no
// compressor makes, and long streams ending in such blocks or cut short.
// Each trailer is the Adler-32 of what a decoder taking the blocks at their
// word would make, so that a decoder less strict than zlib ends them
// "cleanly" with other bytes than zlib's. For the engines' tests and the
// seeds of their fuzz target.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/deflate_craft.h"

namespace kivtest {

struct CraftedStream {
    std::string name;
    std::vector<uint8_t> stream;
};

inline std::vector<uint8_t> craftedBytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Words of a small vocabulary, `n` bytes, the same for the same seed.
inline std::vector<uint8_t> craftedText(size_t n, unsigned seed) {
    static const char* const words[] = {"alpha ", "beta ", "gamma\n", "delta ", "kiv ", "0123 "};
    std::vector<uint8_t> out;
    uint32_t x = seed * 2654435761u + 1;
    while (out.size() < n) {
        x = x * 1664525u + 1013904223u;
        const char* w = words[(x >> 16) % 6];
        while (*w) out.push_back(static_cast<uint8_t>(*w++));
    }
    out.resize(n);
    return out;
}

using Bytes = std::vector<uint8_t>;

// 'a', 'b', the end of block and the match length 3, two bits each.
inline DeflateCraft::Lengths craftedAbLiterals(size_t count = 258) {
    using Lengths = DeflateCraft::Lengths;
    Lengths l(count, 0);
    l['a'] = l['b'] = l[256] = l[257] = 2;
    return l;
}

inline std::vector<CraftedStream> craftedZlibStreams() {
    using Lengths = DeflateCraft::Lengths;
    std::vector<CraftedStream> all;
    const auto add = [&](const std::string& name, const DeflateCraft& c, const Bytes& adlerOf, uint8_t cmf = 0x78) {
        all.push_back({name, c.zlib(adlerOf, cmf)});
    };
    {
        DeflateCraft c;  // a plain stream every engine decodes itself
        c.dynamicHeader(true, craftedAbLiterals(), {1, 1}).literal('a').literal('b').match(3, 2).endOfBlock();
        add("valid", c, craftedBytes("ababa"));
        add("bad trailer", c, craftedBytes("ababb"));
        add("window beyond 32 KiB", c, craftedBytes("ababa"), 0x88);
        // A preset dictionary asked for (FDICT, then its Adler-32): zlib
        // wants the dictionary and delivers nothing.
        Bytes z = c.zlib(craftedBytes("ababa"));
        z[1] = static_cast<uint8_t>(0xC0 | 0x20);
        z[1] = static_cast<uint8_t>(z[1] + (31 - (z[0] * 256 + z[1]) % 31) % 31);
        z.insert(z.begin() + 2, {0x00, 0x00, 0x00, 0x01});
        all.push_back({"preset dictionary", z});
    }
    {
        DeflateCraft c;  // 287 litlen codes: zlib allows 286
        c.dynamicHeader(true, craftedAbLiterals(287), {1, 1}).literal('a').literal('b').match(3, 2).endOfBlock();
        add("287 litlen codes", c, craftedBytes("ababa"));
    }
    {
        Lengths dist(31, 0);
        dist[0] = dist[1] = 1;
        DeflateCraft c;  // 31 distance codes: zlib allows 30
        c.dynamicHeader(true, craftedAbLiterals(), dist).literal('a').literal('b').match(3, 2).endOfBlock();
        add("31 distance codes", c, craftedBytes("ababa"));
    }
    {
        // After the first distance length, 11 zeros run past the last one.
        const Lengths lit = craftedAbLiterals();
        std::vector<std::pair<int, int>> sequence;
        for (uint8_t l : lit) sequence.push_back({l, 0});
        sequence.push_back({1, 0});
        sequence.push_back({18, 0});
        DeflateCraft c;
        c.dynamicHeader(true, lit, {1, 0}, sequence).literal('a').literal('b').match(3, 1).endOfBlock();
        add("lengths repeated past the end", c, craftedBytes("abbbb"));
    }
    {
        Lengths lit(257, 0);
        lit[256] = 1;
        DeflateCraft c;  // the only litlen codeword is '0'; '1' is sent
        c.dynamicHeader(false, lit, {1, 1}).bits(1, 1).storedBlock(true, craftedBytes("ab"));
        add("unused litlen codeword", c, craftedBytes("ab"));
    }
    {
        DeflateCraft c;  // the only distance codeword is '0'; '1' is sent
        c.dynamicHeader(true, craftedAbLiterals(), {1}).literal('a').literal('b').symbol(257).bits(1, 1).endOfBlock();
        add("unused distance codeword", c, craftedBytes("abbbb"));
    }
    {
        DeflateCraft c;  // no distance codes, and a match
        c.dynamicHeader(true, craftedAbLiterals(), {0}).literal('a').literal('b').symbol(257).bits(0, 1).endOfBlock();
        add("match without distance codes", c, craftedBytes("abbbb"));
    }
    {
        DeflateCraft c;  // litlen symbol 286 exists only in the fixed code
        c.fixedHeader(true).literal('a').literal('b').symbol(286).distance(1).endOfBlock();
        Bytes out = craftedBytes("ab");
        for (int i = 0; i < 258; ++i) out.push_back(out[out.size() - 2]);
        add("litlen symbol 286", c, out);
    }
    {
        const Bytes before = craftedText(30000, 21);
        DeflateCraft c;  // distance symbol 30 exists only in the fixed code
        c.storedBlock(false, before).fixedHeader(true).symbol(257).distance(30, 0, 13).endOfBlock();
        Bytes out = before;
        for (int i = 0; i < 3; ++i) out.push_back(out[out.size() - 24577]);
        add("distance symbol 30", c, out);
    }
    {
        Lengths lit(258, 0);
        lit['a'] = lit['b'] = lit[256] = 2;
        DeflateCraft c;  // three of four codewords
        c.dynamicHeader(true, lit, {1, 1}).literal('a').literal('b').endOfBlock();
        add("incomplete litlen code", c, craftedBytes("ab"));
    }
    {
        DeflateCraft c;
        c.dynamicHeader(true, craftedAbLiterals(), {2, 2}).literal('a').literal('b').match(3, 2).endOfBlock();
        add("incomplete distance code", c, craftedBytes("ababa"));
    }
    {
        Lengths precode(19, 0);
        precode[0] = precode[1] = precode[2] = 3;
        DeflateCraft c;
        c.dynamicHeader(true, craftedAbLiterals(), {1, 1}, {}, precode).literal('a').literal('b').match(3, 2).endOfBlock();
        add("incomplete code length code", c, craftedBytes("ababa"));
    }
    {
        DeflateCraft c;
        c.dynamicHeader(true, craftedAbLiterals(), {1, 1}).literal('a').match(3, 2).endOfBlock();
        add("distance beyond the start", c, craftedBytes("a"));
    }
    // zlib takes these; the patched engines leave them to it.
    {
        DeflateCraft c;
        c.dynamicHeader(true, craftedAbLiterals(), {1}).literal('a').literal('b').match(3, 1).endOfBlock();
        add("one distance code", c, craftedBytes("abbbb"));
    }
    {
        Lengths lit(257, 0);
        lit['a'] = 1;
        lit['b'] = lit[256] = 2;
        DeflateCraft c;
        c.dynamicHeader(true, lit, {0}).literal('a').literal('b').endOfBlock();
        add("no distance codes", c, craftedBytes("ab"));
    }
    // Long streams whose end the fast engines leave to zlib, after they have
    // delivered most of it: zlib must take over where they stopped.
    {
        const Bytes data = craftedText(300000, 23);
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        Bytes raw(deflateBound(&z, data.size()) + 64);
        z.next_in = const_cast<uint8_t*>(data.data());
        z.avail_in = static_cast<uInt>(data.size());
        z.next_out = raw.data();
        z.avail_out = static_cast<uInt>(raw.size());
        deflate(&z, Z_SYNC_FLUSH);
        raw.resize(raw.size() - z.avail_out);
        deflateEnd(&z);
        Bytes out = data;
        const Bytes tail = craftedBytes("abbbb");
        out.insert(out.end(), tail.begin(), tail.end());
        DeflateCraft refused, taken;
        refused.blocks(raw).dynamicHeader(true, craftedAbLiterals(), {1}).literal('a').literal('b').symbol(257).bits(1, 1).endOfBlock();
        add("300 KB, then an unused distance codeword", refused, out);
        taken.blocks(raw).dynamicHeader(true, craftedAbLiterals(), {1}).literal('a').literal('b').match(3, 1).endOfBlock();
        add("300 KB, then one distance code", taken, out);
        DeflateCraft cut;
        cut.blocks(Bytes(raw.begin(), raw.begin() + static_cast<long>(raw.size() * 3 / 4)));
        all.push_back({"300 KB, cut", cut.raw()});
        all.back().stream.insert(all.back().stream.begin(), {0x78, 0xDA});
    }
    return all;
}

}  // namespace kivtest
