#include "archive/names.h"

namespace kiv {

namespace {
bool isSeparator(char c) { return c == '\\' || c == '/'; }
bool unsafeComponent(const std::string& s, size_t begin, size_t end) {
    const size_t n = end - begin;
    return n == 0 || (n == 1 && s[begin] == '.') || (n == 2 && s[begin] == '.' && s[begin + 1] == '.');
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

}  // namespace kiv
