#include "readers/inflate_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#ifndef KIV_HAVE_LIBDEFLATE
#define KIV_HAVE_LIBDEFLATE 0
#endif
#ifndef KIV_HAVE_ISAL
#define KIV_HAVE_ISAL 0
#endif
#if KIV_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#if KIV_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace kiv {

#if KIV_HAVE_LIBDEFLATE
namespace {
// libdeflate picks its decoder for the processor at its first call, writing
// a plain pointer; archives extracted on several threads at once would race
// on it. One call under the guard of a static settles it first.
bool settleLibdeflate(libdeflate_decompressor* d) {
    static const uint8_t empty[] = {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01};
    uint8_t out[1];
    size_t used = 0, decoded = 0;
    return libdeflate_zlib_decompress_ex(d, empty, sizeof empty, out, sizeof out, &used, &decoded) ==
           LIBDEFLATE_SUCCESS;
}
}  // namespace
#endif

InflateBuffers::~InflateBuffers() { clear(); }

void InflateBuffers::clear() {
    input_.reset();
    output_.reset();
    inputCapacity_ = outputCapacity_ = 0;
#if KIV_HAVE_LIBDEFLATE
    if (decompressor_) libdeflate_free_decompressor(decompressor_);
#endif
    decompressor_ = nullptr;
}

bool InflateBuffers::grow(std::unique_ptr<uint8_t, Free>& buffer, size_t& capacity, size_t need) {
    if (need <= capacity && buffer) return true;
    // Doubling keeps the number of allocations small over entries of
    // growing sizes; the limit caps it.
    const size_t want = std::max(need, std::min<size_t>(2 * capacity, InflateReader::kWholeLimit));
    buffer.reset();
    capacity = 0;
    buffer.reset(static_cast<uint8_t*>(std::malloc(want ? want : 1)));
    if (!buffer) return false;
    capacity = want;
    return true;
}

bool InflateBuffers::reserve(size_t packed, size_t size) {
#if KIV_HAVE_LIBDEFLATE
    if (!decompressor_) {
        decompressor_ = libdeflate_alloc_decompressor();
        if (!decompressor_) return false;
        static const bool settled = settleLibdeflate(decompressor_);
        (void)settled;
    }
    return grow(input_, inputCapacity_, packed) && grow(output_, outputCapacity_, size);
#else
    (void)packed;
    (void)size;
    return false;
#endif
}

bool InflateReader::built(Engine engine) {
    switch (engine) {
        case Engine::Whole: return KIV_HAVE_LIBDEFLATE != 0;
        case Engine::Stream: return KIV_HAVE_ISAL != 0;
        case Engine::Zlib: return true;
    }
    return false;
}

InflateReader::Engine InflateReader::choose(uint64_t storedSize, uint64_t size) {
    if (built(Engine::Whole) && storedSize != 0 && storedSize <= kWholeLimit && size <= kWholeLimit)
        return Engine::Whole;
    return built(Engine::Stream) ? Engine::Stream : Engine::Zlib;
}

void InflateReader::FreeState::operator()(inflate_state* s) const { std::free(s); }

InflateReader::InflateReader(Reader* source, int64_t start, Engine engine, uint64_t storedSize, uint64_t size,
                             InflateBuffers* buffers)
    : GZReader(source, start),
      mode_(Mode::Zlib),
      storedSize_(storedSize),
      size_(size),
      buffers_(buffers) {
    if (!built(engine)) engine = Engine::Zlib;
    if (engine == Engine::Whole) mode_ = Mode::Whole;
#if KIV_HAVE_ISAL
    if (engine == Engine::Stream) {
        // Without memory for its state the stream goes to zlib at once.
        state_.reset(static_cast<inflate_state*>(std::malloc(sizeof(inflate_state))));
        if (state_) {
            isal_inflate_init(state_.get());
            state_->crc_flag = ISAL_ZLIB_NO_HDR_VER;  // the header is read here, the trailer by ISA-L
            mode_ = Mode::Stream;
            setInput(inputBuffer(), 0);
        }
    }
#endif
}

InflateReader::~InflateReader() = default;

InflateReader::Engine InflateReader::engine() const {
    switch (mode_) {
        case Mode::Whole:
        case Mode::Serve: return Engine::Whole;
        case Mode::Stream: return Engine::Stream;
        case Mode::Zlib: break;
    }
    return Engine::Zlib;
}

void InflateReader::setInput(uint8_t* data, unsigned length) {
    switch (mode_) {
        case Mode::Whole:
        case Mode::Serve: return;  // the compressed bytes are read in one piece
        case Mode::Stream:
#if KIV_HAVE_ISAL
            state_->next_in = data;
            state_->avail_in = length;
            return;
#endif
            break;
        case Mode::Zlib: break;
    }
    GZReader::setInput(data, length);
}

unsigned InflateReader::inputLeft() const {
    switch (mode_) {
        case Mode::Whole:
        case Mode::Serve: return 1;  // never ask the shared loop for input
        case Mode::Stream:
#if KIV_HAVE_ISAL
            return state_->avail_in;
#endif
            break;
        case Mode::Zlib: break;
    }
    return GZReader::inputLeft();
}

void InflateReader::setOutput(uint8_t* data, unsigned room) {
    out_ = data;
    room_ = room;
    filled_ = 0;
    if (mode_ == Mode::Stream) {
#if KIV_HAVE_ISAL
        state_->next_out = data;
        state_->avail_out = room;
#endif
    } else if (mode_ == Mode::Zlib) {
        GZReader::setOutput(data, room);
    }
}

