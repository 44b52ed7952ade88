#include "readers/reader.h"

#include "readers/archive_integer.h"
#include "readers/file_reader.h"

namespace kiv {

Reader::Reader(Reader* source, int64_t start) : source_(source), position_(start) {
    if (!source) throw ReaderError("Passed NULL reader!");
    file_ = dynamic_cast<FileReader*>(source);
}

Reader::~Reader() = default;

// Every view operation: position the source, forward, take the source's new
// position. The source may be shared with other views.
// A position the source cannot take (beyond 2^63) reads as the end of the
// data rather than as bytes from wherever the source last stood.
#define KIV_VIEW_FORWARD(call, atEnd)                        \
    if (file_) {                                             \
        if (file_->seekTo(position_) != 0) return atEnd;     \
        auto result = file_->call;                           \
        position_ = file_->tell();                           \
        return result;                                       \
    }                                                        \
    if (source_->seek(position_, 0) != 0) return atEnd;     \
    auto result = source_->call;                             \
    position_ = source_->tell();                             \
    return result

int Reader::readChar() { KIV_VIEW_FORWARD(readChar(), -1); }
int Reader::readCharBackward() { KIV_VIEW_FORWARD(readCharBackward(), -1); }
int Reader::readShort() { KIV_VIEW_FORWARD(readShort(), 0); }
int32_t Reader::readInt() { KIV_VIEW_FORWARD(readInt(), 0); }
uint64_t Reader::readNumber() { KIV_VIEW_FORWARD(readNumber(), 0); }
std::string Reader::readString() { KIV_VIEW_FORWARD(readString(), std::string()); }
int Reader::read(void* buffer, int length) { KIV_VIEW_FORWARD(read(buffer, length), 0); }

int Reader::seek(int64_t offset, int origin) {
    if (file_) {
        file_->seekTo(position_);
        const int result = file_->seek(offset, origin);
        position_ = file_->tell();
        return result;
    }
    source_->seek(position_, 0);
    int result = source_->seek(offset, origin);
    position_ = source_->tell();
    return result;
}

int64_t Reader::tell() { return position_; }

#undef KIV_VIEW_FORWARD

}  // namespace kiv
