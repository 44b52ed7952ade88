#include "readers/gz_reader.h"

namespace kiv {

GZReader::GZReader(Reader* source, int64_t start) : DecodingReader(source, start) {
    // The stream format is fixed by the archive, not by the library version
    // at hand; any 1.x library decodes it.
    if (inflateInit_(&stream_, "1.2.2", static_cast<int>(sizeof(z_stream))) != Z_OK)
        throw ReaderError("Error initializing GZ");
    setInput(inputBuffer(), 0);
}

GZReader::~GZReader() { inflateEnd(&stream_); }

void GZReader::setInput(uint8_t* data, unsigned length) {
    stream_.next_in = data;
    stream_.avail_in = length;
}

void GZReader::setOutput(uint8_t* data, unsigned room) {
    stream_.next_out = data;
    stream_.avail_out = room;
}

DecodingReader::Step GZReader::decode() {
    switch (inflate(&stream_, Z_NO_FLUSH)) {
        case Z_OK: return Step::Ok;
        case Z_STREAM_END: return Step::End;
        default: return Step::Fail;
    }
}

}  // namespace kiv
