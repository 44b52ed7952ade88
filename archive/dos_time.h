#pragma once

#include <cstdint>

namespace kiv {

// Seconds since 1970 (low 32 bits taken as a signed count) to the MS-DOS
// packed local date and time the host shows; 0 when the count does not
// convert (negative counts). Years before 1980 wrap in the 7-bit year field.
uint32_t packDosTime(uint64_t entryTime);

}  // namespace kiv
