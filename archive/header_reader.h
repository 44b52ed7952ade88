#pragma once

#include "archive/context.h"

namespace kiv {

// Reads the archive header after the slice header, stacks the unscrambling
// reader when the archive is scrambled (asking for the password), finds the
// catalogue through the terminator, builds the catalogue reader and reads
// the catalogue. The primary reader stands at the data start position.
// Returns 0, or 14 for every failure of its own, or the catalogue's code.
int readHeaderAndCatalogue(ArchiveContext& context);

// An entry's data lengths, for choosing how to decode it.
struct StreamSizes {
    uint64_t decoded = 0;
    uint64_t stored = 0;
};

// Builds the reader that decodes data compressed with `code` ('n' a plain
// view, 'p'/'z' zlib, 'y' bzip2) over `source` from `start`. Throws
// ReaderError, "Unsupported compression format!" for other codes. With the
// entry's sizes, bzip2 data of at least four blocks is decoded on the
// process's decoding workers while any are free; without them (the
// catalogue) every stream is decoded on the calling thread.
std::unique_ptr<Reader> makeDecodingReader(uint8_t code, Reader* source, int64_t start,
                                           const StreamSizes* sizes = nullptr);

}  // namespace kiv
