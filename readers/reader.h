// The byte-source family through which every archive byte is read.
//
// Contract shared by every reader:
// - Reading never throws and never fails loudly: at the end of the data or on
//   damage, operations return 0 (or -1 from a file at its end) and short
//   counts, and keep doing so. The archive code judges the values.
// - Only construction throws, with a ReaderError carrying a message text.
// - Positions are signed 64-bit byte offsets.
//
// A plain `Reader` is a positioned view onto another reader (its source): it
// keeps its own position and re-positions the shared source before every
// operation, so several views over one source never disturb each other.
// A view does not own its source; the source must outlive it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kiv {

class FileReader;

// Raised only while a reader is being built; caught where archives are
// opened and entries extracted, and turned into a host result code.
class ReaderError : public std::runtime_error {
public:
    explicit ReaderError(const char* message) : std::runtime_error(message) {}
};

// Longest name or link target kept from one readString; the rest of the
// string is consumed and dropped so a crafted archive cannot make one entry
// take megabytes.
constexpr size_t kMaxStringBytes = 4096;

class Reader {
public:
    // A view onto `source` starting at `start`. Throws "Passed NULL reader!".
    Reader(Reader* source, int64_t start);
    virtual ~Reader();

    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // One byte, sign-extended (-128..127). A file yields -1 at its end.
    virtual int readChar();
    // The byte before the position; the position ends on that byte.
    virtual int readCharBackward();
    // Two bytes big-endian, sign-extended.
    virtual int readShort();
    // Four bytes big-endian.
    virtual int32_t readInt();
    // One archive integer (see archive_integer.h).
    virtual uint64_t readNumber();
    // Bytes up to a zero byte, which is consumed and not stored. Ends at the
    // end of the data. At most kMaxStringBytes are kept.
    virtual std::string readString();
    // Up to `length` bytes; the count stored, 0 at the end of the data.
    virtual int read(void* buffer, int length);
    // origin 0 from the start, 1 from the current position, 2 from the end.
    virtual int seek(int64_t offset, int origin);
    virtual int64_t tell();

protected:
    // For subclasses that manage their own source and position.
    Reader() = default;

    Reader* source_ = nullptr;
    int64_t position_ = 0;

private:
    // The source when it is the archive file itself: the common case of a
    // catalogue or stored data read straight from the file, served with
    // direct calls instead of three virtual ones per operation.
    FileReader* file_ = nullptr;
};

}  // namespace kiv
