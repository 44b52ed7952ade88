#include "archive/dos_time.h"

#include <climits>

#include "platform/platform.h"

namespace kiv {

namespace {

uint32_t pack(int year, int month, int day, int hour, int minute, int second) {
    const uint32_t y = static_cast<uint32_t>(year - 1980) & 0x7F;
    return (y << 25) | (static_cast<uint32_t>(month) << 21) | (static_cast<uint32_t>(day) << 16) |
           (static_cast<uint32_t>(hour) << 11) | (static_cast<uint32_t>(minute) << 5) |
           (static_cast<uint32_t>(second) / 2);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

bool localOffset(int64_t t, int64_t& offset) {
    std::tm tm{};
    if (!platform::localTime(static_cast<int32_t>(t), tm)) return false;
    const int64_t local = daysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                                        static_cast<unsigned>(tm.tm_mday)) * 86400 +
                          tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
    offset = local - t;
    return true;
}

}  // namespace

uint32_t packDosTime(uint64_t entryTime) {
    std::tm t{};
    if (!platform::localTime(static_cast<int32_t>(static_cast<uint32_t>(entryTime)), t)) return 0;
    return pack(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

uint32_t DosTimeConverter::pack(uint64_t entryTime) {
    const int32_t seconds = static_cast<int32_t>(static_cast<uint32_t>(entryTime));
    if (seconds < 0) return 0;
    if (seconds == lastSeconds_) return lastPacked_;
    lastSeconds_ = seconds;
    lastPacked_ = convert(seconds);
    return lastPacked_;
}

uint32_t DosTimeConverter::convert(int32_t seconds) {
    const int64_t window = seconds / kWindow * kWindow;
    if (window != window_) {
        int64_t first = 0, last = 0;
        const int64_t end = window + kWindow - 1 > INT32_MAX ? INT32_MAX : window + kWindow - 1;
        uniform_ = localOffset(window, first) && localOffset(end, last) && first == last;
        offset_ = first;
        window_ = window;
    }
    if (!uniform_) return packDosTime(static_cast<uint32_t>(seconds));
    const int64_t local = seconds + offset_;
    const int64_t days = (local >= 0 ? local : local - 86399) / 86400;
    const int64_t inDay = local - days * 86400;
    if (days != lastDay_) {
        int year, month, day;
        civilFromDays(days, year, month, day);
        lastDay_ = days;
        lastDate_ = kiv::pack(year, month, day, 0, 0, 0);
    }
    return lastDate_ | kiv::pack(1980, 0, 0, static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                                 static_cast<int>(inDay % 60));
}

}  // namespace kiv
