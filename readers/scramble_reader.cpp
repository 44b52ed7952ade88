#include "readers/scramble_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "readers/archive_integer.h"

namespace kiv {

namespace {
const char kBadPassword[] = "Incorrect password or corrupted archive!";
constexpr unsigned kMaxPadDigits = 4;
}  // namespace

ScrambleReader::ScrambleReader(Reader* source, const Secret& password, int64_t start, int formatVersion)
    : src_(source), pos_(start), password_(password) {
    if (!source) throw ReaderError("Passed NULL reader!");
    keyOrigin_ = static_cast<uint32_t>(start);
    keyLength_ = static_cast<uint16_t>(password_.size());
    if (keyLength_ == 0) throw ReaderError(kBadPassword);
    {
        // Whole repetitions of the key, at least 8 KiB of them, plus one more
        // so a run may start at any key index.
        const size_t reps = (8192 + keyLength_ - 1) / keyLength_ + 1;
        std::string block;
        block.reserve(reps * keyLength_);
        for (size_t i = 0; i < reps; ++i) block.append(password_.data(), keyLength_);
        repeatedKey_.assign(block.data(), block.size());
        Secret::wipeBytes(&block[0], block.size());
    }
    if (formatVersion >= 7) {
        padRadix_ = 254;
        markBefore_ = 0xFF;
        markAfter_ = 0xFE;
    }
    src_->seek(0, 2);
    const int64_t sourceLength = src_->tell();
    pos_ = start;
    headPadLength_ = readHeadPad(sourceLength);
    tailPadLength_ = readTailPad(sourceLength);
    pos_ = start + headPadLength_;
    owned_.reset(source);
}

ScrambleReader::~ScrambleReader() = default;

uint8_t ScrambleReader::unscramble(uint8_t b, int64_t offset) const {
    if (offset < static_cast<int64_t>(keyOrigin_)) return b;
    const uint64_t index = static_cast<uint64_t>(offset - keyOrigin_) % keyLength_;
    return static_cast<uint8_t>(b - static_cast<uint8_t>(password_.data()[index]));
}

// The head pad: 'X'; or the pair markBefore markAfter as the first two
// bytes; or filler, markBefore, one to four digits (least significant
// first, base padRadix) and markAfter. A group of zero digits does not end
// the pad: scanning goes on, and later digits keep their weights.
uint32_t ScrambleReader::readHeadPad(int64_t sourceLength) {
    auto next = [&]() -> uint8_t {
        if (pos_ >= sourceLength) throw ReaderError(kBadPassword);
        return static_cast<uint8_t>(readChar());
    };
    uint8_t b = next();
    if (b == 'X') return 1;
    bool first = true;  // only a pair at the very start is a valid pad
    uint64_t value = 0;
    uint64_t weight = 1;
    for (;;) {
        while (b != markBefore_) {
            b = next();
            first = false;
        }
        b = next();
        if (b == markAfter_) {
            if (first) return 2;
            throw ReaderError(kBadPassword);
        }
        for (unsigned digits = 1;; ++digits) {
            value += b * weight;
            weight *= padRadix_;
            b = next();
            if (b == markAfter_) break;
            if (digits == kMaxPadDigits) throw ReaderError(kBadPassword);
        }
        if (value != 0) return static_cast<uint32_t>(value);
        first = false;
    }
}

// The tail pad mirrors the head pad, read backwards from the end; each
// group's value starts again from 0.
uint32_t ScrambleReader::readTailPad(int64_t sourceLength) {
    pos_ = sourceLength;
    auto prev = [&]() -> uint8_t {
        if (pos_ <= static_cast<int64_t>(keyOrigin_)) throw ReaderError(kBadPassword);
        return static_cast<uint8_t>(readCharBackward());
    };
    uint8_t b = prev();
    if (b == 'X') return 1;
    bool last = true;
    for (;;) {
        while (b != markAfter_) {
            b = prev();
            last = false;
        }
        b = prev();
        if (b == markBefore_) {
            if (last) return 2;
            throw ReaderError(kBadPassword);
        }
        uint64_t value = 0;
        for (unsigned digits = 1;; ++digits) {
            value = value * padRadix_ + b;
            b = prev();
            if (b == markBefore_) break;
            if (digits == kMaxPadDigits) throw ReaderError(kBadPassword);
        }
        if (value != 0) return static_cast<uint32_t>(value);
        last = false;
    }
}

int ScrambleReader::readChar() {
    src_->seek(pos_, 0);
    const int64_t at = pos_;
    const int c = src_->readChar();
    pos_ = src_->tell();
    if (pos_ == at) return c;  // nothing was read: the source has ended
    return static_cast<signed char>(unscramble(static_cast<uint8_t>(c), at));
}

int ScrambleReader::readCharBackward() {
    src_->seek(pos_, 0);
    const int c = src_->readCharBackward();
    pos_ = src_->tell();
    return static_cast<signed char>(unscramble(static_cast<uint8_t>(c), pos_));
}

int ScrambleReader::readShort() {
    unsigned char b[2] = {0, 0};
    read(b, 2);
    return static_cast<int16_t>((b[0] << 8) | b[1]);
}

int32_t ScrambleReader::readInt() {
    unsigned char b[4] = {0, 0, 0, 0};
    read(b, 4);
    return static_cast<int32_t>((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) |
                                uint32_t(b[3]));
}

uint64_t ScrambleReader::readNumber() {
    src_->seek(pos_, 0);
    return decodeArchiveInteger(*this);
}

std::string ScrambleReader::readString() {
    std::string s;
    for (;;) {
        const int64_t at = pos_;
        const int c = readChar();
        if (pos_ == at || c == 0) return s;
        if (s.size() < kMaxStringBytes) s.push_back(static_cast<char>(c));
    }
}

int ScrambleReader::read(void* buffer, int length) {
    src_->seek(pos_, 0);
    const int n = src_->read(buffer, length);
    auto* p = static_cast<uint8_t*>(buffer);
    // Bytes before the key origin are plain.
    int i = static_cast<int>(std::clamp<int64_t>(static_cast<int64_t>(keyOrigin_) - pos_, 0, n > 0 ? n : 0));
    if (i < n) {
        // One remainder per call; then runs against the repeated key.
        size_t index = static_cast<size_t>(static_cast<uint64_t>(pos_ + i - keyOrigin_) % keyLength_);
        const auto* key = reinterpret_cast<const uint8_t*>(repeatedKey_.data());
        const size_t span = repeatedKey_.size() - keyLength_;  // a multiple of keyLength_
        while (i < n) {
            const size_t run = std::min(static_cast<size_t>(n - i), span);
            const uint8_t* k = key + index;
            uint8_t* d = p + i;
            size_t j = 0;
#if defined(__GNUC__)
            // Sixteen bytewise subtractions per vector step.
            typedef uint8_t Bytes16 __attribute__((vector_size(16)));
            for (; j + 32 <= run; j += 32) {
                Bytes16 a[2], b[2];
                std::memcpy(a, d + j, 32);
                std::memcpy(b, k + j, 32);
                a[0] -= b[0];
                a[1] -= b[1];
                std::memcpy(d + j, a, 32);
            }
#endif
            // Eight bytewise subtractions per step, without carries between
            // the bytes.
            constexpr uint64_t H = 0x8080808080808080ULL;
            for (; j + 8 <= run; j += 8) {
                uint64_t a, b;
                std::memcpy(&a, d + j, 8);
                std::memcpy(&b, k + j, 8);
                const uint64_t r = ((a | H) - (b & ~H)) ^ ((a ^ ~b) & H);
                std::memcpy(d + j, &r, 8);
            }
            for (; j < run; ++j) d[j] = static_cast<uint8_t>(d[j] - k[j]);
            i += static_cast<int>(run);
            index = (index + run) % keyLength_;
        }
    }
    pos_ = src_->tell();
    return n;
}

int ScrambleReader::seek(int64_t offset, int origin) {
    int result = 0;
    switch (origin) {
        case 0: result = src_->seek(offset, 0); break;
        case 1: src_->seek(pos_, 0); result = src_->seek(offset, 1); break;
        case 2:
            src_->seek(0, 2);
            result = src_->seek(offset - static_cast<int64_t>(tailPadLength_), 1);
            break;
        default: src_->seek(pos_, 0); break;
    }
    pos_ = src_->tell();
    return result;
}

int64_t ScrambleReader::tell() { return pos_; }

}  // namespace kiv
