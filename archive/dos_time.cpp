#include "archive/dos_time.h"

#include "platform/platform.h"

namespace kiv {

uint32_t packDosTime(uint64_t entryTime) {
    std::tm t{};
    if (!platform::localTime(static_cast<int32_t>(static_cast<uint32_t>(entryTime)), t)) return 0;
    const uint32_t year = static_cast<uint32_t>(t.tm_year + 1900 - 1980) & 0x7F;
    return (year << 25) | (static_cast<uint32_t>(t.tm_mon + 1) << 21) | (static_cast<uint32_t>(t.tm_mday) << 16) |
           (static_cast<uint32_t>(t.tm_hour) << 11) | (static_cast<uint32_t>(t.tm_min) << 5) |
           (static_cast<uint32_t>(t.tm_sec) / 2);
}

}  // namespace kiv
