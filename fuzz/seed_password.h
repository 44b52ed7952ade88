#pragma once

namespace kivfuzz {
// The password the scrambled seed archives are made with and the fuzzing
// host answers with.
constexpr const char* kSeedPassword = "seed-key-42";
}  // namespace kivfuzz
