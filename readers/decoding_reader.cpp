#include "readers/decoding_reader.h"

#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "readers/archive_integer.h"

namespace kiv {

DecodingReader::DecodingReader(Reader* source, int64_t start)
    : src_(source), start_(static_cast<uint64_t>(start)), sourcePosition_(start_) {
    if (!source) throw ReaderError("Passed NULL reader!");
    inputBuffer_.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(inputStep_))));
    if (!inputBuffer_) throw ReaderError("Out of memory!");
    // The output buffer comes with the first small read: an extraction
    // decodes straight into its own block and never needs it, and a small
    // entry then costs no more memory than the allocator keeps at hand.
}

DecodingReader::~DecodingReader() = default;

void DecodingReader::fill() {
    if (ended_) return;
    if (!outputBuffer_) {
        outputBuffer_.reset(static_cast<uint8_t*>(std::malloc(kOutputSize)));
        if (!outputBuffer_) {
            ended_ = true;  // no memory: the data ends here, as on damage
            return;
        }
        readPointer_ = outputBuffer_.get();
    }
    uint8_t* const out = outputBuffer_.get();
    if (available_ > 0 && readPointer_ != out) std::memmove(out, readPointer_, static_cast<size_t>(available_));
    readPointer_ = out;
    available_ += decodeInto(out + available_, static_cast<unsigned>(kOutputSize - available_));
}

int DecodingReader::decodeInto(uint8_t* const mark, const unsigned room) {
    if (ended_) return 0;
    setOutput(mark, room);
    for (;;) {
        bool dry = false;
        if (inputLeft() == 0) {
            if (inputStep_ > inputCapacity_) {
                // Nothing is left in the buffer, so it may move; without
                // memory for more the reads stay as they are.
                if (void* grown = std::realloc(inputBuffer_.get(), static_cast<size_t>(inputStep_))) {
                    inputBuffer_.release();
                    inputBuffer_.reset(static_cast<uint8_t*>(grown));
                    inputCapacity_ = inputStep_;
                } else {
                    inputStep_ = inputCapacity_;
                }
            }
            const int n = src_->seek(static_cast<int64_t>(sourcePosition_), 0) == 0
                              ? src_->read(inputBuffer_.get(), inputStep_)
                              : 0;
            // Small first, so a small entry costs a small read; then up to
            // the whole window for long streams.
            inputStep_ = std::min(2 * inputStep_, kInputSize);
            if (n <= 0) {
                dry = true;
                setInput(inputBuffer_.get(), 0);
            } else {
                setInput(inputBuffer_.get(), static_cast<unsigned>(n));
                sourcePosition_ += static_cast<uint64_t>(n);
            }
        }
        const unsigned inputBefore = inputLeft();
        const Step step = decode();
        if (step == Step::Restart) {
            sourcePosition_ = start_;
            setInput(inputBuffer_.get(), 0);
            setOutput(mark, room);
            continue;
        }
        // What was decoded before a failure is delivered like any other
        // data, so the bytes seen do not depend on how the input arrived.
        int produced = static_cast<int>(outputNext() - mark);
        if (static_cast<uint64_t>(produced) > outputLimit_ - decoded_) {
            // Deliver up to the limit exactly, then nothing more.
            produced = static_cast<int>(outputLimit_ - decoded_);
            decoded_ = outputLimit_;
            ended_ = exceeded_ = true;
            return produced;
        }
        decoded_ += static_cast<uint64_t>(produced);
        if (step != Step::Ok) {
            ended_ = true;
            return produced;
        }
        if (produced > 0) return produced;
        if (dry || inputLeft() == inputBefore) {
            // Nothing produced and nothing consumed: no later call can help.
            ended_ = true;
            return 0;
        }
        setOutput(mark, room);
    }
}

int DecodingReader::readFromStart(uint8_t* buffer, int length) {
    int done = 0;
    if (src_->seek(static_cast<int64_t>(start_), 0) != 0) return 0;
    while (done < length) {
        const int n = src_->read(buffer + done, length - done);
        if (n <= 0) break;
        done += n;
    }
    return done;
}

bool DecodingReader::need(int k) {
    while (available_ < k) {
        const int before = available_;
        fill();
        if (available_ == before) break;
    }
    if (available_ >= k) return true;
    available_ = 0;  // the data ended inside the value: drop the partial bytes
    return false;
}

int DecodingReader::readChar() {
    if (!need(1)) return 0;
    --available_;
    return static_cast<signed char>(*readPointer_++);
}

int DecodingReader::readCharBackward() { return 0; }

int DecodingReader::readShort() {
    if (!need(2)) return 0;
    const int v = static_cast<int16_t>((readPointer_[0] << 8) | readPointer_[1]);
    readPointer_ += 2;
    available_ -= 2;
    return v;
}

int32_t DecodingReader::readInt() {
    if (!need(4)) return 0;
    const uint8_t* p = readPointer_;
    const uint32_t v = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    readPointer_ += 4;
    available_ -= 4;
    return static_cast<int32_t>(v);
}

uint64_t DecodingReader::readNumber() { return decodeArchiveInteger(*this); }

std::string DecodingReader::readString() {
    std::string s;
    for (;;) {
        if (available_ == 0 && !need(1)) return s;
        const void* nul = std::memchr(readPointer_, 0, static_cast<size_t>(available_));
        const int n = nul ? static_cast<int>(static_cast<const uint8_t*>(nul) - readPointer_) : available_;
        if (s.size() < kMaxStringBytes)
            s.append(reinterpret_cast<const char*>(readPointer_), std::min<size_t>(n, kMaxStringBytes - s.size()));
        readPointer_ += n;
        available_ -= n;
        if (nul) {
            ++readPointer_;
            --available_;
            return s;
        }
    }
}

int DecodingReader::read(void* buffer, int length) {
    if (length <= 0) return 0;
    // A large read with nothing buffered is decoded straight into the
    // caller's buffer, saving a copy of every byte.
    if (available_ == 0 && length >= kDirectRead)
        return decodeInto(static_cast<uint8_t*>(buffer), static_cast<unsigned>(length));
    if (available_ < length) fill();
    const int n = std::min(length, available_);
    if (n == 0) return 0;  // the output buffer may not exist yet
    std::memcpy(buffer, readPointer_, static_cast<size_t>(n));
    readPointer_ += n;
    available_ -= n;
    return n;
}

int DecodingReader::seek(int64_t offset, int origin) {
    if (origin != 1 || offset <= 0) return 0;
    int64_t skipped = 0;
    while (skipped < offset) {
        if (available_ == 0) {
            fill();
            if (available_ == 0) break;
        }
        const int n = static_cast<int>(std::min<int64_t>(offset - skipped, available_));
        readPointer_ += n;
        available_ -= n;
        skipped += n;
    }
    return static_cast<int>(skipped);
}

int64_t DecodingReader::tell() { return 0; }

}  // namespace kiv
