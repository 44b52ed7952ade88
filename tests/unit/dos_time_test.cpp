// The catalogue's time conversion must agree with the platform's local time
// for every second, across daylight-saving changes and odd offsets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

#include "archive/dos_time.h"

namespace {

void useZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

}  // namespace

TEST(DosTime, ConverterAgreesWithLocalTimeEverywhere) {
    const char* zones[] = {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kathmandu",
                           "America/St_Johns", "Africa/Monrovia"};
    std::mt19937 rng(42);
    for (const char* zone : zones) {
        useZone(zone);
        kiv::DosTimeConverter converter;
        // Random instants, and runs of seconds around each quarter hour of a
        // few years' worth of transitions (sorted runs exercise the cache).
        for (int i = 0; i < 20000; ++i) {
            const uint64_t t = rng() % 0x7FFFFFFFu;
            ASSERT_EQ(kiv::packDosTime(t), converter.pack(t)) << zone << " " << t;
        }
        for (int64_t t = 1300000000; t < 1300000000 + 2 * 365 * 86400; t += 1800 - 7) {
            for (int64_t d = -2; d <= 2; ++d) {
                const uint64_t s = static_cast<uint64_t>(t + d);
                ASSERT_EQ(kiv::packDosTime(s), converter.pack(s)) << zone << " " << s;
            }
        }
        EXPECT_EQ(0u, converter.pack(uint64_t(1) << 31));
        EXPECT_EQ(kiv::packDosTime(60), converter.pack((uint64_t(1) << 32) + 60));
    }
    useZone("UTC");
}
