// Damaged and hostile archives: whatever the bytes, the plug-in answers
// with codes, in bounded time, and never crashes.
#include <chrono>
#include <future>
#include <random>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tests/e2e/plugin_fixture.h"

using namespace kivtest;

namespace {

ArchiveWriter richArchive(uint8_t compression) {
    ArchiveWriter w;
    w.compression(compression);
    std::string text;
    for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + " of some text\n";
    w.dir("docs", 1000000000).file("readme.txt", text).file("tiny", "x").end();
    w.linkTarget("shared", "hard", 3).hardLink("alias", 3);
    w.symlink("link", "docs/readme.txt").device('b', "disk", 8, 1).special('p', "fifo");
    RecordOptions plain;
    plain.storedPlain = true;
    w.file("plain", text.substr(0, 5000), 0, plain);
    w.deleted("old").refFile("remote", 99, 0x1111);
    return w;
}

// Opens, lists, tests every entry and closes; returns the open result.
int exercise(PluginHost& host, const std::string& path) {
    int result = 0;
    void* h = host.open(path, result);
    if (!h) return result;
    host.walk(h, [&](const Listed&) { host.ProcessFile(h, PK_TEST, nullptr, nullptr); });
    host.CloseArchive(h);
    return result;
}

struct Robustness : PluginFixture, ::testing::WithParamInterface<uint8_t> {};

}  // namespace

TEST_P(Robustness, RandomDamageNeverCrashesOrHangs) {
    const Bytes good = richArchive(GetParam()).build();
    const std::string path = dir.file("damaged.kiv");
    writeFile(path, good);
    ASSERT_EQ(0, exercise(*host, path));

    std::mt19937 rng(1234 + GetParam());
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 400; ++round) {
        Bytes b = good;
        switch (round % 4) {
            case 0:  // flip a few bytes
                for (int k = 0; k < 1 + static_cast<int>(rng() % 4); ++k) b[16 + rng() % (b.size() - 16)] ^= 1 << (rng() % 8);
                break;
            case 1:  // random bytes over a stretch
                for (size_t i = rng() % b.size(), n = 1 + rng() % 32; n-- && i < b.size(); ++i) b[i] = rng();
                break;
            case 2:  // cut the file short
                b.resize(rng() % b.size());
                break;
            default:  // bytes inserted in the middle
                b.insert(b.begin() + static_cast<long>(16 + rng() % (b.size() - 16)), 1 + rng() % 8, static_cast<uint8_t>(rng()));
                break;
        }
        writeFile(path, b);
        // A new length or time is needed for the plug-in to read it again.
        loadPlugin();
        exercise(*host, path);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
}

INSTANTIATE_TEST_SUITE_P(Compressions, Robustness, ::testing::Values('n', 'z', 'y'),
                         [](const auto& info) { return std::string(1, static_cast<char>(info.param)); });

TEST_F(PluginFixture, HostileNumbersAndOffsets) {
    // A catalogue offset far beyond the file, and one that wraps.
    for (uint64_t offset : {uint64_t(1) << 40, ~uint64_t(0) - 5}) {
        TerminatorOptions t;
        t.k = 3;
        t.offsetBytes = 8;
        t.offsetOverride = offset;
        ArchiveWriter w;
        w.terminator(t).file("a", "1");
        int result = 0;
        list(save(w), &result);
        EXPECT_EQ(E_UNKNOWN_FORMAT, result);
    }
    // Data offsets that point nowhere: listing works, extraction reports bad data.
    ArchiveWriter w;
    RecordOptions far;
    far.dataOffset = uint64_t(1) << 62;
    far.numberBytes = 8;
    w.file("far", "abc", 0, far);
    RecordOptions wrap;
    wrap.dataOffset = ~uint64_t(0) - 3;
    wrap.numberBytes = 8;
    w.file("wrap", "abc", 0, wrap);
    const std::string path = save(w);
    EXPECT_EQ(E_BAD_DATA, extractOne(path, "far", ""));
    // The offset wraps around to the slice header: whatever is read there
    // fails the checksum.
    EXPECT_EQ(E_BAD_ARCHIVE, extractOne(path, "wrap", ""));
    // All FF after the header: the terminator scan must stop.
    Bytes ff = ArchiveWriter().build();
    ff.resize(16 + 6);
    ff.resize(200000, 0xFF);
    writeFile(dir.file("ff.kiv"), ff);
    int result = 0;
    list(dir.file("ff.kiv"), &result);
    EXPECT_EQ(E_UNKNOWN_FORMAT, result);
}

// Only plain files are opened: a pipe without a writer would hold the open,
// and the host with it, for ever; a terminal or device would wait for input.
TEST_F(PluginFixture, OnlyPlainFilesAreOpened) {
    int result = 0;
#if defined(_WIN32)
    list("NUL", &result);
    EXPECT_EQ(E_EOPEN, result);
#else
    const std::string fifo = dir.file("pipe.kiv");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    // Should the open wait for a writer after all, this one ends the wait.
    std::promise<void> listed;
    std::thread rescue([&, done = listed.get_future()] {
        if (done.wait_for(std::chrono::seconds(3)) == std::future_status::ready) return;
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
    });
    const auto start = std::chrono::steady_clock::now();
    list(fifo, &result);
    listed.set_value();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(E_EOPEN, result);
    rescue.join();
    for (const std::string& other : {std::string("/dev/null"), dir.path()}) {
        list(other, &result);
        EXPECT_EQ(E_EOPEN, result) << other;
    }
#endif
}
