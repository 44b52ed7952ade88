#pragma once

#include <string>

namespace kiv {

// Longest path kept per entry; what lies beyond could never be reported.
constexpr size_t kMaxPathBytes = 4096;

// Makes a stored name safe to report: every component (between '\' or '/')
// that is empty, "." or ".." becomes "_", so no reported path can lead a
// host outside the folder it extracts into. Other names pass unchanged.
std::string safeName(std::string name);

// A safe path cut to its first `length` bytes can end in a "." or ".." the
// whole path did not have; such a last component's dots become '_'.
void mendCutPath(char* path, size_t length);

}  // namespace kiv
