#pragma once

#include <string>

namespace kiv {

// Longest path kept per entry; what lies beyond could never be reported.
constexpr size_t kMaxPathBytes = 4096;

// Makes a stored name safe to report: every component (between '\' or '/')
// that is empty, "." or ".." becomes "_", so no reported path can lead a
// host outside the folder it extracts into. Other names pass unchanged.
std::string safeName(std::string name);

// The same for a UTF-16 path.
std::u16string safeName(std::u16string name);

// True when every byte is below 0x80.
bool isAscii(const std::string& text);

// UTF-8 to UTF-16 without loss for valid text; every byte of an invalid
// sequence (stray continuation bytes, overlong forms, surrogates, values
// past U+10FFFF, truncated sequences) becomes U+FFFD.
std::u16string utf8ToUtf16(const char* text, size_t length);

// A safe path cut to its first `length` bytes can end in a "." or ".." the
// whole path did not have; such a last component's dots become '_'.
void mendCutPath(char* path, size_t length);
void mendCutPath(char16_t* path, size_t length);

// Cuts the safe path `text` of `length` units (more than `room`) to at most
// `room` units, written to `out` (room for `room` units; it may be `text`),
// and returns the new length. The cut never splits a UTF-8 character (when
// `utf8`) or a surrogate pair; where it backs off for one to just after a
// separator, the empty last component becomes "_"; the rest is mended as
// mendCutPath does. A cut at `room` itself may end in a separator.
size_t cutPath(const char* text, size_t length, size_t room, bool utf8, char* out);
size_t cutPath(const char16_t* text, size_t length, size_t room, char16_t* out);

}  // namespace kiv