uint8_t* InflateReader::outputNext() const {
    switch (mode_) {
        case Mode::Whole:
        case Mode::Serve: return out_ + filled_;
        case Mode::Stream:
#if KIV_HAVE_ISAL
            return state_->next_out;
#endif
            break;
        case Mode::Zlib: break;
    }
    return GZReader::outputNext();
}

DecodingReader::Step InflateReader::decode() {
    switch (mode_) {
        case Mode::Whole:
            if (!decodeWhole()) return toZlib();
            mode_ = Mode::Serve;
            return serve();
        case Mode::Serve: return serve();
        case Mode::Stream: return decodeStream();
        case Mode::Zlib: break;
    }
    return discard_ ? replayZlib() : GZReader::decode();
}

bool InflateReader::decodeWhole() {
#if KIV_HAVE_LIBDEFLATE
    if (storedSize_ > kWholeLimit || size_ > kWholeLimit) return false;
    if (!buffers_) {
        ownBuffers_.reset(new (std::nothrow) InflateBuffers);
        buffers_ = ownBuffers_.get();
        if (!buffers_) return false;
    }
    const size_t packed = static_cast<size_t>(storedSize_), size = static_cast<size_t>(size_);
    if (!buffers_->reserve(packed, size)) return false;
    const int got = readFromStart(buffers_->input(), static_cast<int>(packed));
    // Bytes after the stream's end are allowed, as zlib ignores them; a
    // stream that decodes to more than the entry's size is left to zlib.
    size_t used = 0, decoded = 0;
    if (libdeflate_zlib_decompress_ex(buffers_->decompressor(), buffers_->input(), static_cast<size_t>(got),
                                      buffers_->output(), size, &used, &decoded) != LIBDEFLATE_SUCCESS)
        return false;
    served_ = buffers_->output();
    serveLeft_ = decoded;
    return true;
#else
    return false;
#endif
}

DecodingReader::Step InflateReader::serve() {
    const unsigned n = static_cast<unsigned>(std::min<size_t>(room_ - filled_, serveLeft_));
    if (n) std::memcpy(out_ + filled_, served_, n);
    filled_ += n;
    served_ += n;
    serveLeft_ -= n;
    return serveLeft_ ? Step::Ok : Step::End;
}

DecodingReader::Step InflateReader::decodeStream() {
#if KIV_HAVE_ISAL
    inflate_state& s = *state_;
    const unsigned inputBefore = s.avail_in;
    // The two header bytes are read here, however they arrive, and ISA-L is
    // given the deflate data alone: it takes windows beyond 32 KiB, which
    // zlib refuses, and forgets a preset dictionary asked for when the
    // header reaches it in two pieces (a fuzz finding), where zlib wants one.
    // Any header but a plain one goes to zlib.
    if (headerHave_ < 2) {
        while (headerHave_ < 2 && s.avail_in > 0) {
            header_[headerHave_++] = *s.next_in++;
            --s.avail_in;
        }
        if (headerHave_ < 2) return s.avail_in != inputBefore ? Step::Ok : toZlib();
        const unsigned cmf = header_[0], flg = header_[1];
        if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20)) return toZlib();
    }
    uint8_t* const mark = s.next_out;
    const int result = isal_inflate(&s);
    const uint64_t produced = static_cast<uint64_t>(s.next_out - mark);
    if (result != ISAL_DECOMP_OK) {
        // What this call wrote is dropped; zlib writes it again.
        s.next_out = mark;
        return toZlib();
    }
    if (s.block_state == ISAL_BLOCK_FINISH) {
        delivered_ += produced;
        return Step::End;
    }
    // Nothing made and nothing taken: the data ended early, or ISA-L holds
    // back what zlib would still deliver. zlib decides where it ends.
    if (produced == 0 && s.avail_in == inputBefore) return toZlib();
    delivered_ += produced;
    return Step::Ok;
#else
    return toZlib();
#endif
}

DecodingReader::Step InflateReader::toZlib() {
    mode_ = Mode::Zlib;
    discard_ = delivered_;
    state_.reset();
    if (ownBuffers_) {
        buffers_ = nullptr;
        ownBuffers_.reset();
    }
    return Step::Restart;
}

DecodingReader::Step InflateReader::replayZlib() {
    z_stream& z = zstream();
    uint8_t* const mark = z.next_out;
    const uInt room = z.avail_out;
    while (discard_ > 0) {
        z.next_out = mark;
        z.avail_out = static_cast<uInt>(std::min<uint64_t>(room, discard_));
        const int result = inflate(&z, Z_NO_FLUSH);
        const uint64_t got = static_cast<uint64_t>(z.next_out - mark);
        discard_ -= got;
        z.next_out = mark;
        z.avail_out = room;
        // zlib ending before the bytes already delivered would mean the
        // fast engine delivered what zlib does not; the data ends there.
        if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR)) {
            discard_ = 0;
            return Step::Fail;
        }
        if (got == 0) return Step::Ok;  // wants more input
    }
    // The input may have run out just as the dropping ended: zlib would
    // call that a failure, where it only needs the next bytes.
    if (z.avail_in == 0) return Step::Ok;
    return GZReader::decode();
}

}  // namespace kiv
