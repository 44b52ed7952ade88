// The resource limits, at their real sizes: a small archive whose catalogue
// expands a thousandfold, or into more entries than the entry list may
// hold, fails the open with E_NO_MEMORY, promptly and within the memory cap.
// "Promptly" is 10 s of processor time (longer under the sanitizers).
#include <ctime>
#include <unordered_map>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "tests/e2e/plugin_fixture.h"
#include "tests/support/time_limit.h"

using namespace kivtest;

namespace {

// Processor seconds of this process: what the plug-in's work costs, however
// busy the machine is with other things. The Windows runtime's clock counts
// wall time, so there the process's own user and kernel times are asked for.
double processSeconds() {
#if defined(_WIN32)
    FILETIME created, ended, kernel, user;
    if (GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        auto ticks = [](const FILETIME& t) {
            return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;   // 100 ns units
    }
#endif
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

const Bytes kRoot = {'d', 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0x80, 0, 0, 0, 0};

// A unit of about 64 KiB made of one record repeated.
Bytes unitOf(const Bytes& record) {
    Bytes unit;
    while (unit.size() + record.size() <= 65535) unit.insert(unit.end(), record.begin(), record.end());
    return unit;
}

struct Limits : PluginFixture {
    // Opens an archive whose zlib catalogue is `head`, `copies` units and the
    // end; returns the open result and how long the open took.
    int openBomb(const Bytes& head, const Bytes& unit, uint64_t copies, double* seconds,
                 size_t* archiveBytes = nullptr) {
        ArchiveWriter w;
        w.compression('z').catalogueStream(zlibRepeated(head, unit, copies, {0, 0, 'z'}));
        const std::string path = save(w);
        if (archiveBytes) *archiveBytes = w.build().size();
        const double start = processSeconds();
        int result = -1;
        list(path, &result);
        *seconds = processSeconds() - start;
        return result;
    }
};

}  // namespace

TEST_F(Limits, ThousandfoldCatalogueOpensOrStopsAtItsCap) {
    // One deleted record whose name never ends: a megabyte of archive that
    // stands for a gigabyte of catalogue. Just below the cap it opens (the
    // name is read and dropped); just above it the open fails.
    const Bytes unit(1 << 20, 'a');
    Bytes head = kRoot;
    head.push_back('x');
    double seconds = 0;
    size_t bytes = 0;
    EXPECT_EQ(0, openBomb(head, unit, 1000, &seconds, &bytes));
    EXPECT_LE(bytes, 1u << 20);
    EXPECT_GE(1000.0 * unit.size() / bytes, 1000.0);
    EXPECT_LT(seconds, limitSeconds(10));
    RecordProperty("seconds_below", std::to_string(seconds));

    EXPECT_EQ(E_NO_MEMORY, openBomb(head, unit, 1025, &seconds));
    EXPECT_LT(seconds, limitSeconds(10));
    RecordProperty("seconds_above", std::to_string(seconds));
}

TEST_F(Limits, RecordsThatMakeNoEntriesAreCountedToo) {
    // Deleted records of three bytes, hidden from the listing: no entries,
    // and far below the size cap, but hundreds of millions of records.
    const Bytes unit = unitOf({'x', 0, 0});
    double seconds = 0;
    size_t bytes = 0;
    EXPECT_EQ(E_NO_MEMORY, openBomb(kRoot, unit, 12000, &seconds, &bytes));
    EXPECT_LE(bytes, 1u << 20);
    EXPECT_LT(seconds, limitSeconds(10));
    RecordProperty("seconds", std::to_string(seconds));
}

TEST_F(Limits, EntriesBeyondTheCapFailTheOpen) {
    // Shown deleted records: every three bytes an entry of 64 bytes and more.
    loadPluginWithSettings("[kiv]\nshowDeletedFiles=1\n");
    const Bytes unit = unitOf({'x', 'a', 0, 0});
    double seconds = 0;
    EXPECT_EQ(E_NO_MEMORY, openBomb(kRoot, unit, 2000, &seconds));
    EXPECT_LT(seconds, limitSeconds(10));
    RecordProperty("seconds", std::to_string(seconds));
}

TEST_F(Limits, HardLinkLabelsCannotBeMadeToCollide) {
    // Labels that all fall into one bucket of a table hashed by the label's
    // value alone, which made every new label a walk over all the others.
    constexpr uint64_t kLabels = 60000;
    std::unordered_map<uint64_t, int> probe;
    for (uint64_t i = 0; i < kLabels; ++i) probe.emplace(i, 0);
    const uint64_t buckets = probe.bucket_count();
    ArchiveWriter w;
    w.compression('z');
    RecordOptions wide;
    wide.numberBytes = 8;
    for (uint64_t i = 1; i <= kLabels; ++i) w.linkTarget("t", "", i * buckets, 0, wide);
    w.hardLink("last", kLabels * buckets, wide);
    const std::string path = save(w);
    EXPECT_LE(w.build().size(), 1u << 20);
    const double start = processSeconds();
    const auto listed = list(path);
    const double seconds = processSeconds() - start;
    ASSERT_EQ(kLabels + 1, listed.size());
    EXPECT_LT(seconds, limitSeconds(1));
    RecordProperty("seconds", std::to_string(seconds));
}
