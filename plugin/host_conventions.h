// What the header record's path, attribute and time fields mean differs
// between hosts: the Windows file manager reads '\'-separated paths, the
// attribute byte and MS-DOS packed local time; the Linux file manager reads
// '/'-separated paths, a Unix mode and Unix seconds. The build chooses one
// (KIV_UNIX_CONVENTIONS, set from the KIV_HOST_CONVENTIONS option; the
// platform's own when unset). Everything below the exports keeps the
// archive's own form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/entry.h"
#include "archive/names.h"

#if !defined(KIV_UNIX_CONVENTIONS)
#if defined(_WIN32)
#define KIV_UNIX_CONVENTIONS 0
#else
#define KIV_UNIX_CONVENTIONS 1
#endif
#endif

namespace kiv::host {

constexpr bool kUnixConventions = KIV_UNIX_CONVENTIONS != 0;

// Unix mode bits, spelled out so that no system header is needed here.
constexpr int kModeDirectory = 0040000;
constexpr int kModeRegular = 0100000;
constexpr int kModeWriteBits = 0222;

// FileAttr. Links and devices are extracted as small text files, so under
// Unix conventions everything but a directory is a regular file.
inline int fileAttr(const Entry& e) {
    if (!kUnixConventions) return e.attribute;
    int mode = (e.attribute & kAttrDirectory) ? (kModeDirectory | 0755) : (kModeRegular | 0644);
    if (e.attribute & kAttrReadOnly) mode &= ~kModeWriteBits;
    return mode;
}

// FileTime: the packed local form, or the Unix seconds it came from.
inline int fileTime(const Entry& e) {
    return kUnixConventions ? static_cast<int>(e.unixTime) : static_cast<int>(e.time);
}

// Eight bytes with every '\\' turned into '/'.
inline uint64_t withSlashes(uint64_t w) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t x = w ^ (kOnes * '\\');
    // The high bit of each byte that was a '\\', exactly: no carry crosses
    // a byte.
    const uint64_t hit = ~(((x & kLow7) + kLow7) | x) & ~kLow7;
    return w ^ ((hit >> 7) * static_cast<uint64_t>('\\' ^ '/'));
}

// Copies `n` bytes with every '\\' turned into '/', a word at a time: it
// runs once per listed entry. `out` may be `in`.
inline void copyWithSlashes(char* out, const char* in, size_t n) {
    uint64_t w;
    if (n < 8) {
        w = 0;
        std::memcpy(&w, in, n);
        w = withSlashes(w);
        std::memcpy(out, &w, n);
        return;
    }
    // The last word is read before anything is written, so that it may
    // overlap the others even when `out` is `in`.
    uint64_t last;
    std::memcpy(&last, in + n - 8, 8);
    for (size_t i = 0; i + 8 < n; i += 8) {
        std::memcpy(&w, in + i, 8);
        w = withSlashes(w);
        std::memcpy(out + i, &w, 8);
    }
    last = withSlashes(last);
    std::memcpy(out + n - 8, &last, 8);
}

// FileName: the entry's path, cut to the field (terminator included) as
// cutPath cuts (never inside a UTF-8 character on POSIX, where names are
// UTF-8), with '/' between components under Unix conventions.
inline void copyName(char* field, size_t fieldSize, const char* path, size_t length) {
    size_t n = length < fieldSize - 1 ? length : fieldSize - 1;
    if (n < length) {
#if defined(_WIN32)
        constexpr bool utf8 = false;
#else
        constexpr bool utf8 = true;
#endif
        n = cutPath(path, length, n, utf8, field);
        if (kUnixConventions) copyWithSlashes(field, field, n);
    } else if (kUnixConventions) {
        copyWithSlashes(field, path, n);
    } else {
#if defined(__GNUC__)
        // Hide the bound: for short names the library's copy beats the inline
        // string instruction the compiler would choose.
        __asm__("" : "+r"(n));
#endif
        std::memcpy(field, path, n);
    }
    field[n] = 0;
}

// The wide FileName: the same cut, counted in UTF-16 units, never between
// the two halves of a surrogate pair.
template <typename WideChar>
inline void copyWideName(WideChar* field, size_t fieldSize, const std::u16string& path) {
    const char16_t* name = path.data();
    size_t n = path.size();
    std::u16string cut;
    if (n > fieldSize - 1) {
        cut.resize(fieldSize - 1);
        n = cutPath(path.data(), path.size(), fieldSize - 1, &cut[0]);
        name = cut.data();
    }
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = name[i];
        field[i] = static_cast<WideChar>(kUnixConventions && c == u'\\' ? u'/' : c);
    }
    field[n] = 0;
}

}  // namespace kiv::host
