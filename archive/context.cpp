#include "archive/context.h"

#include <chrono>
#include <climits>
#include <random>

namespace kiv {

int WCX_CALL defaultProgress(char*, int) { return 1; }

namespace {
uint64_t drawKey() {
    // The clock and an address vary even where the random device is weak.
    uint64_t key = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key ^= reinterpret_cast<uintptr_t>(&key) * 0x9E3779B97F4A7C15ull;
    try {
        std::random_device device;
        key ^= (uint64_t(device()) << 32) | device();
    } catch (...) {
    }
    return key;
}
}  // namespace

size_t LabelHash::operator()(uint64_t label) const noexcept {
    static const uint64_t key = drawKey();
    // The final mix of splitmix64: every bit of the keyed label reaches
    // every bit of the hash.
    uint64_t z = label + key;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<size_t>(z ^ (z >> 31));
}

ArchiveContext::~ArchiveContext() {
    releaseReaders();
    hardLinkLabels.clear();
    entries.clear();
    password.clear();
}

void ArchiveContext::releaseReaders() {
    catalogueReader.reset();
    primaryReader.reset();
    decoderCache.clear();
}

int ArchiveContext::versionNumber() const { return leadingNumber(formatVersion); }

int leadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > INT_MAX) v = INT_MAX;  // saturate: only "greater than 3/6" matters
    }
    return static_cast<int>(negative ? -v : v);
}

}  // namespace kiv
