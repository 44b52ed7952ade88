// bzip2 data.
#pragma once

#include <bzlib.h>

#include "readers/decoding_reader.h"

namespace kiv {

class BZ2Reader : public DecodingReader {
public:
    // Throws "Passed NULL reader!", "Out of memory!" or "Error initializing BZ2".
    BZ2Reader(Reader* source, int64_t start);
    ~BZ2Reader() override;

protected:
    void setInput(uint8_t* data, unsigned length) override;
    unsigned inputLeft() const override { return stream_.avail_in; }
    void setOutput(uint8_t* data, unsigned room) override;
    uint8_t* outputNext() const override { return reinterpret_cast<uint8_t*>(stream_.next_out); }
    Step decode() override;

private:
    bz_stream stream_{};
};

}  // namespace kiv
