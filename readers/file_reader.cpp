#include "readers/file_reader.h"

#include <cstring>

#include "platform/platform.h"
#include "readers/archive_integer.h"

namespace kiv {

FileReader::FileReader(const platform::Path& path) {
    std::FILE* f = platform::openRead(path);
    if (!f) throw ReaderError("File not found");
    stream_.reset(f);
    // All buffering is ours; a second layer in the C library would only copy.
    std::setvbuf(f, nullptr, _IONBF, 0);
    block_.resize(kBlock);
}

FileReader::~FileReader() = default;

bool FileReader::load(int64_t pos, bool backward) {
    int64_t start = pos;
    if (backward) start = pos + 1 > static_cast<int64_t>(kBlock) ? pos + 1 - kBlock : 0;
    blockLength_ = 0;
    blockStart_ = start;
    if (!platform::seekFile(stream_.get(), start)) return false;
    size_t n = std::fread(block_.data(), 1, kBlock, stream_.get());
    blockLength_ = static_cast<int64_t>(n);
    return inBlock(pos);
}

int FileReader::readCharSlow() {
    if (!load(pos_, false)) return -1;
    return static_cast<signed char>(block_[pos_++ - blockStart_]);
}

int FileReader::readCharBackward() {
    if (pos_ > 0) --pos_;
    int c;
    if (inBlock(pos_) || load(pos_, true)) {
        c = static_cast<signed char>(block_[pos_ - blockStart_]);
        // Read-then-step-back leaves the position where it was after the
        // first step, except at offset 0 where that step failed.
    } else {
        c = -1;
    }
    return c;
}

int FileReader::readShort() {
    if (inBlock(pos_) && pos_ - blockStart_ + 2 <= blockLength_) {
        const unsigned char* p = block_.data() + (pos_ - blockStart_);
        pos_ += 2;
        return static_cast<int16_t>((p[0] << 8) | p[1]);
    }
    unsigned char b[2] = {0, 0};
    read(b, 2);
    return static_cast<int16_t>((b[0] << 8) | b[1]);
}

int32_t FileReader::readInt() {
    unsigned char b[4] = {0, 0, 0, 0};
    read(b, 4);
    return static_cast<int32_t>((uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) |
                                uint32_t(b[3]));
}

uint64_t FileReader::readNumber() {
    // Fast path: a number with no zero prefix lying wholly in the block.
    if (inBlock(pos_)) {
        const unsigned char* p = block_.data() + (pos_ - blockStart_);
        const int64_t avail = blockStart_ + blockLength_ - pos_;
        unsigned b = p[0];
        if (b != 0) {
            unsigned z = 0;
            while ((b & 0x80) == 0) {
                b <<= 1;
                ++z;
            }
            const int64_t length = 4 * (static_cast<int64_t>(z) + 1);
            if (length < avail) {
                uint64_t value = 0;
                for (int64_t i = 1; i <= length; ++i) value = (value << 8) | p[i];
                pos_ += length + 1;
                return value;
            }
        }
    }
    return decodeArchiveInteger(*this);
}

std::string FileReader::readString() {
    std::string s;
    for (;;) {
        if (!inBlock(pos_) && !load(pos_, false)) return s;  // the file ended
        const unsigned char* p = block_.data() + (pos_ - blockStart_);
        const size_t avail = static_cast<size_t>(blockStart_ + blockLength_ - pos_);
        const void* nul = std::memchr(p, 0, avail);
        const size_t n = nul ? static_cast<const unsigned char*>(nul) - p : avail;
        if (s.size() < kMaxStringBytes) s.append(reinterpret_cast<const char*>(p), std::min(n, kMaxStringBytes - s.size()));
        pos_ += static_cast<int64_t>(n);
        if (nul) {
            ++pos_;
            return s;
        }
    }
}

int FileReader::read(void* buffer, int length) {
    if (length <= 0) return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    int done = 0;
    while (done < length) {
        if (inBlock(pos_)) {
            int64_t n = std::min<int64_t>(length - done, blockStart_ + blockLength_ - pos_);
            std::memcpy(out + done, block_.data() + (pos_ - blockStart_), static_cast<size_t>(n));
            done += static_cast<int>(n);
            pos_ += n;
        } else if (static_cast<size_t>(length - done) >= kBlock) {
            // Large reads go straight to the caller's buffer.
            if (!platform::seekFile(stream_.get(), pos_)) break;
            size_t n = std::fread(out + done, 1, static_cast<size_t>(length - done), stream_.get());
            done += static_cast<int>(n);
            pos_ += static_cast<int64_t>(n);
            if (n == 0) break;
        } else if (!load(pos_, false)) {
            break;
        }
    }
    return done;
}

int FileReader::seek(int64_t offset, int origin) {
    int64_t base;
    switch (origin) {
        case 0: base = 0; break;
        case 1: base = pos_; break;
        case 2: base = platform::fileLength(stream_.get()); if (base < 0) return -1; break;
        default: return -1;
    }
    if (offset > 0 && base > INT64_MAX - offset) return -1;  // beyond any file
    return seekTo(base + offset);
}


}  // namespace kiv
