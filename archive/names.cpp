#include "archive/names.h"

#include <cstdint>

namespace kiv {

namespace {
template <typename Char>
bool isSeparator(Char c) { return c == '\\' || c == '/'; }
template <typename Char>
bool unsafeComponentChars(const Char* c, size_t n) {
    return n == 0 || (n == 1 && c[0] == '.') || (n == 2 && c[0] == '.' && c[1] == '.');
}
template <typename Text>
bool unsafeComponent(const Text& s, size_t begin, size_t end) {
    return unsafeComponentChars(s.data() + begin, end - begin);
}

template <typename Text>
Text makeSafe(Text name) {
    // Fast path: most names have no separator and are not dots.
    bool clean = true;
    size_t begin = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || isSeparator(name[i])) {
            if (unsafeComponent(name, begin, i)) {
                clean = false;
                break;
            }
            begin = i + 1;
        }
    }
    if (clean) return name;
    Text out;
    out.reserve(name.size() + 2);
    begin = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || isSeparator(name[i])) {
            if (unsafeComponent(name, begin, i)) out += '_';
            else out.append(name, begin, i - begin);
            if (i < name.size()) out += name[i];
            begin = i + 1;
        }
    }
    return out;
}

template <typename Char>
void mendCut(Char* path, size_t length) {
    size_t begin = length;
    while (begin > 0 && !isSeparator(path[begin - 1])) --begin;
    if (begin < length && unsafeComponentChars(path + begin, length - begin))
        for (size_t i = begin; i < length; ++i) path[i] = '_';
}

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where a cut of UTF-8 text at `at` keeps whole characters: at the start of
// the character the cut would split, or at `at` itself when the bytes there
// belong to no character (a run of stray continuation bytes is cut where it
// stands, not backed off without bound).
size_t wholeCharacters(const char* text, size_t at) {
    if (!isContinuation(text[at])) return at;
    for (size_t back = 1; back <= 3 && back <= at; ++back) {
        const auto c = static_cast<unsigned char>(text[at - back]);
        if (isContinuation(static_cast<char>(c))) continue;
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? at - back : at;
    }
    return at;
}

size_t wholeCharacters(const char16_t* text, size_t at) {
    return at > 0 && text[at - 1] >= 0xD800 && text[at - 1] <= 0xDBFF ? at - 1 : at;
}

template <typename Char>
size_t finishCut(const Char* text, size_t cut, size_t room, Char* out) {
    if (out != text)
        for (size_t i = 0; i < cut; ++i) out[i] = text[i];
    // Backed off below the cap: an empty last component would name the
    // folder itself.
    if (cut < room && (cut == 0 || isSeparator(out[cut - 1]))) out[cut++] = '_';
    mendCut(out, cut);
    return cut;
}
}  // namespace

size_t cutPath(const char* text, size_t length, size_t room, bool utf8, char* out) {
    (void)length;  // more than room: text[room] is there to look at
    return finishCut(text, utf8 ? wholeCharacters(text, room) : room, room, out);
}

size_t cutPath(const char16_t* text, size_t length, size_t room, char16_t* out) {
    (void)length;
    return finishCut(text, wholeCharacters(text, room), room, out);
}

std::string safeName(std::string name) { return makeSafe(std::move(name)); }
std::u16string safeName(std::u16string name) { return makeSafe(std::move(name)); }
void mendCutPath(char* path, size_t length) { mendCut(path, length); }
void mendCutPath(char16_t* path, size_t length) { mendCut(path, length); }

bool isAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

std::u16string utf8ToUtf16(const char* text, size_t n) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::u16string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            out += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        uint32_t value = 0;
        if (c >= 0xC2 && c <= 0xDF) len = 2, value = c & 0x1F;
        else if (c == 0xE0) len = 3, lo = 0xA0, value = c & 0x0F;
        else if (c >= 0xE1 && c <= 0xEC) len = 3, value = c & 0x0F;
        else if (c == 0xED) len = 3, hi = 0x9F, value = c & 0x0F;
        else if (c >= 0xEE && c <= 0xEF) len = 3, value = c & 0x0F;
        else if (c == 0xF0) len = 4, lo = 0x90, value = c & 0x07;
        else if (c >= 0xF1 && c <= 0xF3) len = 4, value = c & 0x07;
        else if (c == 0xF4) len = 4, hi = 0x8F, value = c & 0x07;
        bool valid = len != 0 && i + len <= n;
        for (size_t k = 1; valid && k < len; ++k) {
            const unsigned char b = s[i + k];
            valid = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
            value = (value << 6) | (b & 0x3F);
        }
        if (!valid) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (value >= 0x10000) {
            value -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (value >> 10));
            out += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            out += static_cast<char16_t>(value);
        }
        i += len;
    }
    return out;
}

}  // namespace kiv
