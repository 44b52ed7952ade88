// Password bytes that are overwritten with zeros before their memory is
// released, so a password does not linger in freed heap memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace kiv {

class Secret {
public:
    Secret() = default;
    Secret(const char* data, size_t length) { assign(data, length); }
    Secret(const Secret& other) { assign(other.data(), other.size()); }
    Secret& operator=(const Secret& other) {
        if (this != &other) assign(other.data(), other.size());
        return *this;
    }
    ~Secret() { wipe(); }

    void assign(const char* data, size_t length);
    void clear() { wipe(); }

    const char* data() const { return bytes_ ? bytes_.get() : ""; }
    size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }

    // Overwrites `length` bytes at `p` in a way the compiler cannot drop.
    static void wipeBytes(void* p, size_t length);

private:
    void wipe();

    std::unique_ptr<char[]> bytes_;
    size_t length_ = 0;
};

}  // namespace kiv
