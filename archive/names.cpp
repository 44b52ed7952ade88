#include "archive/names.h"

namespace kiv {

namespace {
bool isSeparator(char c) { return c == '\\' || c == '/'; }
bool unsafeComponentChars(const char* c, size_t n) {
    return n == 0 || (n == 1 && c[0] == '.') || (n == 2 && c[0] == '.' && c[1] == '.');
}
bool unsafeComponent(const std::string& s, size_t begin, size_t end) {
    return unsafeComponentChars(s.data() + begin, end - begin);
}
}  // namespace

std::string safeName(std::string name) {
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
    std::string out;
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

void mendCutPath(char* path, size_t length) {
    size_t begin = length;
    while (begin > 0 && !isSeparator(path[begin - 1])) --begin;
    if (begin < length && unsafeComponentChars(path + begin, length - begin))
        for (size_t i = begin; i < length; ++i) path[i] = '_';
}

}  // namespace kiv
