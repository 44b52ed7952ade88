// Deterministic data for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kivtest {

// Bytes that do not compress: a linear congruential sequence from `seed`.
std::vector<uint8_t> noise(size_t n, uint32_t seed = 7);

}  // namespace kivtest
