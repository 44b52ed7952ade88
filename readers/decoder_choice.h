// The one place that decides which reader decodes stored data: by the
// archive's compression code, and for zlib data by what the catalogue says
// of the entry (see InflateReader).
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
// codes.
std::unique_ptr<Reader> makeDecodingReader(uint8_t code, Reader* source, int64_t start,
                                           const PackedExtent* extent = nullptr, DecoderCache* cache = nullptr);

}  // namespace kiv
