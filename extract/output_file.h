// Where extracted data goes. A destination where nothing is yet is created
// exclusively and written in place: there is nothing to lose, and a failed
// extraction removes what it wrote. A destination that holds a file already
// is written through a temporary file beside it, which replaces the file only
// once the whole entry was written and verified, so a failed or aborted
// extraction never costs the user a file that was there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace kiv {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False when the destination cannot be created. The destination is
    // named narrowly or widely; every file call uses that form.
    bool open(const platform::Path& destination);
    bool isOpen() const { return stream_ != nullptr; }
    // False once any write has failed or been short. Unbuffered: each call
    // is one write to the system, so callers hand over whole blocks.
    bool write(const void* data, size_t length);
    // Flushes, gives a plain file the modification time `unixTime` (seconds
    // since 1970; 0 leaves the time alone, and a refusal is ignored), closes
    // it and puts it in place. False on any other failure, in which case
    // nothing of this extraction remains.
    bool commit(int64_t unixTime = 0);
    // Closes and removes whatever this extraction wrote.
    void discard();

private:
    // What remains of this extraction on failure: the temporary file, or the
    // destination when it was written in place.
    const platform::Path& written() const { return temporary_.empty() ? destination_ : temporary_; }

    std::FILE* stream_ = nullptr;
    platform::Path destination_;
    platform::Path temporary_;  // empty when writing straight to the destination
    bool removable_ = true;  // a device or pipe given as destination is never removed
    bool failed_ = false;
};

}  // namespace kiv
