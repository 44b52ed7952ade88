#pragma once

#include <string>

namespace kiv {

// Longest path kept per entry; what lies beyond could never be reported.
constexpr size_t kMaxPathBytes = 4096;

// Makes a stored name safe to report: every component (between '\' or '/')
// that is empty, "." or ".." becomes "_", so no reported path can lead a
// host outside the folder it extracts into. Other names pass unchanged.
std::string safeName(std::string name);

}  // namespace kiv
