#pragma once
// Limits that guard against a hang or a runaway cost; they are not timings.
// A build under the sanitizers does the same work several times slower, so
// its limits are as many times longer.
#include <chrono>

namespace kivtest {

#if defined(KIV_TEST_INSTRUMENTED)
constexpr double kSlowdown = 5;
#else
constexpr double kSlowdown = 1;
#endif

// `seconds` of an ordinary build, in this build.
constexpr double limitSeconds(double seconds) { return seconds * kSlowdown; }

inline std::chrono::milliseconds timeLimit(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(limitSeconds(seconds) * 1000));
}

}  // namespace kivtest
