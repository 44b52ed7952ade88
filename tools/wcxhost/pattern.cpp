#include "pattern.h"

namespace pattern {

namespace {
bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool sameChar(char p, char c) {
    if (isSeparator(p)) return isSeparator(c);
    return p == c;
}

// Matches the bracket expression starting at pat[i] ('[') against c. On
// success sets `end` to the index after the closing ']'. A '[' without a
// closing ']' is an ordinary character (returns false with end == i).
bool matchClass(const std::string& pat, size_t i, char c, size_t& end, bool& matched) {
    size_t j = i + 1;
    bool negate = j < pat.size() && (pat[j] == '!' || pat[j] == '^');
    if (negate) ++j;
    size_t first = j;
    bool hit = false;
    while (j < pat.size() && (pat[j] != ']' || j == first)) {
        char lo = pat[j];
        if (j + 2 < pat.size() && pat[j + 1] == '-' && pat[j + 2] != ']') {
            char hi = pat[j + 2];
            if (static_cast<unsigned char>(lo) <= static_cast<unsigned char>(c) &&
                static_cast<unsigned char>(c) <= static_cast<unsigned char>(hi))
                hit = true;
            j += 3;
        } else {
            if (sameChar(lo, c)) hit = true;
            ++j;
        }
    }
    if (j >= pat.size()) {
        end = i;
        return false;
    }
    end = j + 1;
    matched = hit != negate;
    return true;
}
}  // namespace

bool matches(const std::string& pat, const std::string& path) {
    // Iterative matching with one backtrack point for the last '*': linear
    // enough for paths and free of deep recursion on hostile patterns.
    size_t p = 0, s = 0;
    size_t starP = std::string::npos, starS = 0;
    while (s < path.size()) {
        if (p < pat.size()) {
            char pc = pat[p];
            if (pc == '*') {
                starP = p++;
                starS = s;
                continue;
            }
            if (pc == '?') {
                ++p;
                ++s;
                continue;
            }
            if (pc == '[') {
                size_t end;
                bool hit = false;
                if (matchClass(pat, p, path[s], end, hit)) {
                    if (hit) {
                        p = end;
                        ++s;
                        continue;
                    }
                } else if (pc == path[s]) {
                    ++p;
                    ++s;
                    continue;
                }
            } else if (sameChar(pc, path[s])) {
                ++p;
                ++s;
                continue;
            }
        }
        if (starP == std::string::npos) return false;
        p = starP + 1;
        s = ++starS;
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

bool selects(const std::vector<std::string>& pats, const std::string& path) {
    if (pats.empty()) return true;
    for (const std::string& pat : pats)
        if (matches(pat, path)) return true;
    return false;
}

bool selects(const std::vector<std::string>& pats, const std::string& path, std::vector<bool>& matched) {
    bool any = pats.empty();
    for (size_t i = 0; i < pats.size(); ++i) {
        if (!matches(pats[i], path)) continue;
        matched[i] = true;
        any = true;
    }
    return any;
}

}  // namespace pattern
