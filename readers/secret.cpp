#include "readers/secret.h"

#include <cstring>

namespace kiv {

void Secret::wipeBytes(void* p, size_t length) {
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (length--) *v++ = 0;
}

void Secret::assign(const char* data, size_t length) {
    std::unique_ptr<char[]> fresh(new char[length + 1]);
    if (length) std::memcpy(fresh.get(), data, length);
    fresh[length] = 0;
    wipe();
    bytes_ = std::move(fresh);
    length_ = length;
}

void Secret::wipe() {
    if (bytes_) wipeBytes(bytes_.get(), length_ + 1);
    bytes_.reset();
    length_ = 0;
}

}  // namespace kiv
