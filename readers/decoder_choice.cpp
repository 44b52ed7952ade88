#include "readers/decoder_choice.h"

#include "readers/bz2_reader.h"

namespace kiv {

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
        case 'y': return std::make_unique<BZ2Reader>(source, start);
        default: throw ReaderError("Unsupported compression format!");
    }
}

}  // namespace kiv
