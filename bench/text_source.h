// Deterministic text-like bytes for the extraction benchmarks: words from a
// fixed vocabulary in lines of varying length, so that zlib and bzip2 see
// data that compresses about as well as source code or logs do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kivbench {

class TextSource {
public:
    TextSource();
    // Fills `out` with the next `length` bytes of the stream. The stream is
    // the same whatever the request sizes, so any prefix is reproducible.
    void fill(uint8_t* out, size_t length);

private:
    uint64_t next();
    void makeLine();

    uint64_t state_;
    std::vector<std::string> words_;
    std::string line_;
    size_t linePos_ = 0;
    uint64_t lineNumber_ = 0;
};

}  // namespace kivbench
