#pragma once

#include <cstdint>
#include <climits>

namespace kiv {

// Seconds since 1970 (low 32 bits taken as a signed count) to the MS-DOS
// packed local date and time the host shows; 0 when the count does not
// convert (negative counts). Years before 1980 wrap in the 7-bit year field.
uint32_t packDosTime(uint64_t entryTime);

// The same conversion for a whole catalogue. Local time is asked of the
// platform once per quarter hour of entry times: within such a window the
// offset from UTC is the same at both ends, and the rest is arithmetic.
class DosTimeConverter {
public:
    uint32_t pack(uint64_t entryTime);

private:
    uint32_t convert(int32_t seconds);

    static constexpr int64_t kWindow = 900;
    int64_t window_ = -1;      // start of the cached window, or -1
    int64_t offset_ = 0;       // local minus UTC seconds within it
    bool uniform_ = false;     // false: the offset changes inside the window
    int64_t lastSeconds_ = -1; // entries often share a time
    uint32_t lastPacked_ = 0;
    int64_t lastDay_ = INT64_MIN; // and a day
    uint32_t lastDate_ = 0;
};

}  // namespace kiv
