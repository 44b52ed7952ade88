#include "extract/output_file.h"

#include "platform/platform.h"

namespace kiv {

bool OutputFile::open(const platform::Path& destination) {
    destination_ = destination;
    temporary_ = platform::Path();
    failed_ = false;
    removable_ = true;
    // Nothing there yet: the common case of extracting into an empty folder
    // costs no temporary file and no rename.
    bool exists = false;
    stream_ = platform::createNew(destination, exists);
    if (stream_ || !exists) return stream_ != nullptr;
    if (platform::pathKind(destination) == platform::PathKind::Other) {
        // Not a plain file (a device, a pipe, a folder): write to it as it is.
        removable_ = false;
        stream_ = platform::openTruncated(destination);
        return stream_ != nullptr;
    }
    stream_ = platform::createTempBeside(destination, temporary_);
    if (stream_) return true;
    // No room for a temporary file beside it (a read-only folder holding a
    // writable file): fall back to writing the destination itself.
    temporary_ = platform::Path();
    stream_ = platform::openTruncated(destination);
    return stream_ != nullptr;
}

bool OutputFile::write(const void* data, size_t length) {
    if (failed_ || !stream_) return false;
    if (length && std::fwrite(data, 1, length, stream_) != length) failed_ = true;
    return !failed_;
}

bool OutputFile::commit(int64_t unixTime) {
    if (!stream_) return false;
    if (std::fflush(stream_) != 0) failed_ = true;
    // Before the close and the rename, so the file appears with its time.
    if (!failed_ && unixTime != 0 && removable_) platform::setFileTime(stream_, unixTime);
    if (std::fclose(stream_) != 0) failed_ = true;
    stream_ = nullptr;
    if (!failed_ && !temporary_.empty() && !platform::replaceFile(temporary_, destination_))
        failed_ = true;
    if (failed_) {
        if (removable_) platform::removeFile(written());
        temporary_ = platform::Path();
        return false;
    }
    temporary_ = platform::Path();
    return true;
}

void OutputFile::discard() {
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
        if (removable_) platform::removeFile(written());
    }
    temporary_ = platform::Path();
}

}  // namespace kiv
