// What a reader gives, call by call, when it is read through to its end in
// one of a few patterns: the count of every read and the bytes. Two readers
// that must be interchangeable give equal transcripts.
#pragma once

#include <cstdint>
#include <vector>

#include "readers/reader.h"

namespace kivtest {

struct Transcript {
    std::vector<int> counts;
    std::vector<uint8_t> bytes;
    bool operator==(const Transcript& o) const { return counts == o.counts && bytes == o.bytes; }
    bool operator!=(const Transcript& o) const { return !(*this == o); }
};

// Pattern 0: as extraction reads, blocks of 256 KiB, each filled by reads
// for what is missing; 1: reads of 1 to 300,000 bytes; 2: reads of 1 to 9000
// bytes; 3: as 2, with skips among them. Sizes follow `seed`; at most
// `limit` bytes are read, and one read more after the end.
inline Transcript readTranscript(kiv::Reader& reader, unsigned pattern, uint32_t seed, uint64_t limit = 1 << 26) {
    Transcript t;
    std::vector<uint8_t> buffer(300000);
    uint32_t x = seed * 2654435761u + 1;
    const auto next = [&x](uint32_t range) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return 1 + x % range;
    };
    size_t filled = 0;
    constexpr size_t kBlock = 256 * 1024;
    while (t.bytes.size() < limit) {
        int want;
        if (pattern == 0) want = static_cast<int>(kBlock - filled);
        else want = static_cast<int>(next(pattern == 1 ? 300000 : 9000));
        int n;
        if (pattern == 3 && next(4) == 1) {
            n = reader.seek(want, 1);
            t.counts.push_back(-n);  // skips counted apart from reads
        } else {
            n = reader.read(buffer.data(), want);
            t.counts.push_back(n);
            if (n > 0) t.bytes.insert(t.bytes.end(), buffer.data(), buffer.data() + n);
        }
        if (n <= 0) break;
        filled = (filled + static_cast<size_t>(n)) % kBlock;
    }
    t.counts.push_back(reader.read(buffer.data(), 1));
    return t;
}

}  // namespace kivtest
