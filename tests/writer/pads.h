// Pads and scrambling of password-protected archives (writer side).
// All pad bytes here are the reader's view, i.e. before scrambling.
#pragma once

#include "tests/writer/archive_writer.h"

namespace kivtest::detail {

struct Pad {
    Bytes bytes;          // what the writer adds (after the header for the head pad)
    uint64_t length = 0;  // the pad length the pad encodes
};

// `header` is the plain archive header, which the head pad covers and which
// the reader scans through the unscrambling as the pad's first bytes.
Pad makeHeadPad(const PadOptions& o, const PadParameters& p, const Bytes& header,
                const std::string& password);
Pad makeTailPad(const PadOptions& o, const PadParameters& p);

// Adds the password to every byte of `body` (which starts at the data start)
// from `plainPrefix` on; the prefix is the header, stored as it is.
void scrambleBody(Bytes& body, size_t plainPrefix, const std::string& password);

}  // namespace kivtest::detail
