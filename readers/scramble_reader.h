// Undoes the password scrambling of an archive: every byte at offset p (from
// keyOrigin on) is stored with password[(p - keyOrigin) % keyLength] added.
// Positions are the source's absolute offsets, so everything above sees
// plain bytes at plain archive offsets. Construction checks the password by
// finding the length-marked pads at both ends of the scrambled data.
//
// Owns its source. Bytes before keyOrigin (the slice header) were never
// scrambled and are delivered as stored.
#pragma once

#include <cstdint>
#include <memory>

#include "readers/reader.h"
#include "readers/secret.h"

namespace kiv {

class ScrambleReader : public Reader {
public:
    // Takes ownership of `source` only on success; on failure the caller
    // still owns it. Throws "Passed NULL reader!" or
    // "Incorrect password or corrupted archive!".
    ScrambleReader(Reader* source, const Secret& password, int64_t start, int formatVersion);
    ~ScrambleReader() override;

    int readChar() override;
    int readCharBackward() override;
    int readShort() override;
    int32_t readInt() override;
    uint64_t readNumber() override;
    std::string readString() override;
    int read(void* buffer, int length) override;
    // Origin 2 counts from the start of the tail pad.
    int seek(int64_t offset, int origin) override;
    int64_t tell() override;

    uint32_t headPadLength() const { return headPadLength_; }
    uint32_t tailPadLength() const { return tailPadLength_; }

private:
    uint8_t unscramble(uint8_t b, int64_t offset) const;
    uint32_t readHeadPad(int64_t sourceLength);
    uint32_t readTailPad(int64_t sourceLength);

    std::unique_ptr<Reader> owned_;  // set once construction succeeded
    Reader* src_;
    int64_t pos_;
    uint32_t keyOrigin_ = 0;
    uint32_t headPadLength_ = 0;
    uint32_t tailPadLength_ = 0;
    Secret password_;
    // The password repeated over a block, so unscrambling a buffer is one
    // straight subtraction loop the compiler can vectorise. Wiped like the
    // password itself.
    Secret repeatedKey_;
    uint16_t keyLength_ = 0;
    uint32_t padRadix_ = 256;
    uint8_t markAfter_ = '<';
    uint8_t markBefore_ = '>';
};

}  // namespace kiv
