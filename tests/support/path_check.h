// The rule every reported path keeps, for tests and fuzz harnesses that
// judge paths: no component between '\' or '/' is empty, "." or "..",
// except that a path cut at the length cap may end in a separator.
#pragma once

#include <string_view>

#include "archive/names.h"

namespace kivtest {

inline bool pathIsSafe(std::string_view path) {
    size_t begin = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
        const std::string_view part = path.substr(begin, i - begin);
        const bool cutAtCap = i == path.size() && part.empty() && path.size() == kiv::kMaxPathBytes;
        if (!cutAtCap && (part.empty() || part == "." || part == "..")) return false;
        begin = i + 1;
    }
    return true;
}

}  // namespace kivtest
