#include "readers/decoder_choice.h"

#include "readers/bz2_reader.h"
#include "readers/decoding_workers.h"
#include "readers/parallel_bz2_reader.h"

namespace kiv {

namespace {

// bzip2 data worth decoding on several threads: at least four blocks of the
// level its header names.
bool manyBlocks(Reader* source, int64_t start, const PackedExtent* extent) {
    if (!extent || extent->storedSize == 0 || !source || source->seek(start, 0) != 0) return false;
    char header[4];
    if (source->read(header, 4) != 4 || header[0] != 'B' || header[1] != 'Z' || header[2] != 'h' ||
        header[3] < '1' || header[3] > '9')
        return false;
    return extent->size / 4 >= uint64_t(header[3] - '0') * 100000;
}

}  // namespace

std::unique_ptr<Reader> makeDecodingReader(uint8_t code, Reader* source, int64_t start, const PackedExtent* extent,
                                           DecoderCache* cache) {
    switch (code) {
        case 'n': return std::make_unique<Reader>(source, start);
        case 'p':
        case 'z': {
            const PackedExtent none;
            const PackedExtent& e = extent ? *extent : none;
            return std::make_unique<InflateReader>(source, start, InflateReader::choose(e.storedSize, e.size),
                                                   e.storedSize, e.size, cache ? &cache->inflate : nullptr);
        }
        case 'y':
            if (manyBlocks(source, start, extent)) {
                WorkerLease lease = WorkerLease::take(decodingWorkerLimit());
                if (lease.count() > 0)
                    return std::make_unique<ParallelBZ2Reader>(source, start, extent->storedSize, std::move(lease));
            }
            return std::make_unique<BZ2Reader>(source, start);
        default: throw ReaderError("Unsupported compression format!");
    }
}

}  // namespace kiv
