// zlib-format data, as GZReader reads it, through the fastest engine the
// build has, with zlib's results to the byte: the same bytes, the same
// amount delivered before a failure, the same end.
//
//   Whole   libdeflate decodes the whole stream in one call into a buffer,
//           which is then delivered: for entry data whose stored size and
//           size are both known and within kWholeLimit.
//   Stream  ISA-L decodes as the bytes are read (x86-64 builds): all other
//           data, the catalogue included.
//   Zlib    zlib, as GZReader: where neither engine is built in.
//
// Both fast engines are built with a patch that makes them refuse every
// stream zlib refuses, and the few rare ones they cannot tell apart from
// those: what they do deliver is what zlib delivers. Whenever one refuses a
// stream, fails, or cannot go on (the data ends early), the stream is
// decoded again with zlib from its start; the bytes already delivered are
// decoded and dropped, and zlib goes on from there. Whole delivers nothing
// before its single call succeeds, so for it that is a plain new start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "readers/gz_reader.h"

struct libdeflate_decompressor;
struct inflate_state;

namespace kiv {

// Memory the whole-stream engine keeps between the entries of one archive:
// the decoder state and one buffer for the compressed and one for the
// decoded bytes, grown to the largest entry yet and never beyond
// kWholeLimit each. Used by one reader at a time.
class InflateBuffers {
public:
    InflateBuffers() = default;
    ~InflateBuffers();
    InflateBuffers(const InflateBuffers&) = delete;
    InflateBuffers& operator=(const InflateBuffers&) = delete;

    // Room for `packed` compressed and `size` decoded bytes; false without
    // memory (what was there is kept).
    bool reserve(size_t packed, size_t size);
    void clear();

    uint8_t* input() { return input_.get(); }
    uint8_t* output() { return output_.get(); }
    libdeflate_decompressor* decompressor() { return decompressor_; }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    static bool grow(std::unique_ptr<uint8_t, Free>& buffer, size_t& capacity, size_t need);

    std::unique_ptr<uint8_t, Free> input_, output_;
    size_t inputCapacity_ = 0, outputCapacity_ = 0;
    libdeflate_decompressor* decompressor_ = nullptr;
};

class InflateReader : public GZReader {
public:
    enum class Engine { Whole, Stream, Zlib };

    // Each of the two buffers of the whole-stream engine holds at most this
    // much: entries with more stored or decoded bytes are streamed.
    static constexpr uint64_t kWholeLimit = 4u << 20;

    // Whether this build has the engine (Zlib always).
    static bool built(Engine engine);
    // The engine for data of these sizes (storedSize 0: not known).
    static Engine choose(uint64_t storedSize, uint64_t size);

    // Decodes with `engine` (which must be built), falling back to zlib as
    // above. storedSize and size are the entry's, for Whole; `buffers` may
    // be null, and the reader then keeps buffers of its own. Throws as
    // GZReader.
    InflateReader(Reader* source, int64_t start, Engine engine, uint64_t storedSize = 0, uint64_t size = 0,
                  InflateBuffers* buffers = nullptr);
    ~InflateReader() override;

    // The engine decoding now: Zlib once the data went over to zlib.
    Engine engine() const;

protected:
    void setInput(uint8_t* data, unsigned length) override;
    unsigned inputLeft() const override;
    void setOutput(uint8_t* data, unsigned room) override;
    uint8_t* outputNext() const override;
    Step decode() override;

private:
    enum class Mode { Whole, Serve, Stream, Zlib };

    bool decodeWhole();
    Step serve();
    Step decodeStream();
    Step replayZlib();
    Step toZlib();

    Mode mode_;
    uint64_t storedSize_;
    uint64_t size_;
    // Whole and Serve: the output area last set and how much of it is filled.
    uint8_t* out_ = nullptr;
    unsigned room_ = 0;
    unsigned filled_ = 0;
    InflateBuffers* buffers_;
    std::unique_ptr<InflateBuffers> ownBuffers_;
    const uint8_t* served_ = nullptr;
    size_t serveLeft_ = 0;
    // Stream: ISA-L's state, and the bytes it has delivered.
    struct FreeState {
        void operator()(inflate_state* s) const;
    };
    std::unique_ptr<inflate_state, FreeState> state_;
    uint8_t header_[2] = {0, 0};  // the zlib header, as it arrives
    unsigned headerHave_ = 0;
    uint64_t delivered_ = 0;
    // Zlib after Stream: decoded bytes still to drop.
    uint64_t discard_ = 0;
};

}  // namespace kiv
