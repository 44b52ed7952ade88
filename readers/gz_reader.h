// zlib-format data (2-byte header, deflate data, Adler-32 trailer).
#pragma once

#include <zlib.h>

#include "readers/decoding_reader.h"

namespace kiv {

class GZReader : public DecodingReader {
public:
    // Throws "Passed NULL reader!", "Out of memory!" or "Error initializing GZ".
    GZReader(Reader* source, int64_t start);
    ~GZReader() override;

protected:
    void setInput(uint8_t* data, unsigned length) override;
    unsigned inputLeft() const override { return stream_.avail_in; }
    void setOutput(uint8_t* data, unsigned room) override;
    uint8_t* outputNext() const override { return stream_.next_out; }
    Step decode() override;

    z_stream& zstream() { return stream_; }

private:
    z_stream stream_{};
};

}  // namespace kiv
