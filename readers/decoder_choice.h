// The one place that decides which reader decodes stored data: by the
// archive's compression code, and by what the catalogue says of the entry:
// for zlib data its sizes pick the engine (see InflateReader), for bzip2 data
// they decide whether blocks are decoded side by side (ParallelBZ2Reader).
#pragma once

#include <cstdint>
#include <memory>

#include "readers/inflate_reader.h"
#include "readers/reader.h"

namespace kiv {

// One entry's stored data as the catalogue describes it.
struct PackedExtent {
    uint64_t storedSize = 0;  // bytes stored (compressed)
    uint64_t size = 0;        // bytes after decoding
};

// What the decoders keep between the entries of one archive, so that
// extracting many entries does not allocate for each. Owned by the
// archive's context and released with its readers; one call uses it at a
// time.
struct DecoderCache {
    InflateBuffers inflate;

    void clear() { inflate.clear(); }
};

// Builds the reader that decodes data compressed with `code` ('n' a plain
// view, 'p'/'z' zlib, 'y' bzip2) over `source` from `start`. `extent` is the
// entry's when the data is an entry's (null for the catalogue); `cache` may
// be null. Throws ReaderError, "Unsupported compression format!" for other
// codes. With an entry's extent, bzip2 data of at least four blocks is
// decoded on the process's decoding workers while any are free; without one
// (the catalogue) bzip2 is decoded on the calling thread.
std::unique_ptr<Reader> makeDecodingReader(uint8_t code, Reader* source, int64_t start,
                                           const PackedExtent* extent = nullptr, DecoderCache* cache = nullptr);

}  // namespace kiv
