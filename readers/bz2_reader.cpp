#include "readers/bz2_reader.h"

namespace kiv {

BZ2Reader::BZ2Reader(Reader* source, int64_t start) : DecodingReader(source, start) {
    if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) throw ReaderError("Error initializing BZ2");
    setInput(inputBuffer(), 0);
}

BZ2Reader::~BZ2Reader() { BZ2_bzDecompressEnd(&stream_); }

void BZ2Reader::setInput(uint8_t* data, unsigned length) {
    stream_.next_in = reinterpret_cast<char*>(data);
    stream_.avail_in = length;
}

void BZ2Reader::setOutput(uint8_t* data, unsigned room) {
    stream_.next_out = reinterpret_cast<char*>(data);
    stream_.avail_out = room;
}

DecodingReader::Step BZ2Reader::decode() {
    switch (BZ2_bzDecompress(&stream_)) {
        case BZ_OK: return Step::Ok;
        case BZ_STREAM_END: return Step::End;
        default: return Step::Fail;
    }
}

}  // namespace kiv
