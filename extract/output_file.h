// Where extracted data goes. The data is written to a temporary file in the
// destination's folder and moved over the destination only once the whole
// entry was written and verified, so a failed or aborted extraction never
// costs the user a file that was already there.
#pragma once

#include <cstdio>
#include <string>

namespace kiv {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False when the destination cannot be created.
    bool open(const std::string& destination);
    bool isOpen() const { return stream_ != nullptr; }
    // False once any write has failed or been short.
    bool write(const void* data, size_t length);
    // Flushes, closes and puts the file in place. False on any failure, in
    // which case nothing of this extraction remains.
    bool commit();
    // Closes and removes whatever this extraction wrote.
    void discard();

private:
    std::FILE* stream_ = nullptr;
    std::string destination_;
    std::string temporary_;  // empty when writing straight to the destination
    bool removable_ = true;  // a device or pipe given as destination is never removed
    bool failed_ = false;
};

}  // namespace kiv
