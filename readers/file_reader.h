// The bottom of every reader stack: the archive file on disk.
//
// Positions are the file's own byte offsets. The reader keeps one block of
// the file in memory and serves single bytes, strings and small reads from
// it, so the views above it, which re-position it before every operation,
// cost a comparison rather than a system call per byte.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "readers/reader.h"

namespace kiv {

class FileReader final : public Reader {
public:
    // Opens `path` for binary reading. Throws "File not found".
    explicit FileReader(const platform::Path& path);
    ~FileReader() override;

    int readChar() override {
        if (inBlock(pos_)) return static_cast<signed char>(block_[static_cast<size_t>(pos_++ - blockStart_)]);
        return readCharSlow();
    }
    // Steps back one byte, reads it and steps back again. At offset 0 the
    // step back fails, so the byte at 0 is returned and the position stays.
    int readCharBackward() override;
    int readShort() override;
    int32_t readInt() override;
    uint64_t readNumber() override;
    std::string readString() override;
    int read(void* buffer, int length) override;
    // 0 on success, -1 for a negative target or an unknown origin. Seeking
    // past the end is allowed; reads there deliver nothing.
    int seek(int64_t offset, int origin) override;
    int64_t tell() override { return pos_; }
    // seek(offset, 0) without the virtual call, for the views over this file.
    int seekTo(int64_t offset) {
        if (offset < 0) return -1;
        pos_ = offset;
        return 0;
    }

private:
    static constexpr size_t kBlock = 64 * 1024;

    int readCharSlow();
    bool inBlock(int64_t pos) const { return pos >= blockStart_ && pos < blockStart_ + blockLength_; }
    // Loads the block holding `pos`; `backward` centres it before `pos` for
    // backward scans. False when nothing can be read there.
    bool load(int64_t pos, bool backward);

    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> stream_;
    std::vector<unsigned char> block_;
    int64_t blockStart_ = 0;
    int64_t blockLength_ = 0;
    int64_t pos_ = 0;
};

}  // namespace kiv
