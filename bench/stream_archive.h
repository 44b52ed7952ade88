// A one-entry archive written as a stream: the extraction benchmarks need
// entries of hundreds of MiB, which the test archive writer would hold in
// memory several times over. The bytes are exactly what the test archive
// writer makes for the same entry (bench's self-check compares the two), and
// the pieces that are not entry data come from the writer's own encoders.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace kivbench {

struct OneEntryOptions {
    uint8_t compression = 'n';      // 'n' stored, 'z' zlib, 'y' bzip2
    std::string password;           // empty: not scrambled
    std::string name = "big.txt";
    uint64_t time = 1717243200;     // seconds since 1970
    int zlibLevel = 9;              // the writer's level, so both agree
};

// Hands out the entry's bytes: fills up to `max` bytes, returns how many.
using Producer = std::function<size_t(uint8_t* buffer, size_t max)>;

struct OneEntryLayout {
    uint64_t dataOffset = 0;   // absolute file offset of the stored data
    uint64_t storedSize = 0;   // bytes of stored data (the compressed stream, or the plain bytes)
    uint16_t checksum = 0;
};

// Writes the archive to `path`. When `streamCopy` is given, the stored data
// (the compressed stream, unscrambled) is also written there, so baselines
// can decode the very same stream. Throws std::runtime_error on failure.
OneEntryLayout writeOneEntryArchive(const std::string& path, const OneEntryOptions& options,
                                    uint64_t size, const Producer& produce,
                                    const std::string& streamCopy = {});

}  // namespace kivbench
