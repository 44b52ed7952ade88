// A bottom reader over bytes in memory, with the file reader's rules: -1
// from readChar at the end, seeks past the end allowed, negative targets
// refused. `chunk` limits how much one read() delivers, so decoders can be
// fed by a source that hands over a few bytes at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "readers/archive_integer.h"
#include "readers/reader.h"

namespace kivtest {

class MemoryReader final : public kiv::Reader {
public:
    explicit MemoryReader(std::vector<uint8_t> bytes, int chunk = 0) : bytes_(std::move(bytes)), chunk_(chunk) {}

    int readChar() override {
        if (pos_ < 0 || pos_ >= size()) return -1;
        return static_cast<signed char>(bytes_[static_cast<size_t>(pos_++)]);
    }
    int readCharBackward() override {
        if (pos_ > 0) --pos_;
        if (pos_ >= size()) return -1;
        return static_cast<signed char>(bytes_[static_cast<size_t>(pos_)]);
    }
    // Missing bytes at the end read as zeros, as from the file.
    int readShort() override {
        uint8_t b[2] = {0, 0};
        take(b, 2, 0);
        return static_cast<int16_t>((b[0] << 8) | b[1]);
    }
    int32_t readInt() override {
        uint8_t b[4] = {0, 0, 0, 0};
        take(b, 4, 0);
        return static_cast<int32_t>((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3]);
    }
    uint64_t readNumber() override { return kiv::decodeArchiveInteger(*this); }
    std::string readString() override {
        std::string s;
        for (int c; pos_ < size() && (c = readChar()) != 0;)
            if (s.size() < kiv::kMaxStringBytes) s.push_back(static_cast<char>(c));
        return s;
    }
    int read(void* buffer, int length) override { return take(buffer, length, chunk_); }
    int seek(int64_t offset, int origin) override {
        const int64_t base = origin == 0 ? 0 : origin == 1 ? pos_ : origin == 2 ? size() : -1;
        if (base < 0 || (offset < 0 && offset < -base) || (offset > 0 && offset > INT64_MAX - base)) return -1;
        pos_ = base + offset;
        return 0;
    }
    int64_t tell() override { return pos_; }

private:
    int take(void* buffer, int length, int chunk) {
        if (length <= 0 || pos_ < 0 || pos_ >= size()) return 0;
        int64_t n = std::min<int64_t>(length, size() - pos_);
        if (chunk > 0) n = std::min<int64_t>(n, chunk);
        std::memcpy(buffer, bytes_.data() + pos_, static_cast<size_t>(n));
        pos_ += n;
        return static_cast<int>(n);
    }
    int64_t size() const { return static_cast<int64_t>(bytes_.size()); }

    std::vector<uint8_t> bytes_;
    int chunk_;
    int64_t pos_ = 0;
};

}  // namespace kivtest
