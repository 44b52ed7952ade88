#include "bench/text_source.h"

#include <algorithm>
#include <cstring>

namespace kivbench {
namespace {
constexpr size_t kVocabulary = 4096;
}

TextSource::TextSource() : state_(0x9E3779B97F4A7C15ull) {
    // Short words are common, long ones rare, as in real text.
    const char letters[] = "etaoinshrdlcumwfgypbvkjxqz_";
    for (size_t i = 0; i < kVocabulary; ++i) {
        const size_t length = 2 + next() % 4 + (next() % 3 == 0 ? next() % 7 : 0);
        std::string w;
        for (size_t j = 0; j < length; ++j) {
            // Bias towards the front of the frequency-ordered alphabet.
            const uint64_t r = next();
            w.push_back(letters[(((r & 0xFF) * ((r >> 8) & 0xFF)) >> 11) % (sizeof letters - 1)]);
        }
        words_.push_back(w);
    }
}

uint64_t TextSource::next() {
    // xorshift64*: fast, and the same on every platform.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
}

void TextSource::makeLine() {
    line_.clear();
    linePos_ = 0;
    ++lineNumber_;
    const size_t indent = (next() % 4) * 4;
    line_.append(indent, ' ');
    const size_t target = 20 + next() % 70;
    while (line_.size() < target) {
        const uint64_t r = next();
        // Products of two uniform numbers favour small indices (a skewed,
        // Zipf-like word frequency).
        const size_t index = ((r & 0xFFF) * ((r >> 12) & 0xFFF)) >> 12;
        line_ += words_[index % kVocabulary];
        switch ((r >> 24) % 16) {
        case 0: line_ += "("; break;
        case 1: line_ += ", "; break;
        case 2: line_ += " = " + std::to_string((r >> 32) % 1000) + "; "; break;
        case 3: line_ += "."; break;
        default: line_ += " "; break;
        }
    }
    if (lineNumber_ % 7 == 0)
        line_ += "  // " + std::to_string(lineNumber_);
    line_ += '\n';
}

void TextSource::fill(uint8_t* out, size_t length) {
    while (length > 0) {
        if (linePos_ == line_.size())
            makeLine();
        const size_t n = std::min(length, line_.size() - linePos_);
        std::memcpy(out, line_.data() + linePos_, n);
        linePos_ += n;
        out += n;
        length -= n;
    }
}

}  // namespace kivbench
