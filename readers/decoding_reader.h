// Shared machinery of the decompressing readers: compressed bytes are
// fetched from the source kInputSize at a time from sourcePosition on,
// decoded into a kOutputSize output buffer and delivered from there; a read
// of at least kDirectRead bytes with nothing buffered is decoded straight
// into the caller's buffer. Large windows keep the decoder in its fast loop
// and the calls into it few. Forward only: no
// backward reads, no tell, no absolute seeks; seek(n, 1) skips n bytes.
//
// Once the decoder has reported the end of its stream or an error, or the
// source has run dry and the decoder can produce nothing more, the reader
// has ended for good: every operation reports the end of the data. That
// also stops decoders that answer "fine" for ever without progress on
// truncated input.
#pragma once

#include <cstdint>
#include <memory>

#include "readers/reader.h"

namespace kiv {

class DecodingReader : public Reader {
public:
    ~DecodingReader() override;

    int readChar() override;
    int readCharBackward() override;  // unsupported: 0
    int readShort() override;
    int32_t readInt() override;
    uint64_t readNumber() override;
    std::string readString() override;
    int read(void* buffer, int length) override;
    int seek(int64_t offset, int origin) override;
    int64_t tell() override;  // always 0

    // Delivers at most `bytes` and then ends for good, so a stream that
    // expands without bound costs bounded time. exceededLimit tells such a
    // cut from a stream that really ended.
    void limitOutput(uint64_t bytes) { outputLimit_ = bytes; }
    bool exceededLimit() const { return exceeded_; }

#ifndef KIV_DECODER_INPUT
#define KIV_DECODER_INPUT (64 * 1024)
#endif
#ifndef KIV_DECODER_OUTPUT
#define KIV_DECODER_OUTPUT (64 * 1024)
#endif
    static constexpr int kInputSize = KIV_DECODER_INPUT;
    static constexpr int kOutputSize = KIV_DECODER_OUTPUT;
    static constexpr int kDirectRead = 4096;

protected:

    // Restart: nothing was produced, and the decoder wants the compressed
    // bytes again from the start (a decoder handing over to another).
    enum class Step { Ok, End, Fail, Restart };

    // Throws "Passed NULL reader!" (before allocating) or "Out of memory!"
    // (for the input buffer; without memory for the output buffer, allocated
    // at the first buffered read, the data ends there).
    DecodingReader(Reader* source, int64_t start);

    // The decoder behind the shared loop. `decode` runs once over the input
    // and output areas last set; the pointers and counts move as it works.
    virtual void setInput(uint8_t* data, unsigned length) = 0;
    virtual unsigned inputLeft() const = 0;
    virtual void setOutput(uint8_t* data, unsigned room) = 0;
    virtual uint8_t* outputNext() const = 0;
    virtual Step decode() = 0;

    uint8_t* inputBuffer() { return inputBuffer_.get(); }
    // Reads up to `length` compressed bytes from the start into `buffer`, for
    // a decoder that takes the whole stream at once (the shared loop then
    // fetches nothing while inputLeft() is not 0); the count read.
    int readFromStart(uint8_t* buffer, int length);

private:
    void fill();
    // Decodes into out[0, room) until something is produced or the reader
    // ends for good; the count produced, cut at the output limit.
    int decodeInto(uint8_t* out, unsigned room);
    bool need(int k);  // true when k bytes are available

    Reader* src_;
    uint64_t start_;
    uint64_t sourcePosition_;
    int available_ = 0;
    int inputStep_ = 4096;  // the next read from the source; grows to kInputSize
    int inputCapacity_ = 4096;
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> inputBuffer_;
    std::unique_ptr<uint8_t, Free> outputBuffer_;
    uint8_t* readPointer_ = nullptr;
    bool ended_ = false;
    bool exceeded_ = false;
    uint64_t decoded_ = 0;
    uint64_t outputLimit_ = UINT64_MAX;
};

}  // namespace kiv
