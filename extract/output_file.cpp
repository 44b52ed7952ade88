#include "extract/output_file.h"

#include "platform/platform.h"

namespace kiv {

namespace {
// Chunks come 4096 bytes at a time; a larger stream buffer turns them into
// fewer, larger writes.
void buffer(std::FILE* f) {
    if (f) std::setvbuf(f, nullptr, _IOFBF, 256 * 1024);
}
}  // namespace

bool OutputFile::open(const std::string& destination) {
    destination_ = destination;
    failed_ = false;
    const platform::PathKind kind = platform::pathKind(destination.c_str());
    if (kind == platform::PathKind::Other) {
        // Not a plain file (a device, a pipe, a folder): write to it as it is.
        removable_ = false;
        stream_ = std::fopen(destination.c_str(), "wb");
        buffer(stream_);
        return stream_ != nullptr;
    }
    removable_ = true;
    stream_ = platform::createTempBeside(destination, temporary_);
    buffer(stream_);
    if (stream_) return true;
    // No room for a temporary file beside it (a read-only folder holding a
    // writable file): fall back to writing the destination itself.
    temporary_.clear();
    stream_ = std::fopen(destination.c_str(), "wb");
    buffer(stream_);
    return stream_ != nullptr;
}

bool OutputFile::write(const void* data, size_t length) {
    if (failed_ || !stream_) return false;
    if (length && std::fwrite(data, 1, length, stream_) != length) failed_ = true;
    return !failed_;
}

bool OutputFile::commit() {
    if (!stream_) return false;
    if (std::fflush(stream_) != 0) failed_ = true;
    if (std::fclose(stream_) != 0) failed_ = true;
    stream_ = nullptr;
    if (!failed_ && !temporary_.empty() && !platform::replaceFile(temporary_.c_str(), destination_.c_str()))
        failed_ = true;
    if (failed_) {
        const std::string& leftover = temporary_.empty() ? destination_ : temporary_;
        if (removable_) platform::removeFile(leftover.c_str());
        temporary_.clear();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::discard() {
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
        const std::string& leftover = temporary_.empty() ? destination_ : temporary_;
        if (removable_) platform::removeFile(leftover.c_str());
    }
    temporary_.clear();
}

}  // namespace kiv
