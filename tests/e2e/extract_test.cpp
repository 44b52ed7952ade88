// Extraction and testing through ProcessFile: the bytes that arrive, the
// progress reports, and what is left on disk after every kind of failure.
#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>
#include <utility>

#include "tests/e2e/plugin_fixture.h"
#include "tests/support/test_data.h"

namespace kivtest {
namespace {

namespace fs = std::filesystem;

// What the host's process-data callback saw. The callback is a plain
// function pointer, so the record is file-wide and reset per test.
struct ProgressLog {
    std::vector<std::pair<std::string, int>> calls;
    int abortAtCall = 0;  // 1-based call that answers 0; 0 = never
    int total() const {
        return std::accumulate(calls.begin(), calls.end(), 0,
                               [](int s, const std::pair<std::string, int>& c) { return s + c.second; });
    }
    std::vector<int> sizes() const {
        std::vector<int> out;
        for (const auto& c : calls) out.push_back(c.second);
        return out;
    }
};
ProgressLog progress;
int otherCallbackCalls = 0;

int WCX_CALL recordProgress(char* name, int size) {
    progress.calls.emplace_back(name ? name : "<null>", size);
    return progress.abortAtCall != 0 && static_cast<int>(progress.calls.size()) == progress.abortAtCall ? 0 : 1;
}

int WCX_CALL otherCallback(char*, int) {
    ++otherCallbackCalls;
    return 1;
}

// Deterministic data: text-like words and lines, or byte noise.
Bytes textLike(size_t n, uint32_t seed = 1) {
    static const char* words[] = {"archive", "entry", "the", "of", "catalogue", "reader", "data",
                                  "checksum", "a", "panel", "folder", "zlib", "block", "stream"};
    Bytes out;
    uint32_t x = seed;
    while (out.size() < n) {
        x = x * 1103515245u + 12345u;
        const char* w = words[(x >> 16) % (sizeof words / sizeof *words)];
        out.insert(out.end(), w, w + std::strlen(w));
        out.push_back(((x >> 8) & 15) == 0 ? '\n' : ' ');
    }
    out.resize(n);
    return out;
}

// Modification time in seconds since 1970, -1 when there is no file.
int64_t modTime(const std::string& path) {
#if defined(_WIN32)
    struct _stat64 st;
    return _stat64(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
#else
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
#endif
}

std::set<std::string> folderContents(const std::string& folder) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

// Runs `body` so that a hang fails the test instead of blocking the run.
#if defined(_WIN32)
// No fork here: the body runs in this process while a watchdog thread waits;
// if the body is not done within `seconds`, the whole run ends with a message.
int bounded(const std::function<int()>& body, int seconds) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(m);
        if (!cv.wait_for(lock, std::chrono::seconds(seconds), [&] { return done; })) {
            std::fprintf(stderr, "a plug-in call did not return within %d s\n", seconds);
            std::fflush(stderr);
            std::_Exit(3);
        }
    });
    struct Finish {
        std::mutex& m;
        std::condition_variable& cv;
        bool& done;
        std::thread& watchdog;
        ~Finish() {
            {
                std::lock_guard<std::mutex> lock(m);
                done = true;
            }
            cv.notify_one();
            watchdog.join();
        }
    } finish{m, cv, done, watchdog};
    return body();
}
#else
// In a forked child; returns its exit status, -1 when it had to be killed
// after `seconds`, -2 when it died of a signal.
int bounded(const std::function<int()>& body, int seconds) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body() & 0xFF);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}
#endif

// One open archive, walked the way the host does.
class Session {
public:
    Session(PluginHost& host, const std::string& archive) : host_(host) { handle_ = host.open(archive, result_); }
    ~Session() {
        if (handle_) host_.CloseArchive(handle_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void* handle() const { return handle_; }
    int openResult() const { return result_; }

    // Reads headers, skipping others, until `name`; false at the end.
    bool seek(const std::string& name) {
        for (;;) {
            tHeaderData header;
            std::memset(&header, 0, sizeof header);
            if (host_.ReadHeader(handle_, &header) != 0) return false;
            last_ = header;
            if (name == header.FileName) return true;
            host_.ProcessFile(handle_, PK_SKIP, nullptr, nullptr);
        }
    }
    std::string next() {
        tHeaderData header;
        std::memset(&header, 0, sizeof header);
        if (host_.ReadHeader(handle_, &header) != 0) return "<end>";
        last_ = header;
        return header.FileName;
    }
    const tHeaderData& header() const { return last_; }

    int process(int operation, const char* path, const char* name) {
        std::string p = path ? path : "", n = name ? name : "";
        return host_.ProcessFile(handle_, operation, path ? &p[0] : nullptr, name ? &n[0] : nullptr);
    }
    int extract(const std::string& dest) { return process(PK_EXTRACT, nullptr, dest.c_str()); }
    int test() { return process(PK_TEST, nullptr, nullptr); }
    void watch() { host_.SetProcessDataProc(handle_, recordProgress); }

private:
    PluginHost& host_;
    void* handle_ = nullptr;
    int result_ = -1;
    tHeaderData last_{};
};

class ExtractTest : public PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        progress = ProgressLog();
        otherCallbackCalls = 0;
        out = dir.file("out");
        fs::create_directory(out);
    }

    std::string outFile(const std::string& name) const { return out + "/" + name; }

    // Opens `archive`, finds `entry`, watches progress and runs one operation.
    int run(const std::string& archive, const std::string& entry, int operation, const char* path,
            const char* name) {
        Session s(*host, archive);
        EXPECT_EQ(0, s.openResult());
        if (!s.handle() || !s.seek(entry)) {
            ADD_FAILURE() << "entry " << entry << " not listed";
            return -100;
        }
        s.watch();
        return s.process(operation, path, name);
    }
    int extractTo(const std::string& archive, const std::string& entry, const std::string& dest) {
        return run(archive, entry, PK_EXTRACT, nullptr, dest.c_str());
    }
    int testEntry(const std::string& archive, const std::string& entry) {
        return run(archive, entry, PK_TEST, nullptr, nullptr);
    }

    std::string out;
};

// ---------------------------------------------------------------------------
// Over every compression code.

class ExtractByCode : public ExtractTest, public ::testing::WithParamInterface<char> {
protected:
    ArchiveWriter writer() const {
        ArchiveWriter w;
        w.compression(static_cast<uint8_t>(GetParam()));
        return w;
    }
    bool stored() const { return GetParam() == 'n'; }
};

std::string codeName(const ::testing::TestParamInfo<char>& info) { return std::string(1, info.param); }

TEST_P(ExtractByCode, ExtractedBytesEqualTheDataAtChunkBoundaries) {
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"s0", {}},
        {"s1", {0x5A}},
        {"s4095", noise(4095, 1)},
        {"s4096", noise(4096, 2)},
        {"s4097", noise(4097, 3)},
        {"text", textLike(300 * 1024, 4)},
    };
    // Extracted files keep the entry's time, whether new or replacing a file.
    const int64_t time = 1717243200;  // 2024-06-01 12:00:00 UTC
    ArchiveWriter w = writer();
    w.dir("d");
    for (size_t i = 0; i < files.size(); ++i) w.file(files[i].first, files[i].second, time + i);
    w.end();
    const std::string archive = save(w);

    for (size_t i = 0; i < files.size(); ++i) {
        const auto& f = files[i];
        SCOPED_TRACE(f.first);
        progress = ProgressLog();
        const std::string dest = outFile(f.first);
        ASSERT_EQ(0, extractTo(archive, "d\\" + f.first, dest));
        EXPECT_EQ(f.second, readFile(dest));
        EXPECT_EQ(time + static_cast<int64_t>(i), modTime(dest));
        EXPECT_EQ(static_cast<int>(f.second.size()), progress.total());
        for (const auto& c : progress.calls) {
            EXPECT_EQ(dest, c.first);
            EXPECT_GT(c.second, 0);
            EXPECT_LE(c.second, 4096);
        }
        if (stored())  // a plain view delivers whole chunks
            EXPECT_EQ(static_cast<size_t>((f.second.size() + 4095) / 4096), progress.calls.size());
        if (f.first == "s4097") {
            writeText(dest, "older");
            ASSERT_EQ(0, extractTo(archive, "d\\" + f.first, dest));
            EXPECT_EQ(f.second, readFile(dest));
            EXPECT_EQ(time + static_cast<int64_t>(i), modTime(dest)) << "over an existing file";
        }
    }
    EXPECT_EQ(files.size(), folderContents(out).size()) << "stray files in the destination folder";
}

TEST_P(ExtractByCode, TestModeWritesNothingAndReportsEveryChunkUnderTheEntryPath) {
    const Bytes data = textLike(9000, 9);
    ArchiveWriter w = writer();
    w.dir("sub").file("big.txt", data).end();
    const std::string archive = save(w);

    // Even a destination handed along with the test operation is not written.
    EXPECT_EQ(0, run(archive, "sub\\big.txt", PK_TEST, (out + "/").c_str(), "big.txt"));
    EXPECT_TRUE(folderContents(out).empty());
    EXPECT_EQ(9000, progress.total());
    ASSERT_FALSE(progress.calls.empty());
    for (const auto& c : progress.calls) EXPECT_EQ("sub\\big.txt", c.first);
    if (stored()) EXPECT_EQ((std::vector<int>{4096, 4096, 808}), progress.sizes());
}

TEST_P(ExtractByCode, ExtractWithoutDestinationNameOnlyVerifies) {
    const Bytes data = noise(5000, 5);
    RecordOptions bad;
    bad.checksumOverride = static_cast<uint16_t>(checksum(data) ^ 0x0100);
    ArchiveWriter w = writer();
    w.file("good", data).file("bad", data, 0, bad);
    const std::string archive = save(w);

    EXPECT_EQ(0, run(archive, "good", PK_EXTRACT, (out + "/").c_str(), nullptr));
    EXPECT_EQ(5000, progress.total());
    EXPECT_EQ(13, run(archive, "bad", PK_EXTRACT, (out + "/").c_str(), nullptr));
    EXPECT_EQ(13, testEntry(archive, "bad"));
    EXPECT_TRUE(folderContents(out).empty());
}

TEST_P(ExtractByCode, AbortOnFirstReportLeavesNoFileAndKeepsAnExistingOne) {
    const Bytes data = noise(10000, 11);
    ArchiveWriter w = writer();
    w.file("f", data);
    const std::string archive = save(w);

    progress.abortAtCall = 1;
    EXPECT_EQ(21, extractTo(archive, "f", outFile("new")));
    EXPECT_EQ(1u, progress.calls.size());
    EXPECT_TRUE(folderContents(out).empty());

    writeText(outFile("kept"), "what was there before\n");
    progress = ProgressLog();
    progress.abortAtCall = 2;
    EXPECT_EQ(21, extractTo(archive, "f", outFile("kept")));
    EXPECT_EQ(2u, progress.calls.size());
    EXPECT_EQ("what was there before\n", readText(outFile("kept")));
    EXPECT_EQ((std::set<std::string>{"kept"}), folderContents(out));
}

TEST_P(ExtractByCode, ChecksumMismatchGives13AfterAllDataAndKeepsAnExistingFile) {
    const Bytes data = noise(4097, 13);
    RecordOptions bad;
    bad.checksumOverride = static_cast<uint16_t>(checksum(data) ^ 0x0001);
    ArchiveWriter w = writer();
    w.file("bad", data, 0, bad).file("good", data);
    const std::string archive = save(w);

    EXPECT_EQ(13, extractTo(archive, "bad", outFile("bad")));
    EXPECT_EQ(4097, progress.total());
    EXPECT_TRUE(folderContents(out).empty());

    writeText(outFile("kept"), "older");
    EXPECT_EQ(13, extractTo(archive, "bad", outFile("kept")));
    EXPECT_EQ("older", readText(outFile("kept")));
    EXPECT_EQ(13, testEntry(archive, "bad"));
    EXPECT_EQ(0, testEntry(archive, "good"));
    EXPECT_EQ((std::set<std::string>{"kept"}), folderContents(out));
}

TEST_P(ExtractByCode, SizeBeyondTheDataGives12AfterReportingWhatCouldBeRead) {
    const Bytes data = textLike(6000, 21);
    RecordOptions longer;
    longer.sizeOverride = data.size() + 200000;
    ArchiveWriter w = writer();
    w.file("long", data, 0, longer);
    const std::string archive = save(w);
    const uint64_t fileSize = fs::file_size(archive);
    const uint64_t offset = w.layout().dataOffsets.at(0);

    writeText(outFile("kept"), "keep me");
    EXPECT_EQ(12, extractTo(archive, "long", outFile("kept")));
    EXPECT_EQ("keep me", readText(outFile("kept")));
    EXPECT_EQ((std::set<std::string>{"kept"}), folderContents(out));
    // A plain view reads on to the end of the file; a decoder stops at the
    // end of its stream.
    const int readable = stored() ? static_cast<int>(fileSize - 16 - offset) : static_cast<int>(data.size());
    EXPECT_EQ(readable, progress.total());

    progress = ProgressLog();
    EXPECT_EQ(12, extractTo(archive, "long", outFile("new")));
    EXPECT_FALSE(fileExists(outFile("new")));
    EXPECT_EQ(12, testEntry(archive, "long"));
}

TEST_P(ExtractByCode, DataOffsetPastTheEndOfTheFileGives12WithoutReports) {
    RecordOptions far;
    far.dataOffset = 0xF0000000u;  // far beyond the file; fits the record's 4-byte numbers
    ArchiveWriter w = writer();
    w.file("far", textLike(3000, 3), 0, far);
    const std::string archive = save(w);

    // Bounded in time, so that a decoder waiting for input for ever fails
    // the test instead of hanging it; 99 reports progress calls.
    const auto attempt = [&](int operation) {
        return bounded(
            [&] {
                progress = ProgressLog();
                const int r = operation == PK_TEST ? testEntry(archive, "far")
                                                   : extractTo(archive, "far", outFile("far"));
                return progress.calls.empty() ? r : 99;
            },
            10);
    };
    EXPECT_EQ(12, attempt(PK_EXTRACT));
    EXPECT_EQ(12, attempt(PK_TEST));
    EXPECT_TRUE(folderContents(out).empty());
}

TEST_P(ExtractByCode, EmptyEntryWithDataOffsetMakesAnEmptyFileWithoutReports) {
    RecordOptions bad;
    bad.checksumOverride = 0x0100;
    ArchiveWriter w = writer();
    w.file("empty", "").file("badEmpty", "", 0, bad);
    const std::string archive = save(w);
    ASSERT_NE(0u, w.layout().dataOffsets.at(0));

    writeText(outFile("empty"), "to be replaced");
    EXPECT_EQ(0, extractTo(archive, "empty", outFile("empty")));
    ASSERT_TRUE(fileExists(outFile("empty")));
    EXPECT_TRUE(readFile(outFile("empty")).empty());
    EXPECT_TRUE(progress.calls.empty());
    EXPECT_EQ(0, testEntry(archive, "empty"));

    EXPECT_EQ(13, extractTo(archive, "badEmpty", outFile("badEmpty")));
    EXPECT_EQ(13, testEntry(archive, "badEmpty"));
    EXPECT_TRUE(progress.calls.empty());
    EXPECT_EQ((std::set<std::string>{"empty"}), folderContents(out));
}

TEST_P(ExtractByCode, TestThenExtractOfTheSameEntryBothWorkAndTheCursorStays) {
    const Bytes one = textLike(12000, 31), two = noise(300, 32);
    ArchiveWriter w = writer();
    w.file("one", one).file("two", two);
    const std::string archive = save(w);

    Session s(*host, archive);
    ASSERT_EQ(0, s.openResult());
    ASSERT_TRUE(s.seek("one"));
    EXPECT_EQ(0, s.test());
    EXPECT_EQ(0, s.extract(outFile("one")));
    EXPECT_EQ(0, s.extract(outFile("again")));
    EXPECT_EQ(0, s.test());
    EXPECT_EQ(one, readFile(outFile("one")));
    EXPECT_EQ(one, readFile(outFile("again")));
    EXPECT_EQ("two", s.next());
    EXPECT_EQ(0, s.extract(outFile("two")));
    EXPECT_EQ(two, readFile(outFile("two")));
    EXPECT_EQ("<end>", s.next());
}

#if !defined(_WIN32)  // a file size limit and /dev/full exist on POSIX only
TEST_P(ExtractByCode, WriteFailureGives19AndLeavesNothingButTheOldFile) {
    const Bytes data = noise(300000, 41);
    ArchiveWriter w = writer();
    w.file("big", data);
    const std::string archive = save(w);
    writeText(outFile("kept"), "previous contents\n");

    // The file size limit makes the write fail part-way; the child reports
    // ProcessFile's result as its exit status.
    auto limited = [&](const std::string& dest) {
        return bounded(
            [&] {
                signal(SIGXFSZ, SIG_IGN);
                rlimit limit{65536, 65536};
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 99;
                Session s(*host, archive);
                if (!s.handle() || !s.seek("big")) return 98;
                return s.extract(dest);
            },
            60);
    };
    EXPECT_EQ(19, limited(outFile("kept")));
    EXPECT_EQ("previous contents\n", readText(outFile("kept")));
    EXPECT_EQ(19, limited(outFile("new")));
    EXPECT_EQ((std::set<std::string>{"kept"}), folderContents(out));
}

TEST_P(ExtractByCode, DevFullAsDestinationGives19AndStaysInPlace) {
    struct stat before;
    if (stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode)) GTEST_SKIP() << "no /dev/full";
    ArchiveWriter w = writer();
    w.file("f", noise(20000, 51)).symlink("l", "../t");
    const std::string archive = save(w);

    EXPECT_EQ(19, extractTo(archive, "f", "/dev/full"));
    EXPECT_EQ(19, extractTo(archive, "l", "/dev/full"));
    struct stat after;
    ASSERT_EQ(0, stat("/dev/full", &after));
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(before.st_rdev, after.st_rdev);
}
#endif

INSTANTIATE_TEST_SUITE_P(Extract, ExtractByCode, ::testing::Values('n', 'z', 'y'), codeName);

// ---------------------------------------------------------------------------
// Compressed archives only.

class ExtractCompressed : public ExtractTest, public ::testing::WithParamInterface<char> {};

TEST_P(ExtractCompressed, PlainStoredEntriesInsideACompressedArchive) {
    const Bytes plain = noise(5000, 61), packed = textLike(20000, 62);
    RecordOptions asIs;
    asIs.storedPlain = true;
    ArchiveWriter w;
    w.compression(static_cast<uint8_t>(GetParam())).file("plain", plain, 0, asIs).file("packed", packed);
    const std::string archive = save(w);

    const std::vector<Listed> entries = list(archive);
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ(5000, entries[0].packSize);  // kept uncompressed: the size is shown as packed size
    EXPECT_NE(20000, entries[1].packSize);

    EXPECT_EQ(0, extractTo(archive, "plain", outFile("plain")));
    EXPECT_EQ((std::vector<int>{4096, 904}), progress.sizes());
    EXPECT_EQ(0, extractTo(archive, "packed", outFile("packed")));
    EXPECT_EQ(plain, readFile(outFile("plain")));
    EXPECT_EQ(packed, readFile(outFile("packed")));
}

TEST_P(ExtractCompressed, TruncatedStreamGives12Promptly) {
    RecordOptions cut;
    cut.truncateData = true;
    ArchiveWriter w;
    w.compression(static_cast<uint8_t>(GetParam())).file("cut", textLike(200000, 71), 0, cut);
    const std::string archive = save(w);
    writeText(outFile("kept"), "unchanged");

    const auto attempt = [&](int operation, const std::string& dest) {
        return bounded(
            [&] {
                Session s(*host, archive);
                if (!s.handle() || !s.seek("cut")) return 98;
                return operation == PK_TEST ? s.test() : s.extract(dest);
            },
            10);
    };
    EXPECT_EQ(12, attempt(PK_TEST, ""));
    EXPECT_EQ(12, attempt(PK_EXTRACT, outFile("kept")));
    EXPECT_EQ(12, attempt(PK_EXTRACT, outFile("new")));
    EXPECT_EQ("unchanged", readText(outFile("kept")));
    EXPECT_EQ((std::set<std::string>{"kept"}), folderContents(out));
}

TEST_P(ExtractCompressed, CorruptStreamGives12AndNoFile) {
    const char code = GetParam();
    ArchiveWriter w;
    w.compression(static_cast<uint8_t>(code)).file("bad", textLike(50000, 81));
    const std::string archive = save(w);
    Bytes bytes = readFile(archive);
    const size_t at = 16 + w.layout().dataOffsets.at(0);
    if (code == 'y') {
        bytes.at(at) = 'Q';  // no bzip2 signature
    } else {
        for (size_t i = at + 2; i < at + 12; ++i) bytes.at(i) = 0xFF;  // reserved deflate block type
    }
    writeFile(archive, bytes);

    EXPECT_EQ(12, extractTo(archive, "bad", outFile("bad")));
    EXPECT_EQ(12, testEntry(archive, "bad"));
    EXPECT_TRUE(folderContents(out).empty());
}

INSTANTIATE_TEST_SUITE_P(Extract, ExtractCompressed, ::testing::Values('z', 'p', 'y'), codeName);

// zlib entries decode through the fastest engine (the whole-stream one when
// the catalogue's stored size and size are small, the streaming one
// otherwise), yet testing and extracting end exactly as with zlib: the
// same result code after the same progress, and no file on a failure.
TEST_F(ExtractTest, ZlibEntriesEndAsWithZlibWhicheverEngineDecodes) {
    const Bytes data = textLike(300000, 131);
    enum Damage { Intact, Cut, Corrupt, Trailer, Checksum, Longer };
    const char* names[] = {"intact", "cut", "corrupt", "trailer", "checksum", "longer"};
    ArchiveWriter w;
    w.compression('z');
    for (int streamed = 0; streamed < 2; ++streamed) {
        for (int d = Intact; d <= Longer; ++d) {
            RecordOptions o;
            // A stored size beyond the whole-stream engine's limit picks
            // the streaming engine; the data is the same.
            if (streamed) o.storedSizeOverride = uint64_t(9) << 20;
            if (d == Cut) o.truncateData = true;
            if (d == Checksum) o.checksumOverride = static_cast<uint16_t>(checksum(data) ^ 1);
            if (d == Longer) o.sizeOverride = data.size() + 1;
            w.file(std::string(names[d]) + (streamed ? "-streamed" : "-whole"), data, 0, o);
        }
    }
    std::string archive = save(w);
    Bytes bytes = readFile(archive);
    const Bytes stream = zlibCompress(data);
    for (int streamed = 0; streamed < 2; ++streamed) {
        const size_t at = 16 + w.layout().dataOffsets.at(static_cast<size_t>(streamed * 6));
        const size_t corrupt = 16 + w.layout().dataOffsets.at(static_cast<size_t>(streamed * 6 + Corrupt));
        const size_t trailer = 16 + w.layout().dataOffsets.at(static_cast<size_t>(streamed * 6 + Trailer));
        ASSERT_TRUE(std::equal(stream.begin(), stream.end(), bytes.begin() + static_cast<long>(at)));
        for (size_t i = stream.size() / 2; i < stream.size() / 2 + 8; ++i) bytes.at(corrupt + i) ^= 0x5A;
        bytes.at(trailer + stream.size() - 1) ^= 1;
    }
    writeFile(archive, bytes);

    for (int streamed = 0; streamed < 2; ++streamed) {
        for (int d = Intact; d <= Longer; ++d) {
            const std::string name = std::string(names[d]) + (streamed ? "-streamed" : "-whole");
            // What zlib makes of the entry's stored bytes, read to the end of the file.
            const size_t at = 16 + w.layout().dataOffsets.at(static_cast<size_t>(streamed * 6 + d));
            Bytes decoded(data.size() + 64);
            z_stream z{};
            inflateInit(&z);
            z.next_in = bytes.data() + at;
            z.avail_in = static_cast<uInt>(bytes.size() - at);
            z.next_out = decoded.data();
            z.avail_out = static_cast<uInt>(decoded.size());
            while (inflate(&z, Z_NO_FLUSH) == Z_OK && z.avail_out > 0) {
            }
            decoded.resize(decoded.size() - z.avail_out);
            inflateEnd(&z);
            const size_t size = d == Longer ? data.size() + 1 : data.size();
            const size_t reported = std::min(size, decoded.size());
            const uint16_t sum = d == Checksum ? static_cast<uint16_t>(checksum(data) ^ 1) : checksum(data);
            const int expected = decoded.size() < size ? 12
                                 : checksum(Bytes(decoded.begin(), decoded.begin() + static_cast<long>(size))) == sum
                                     ? 0
                                     : 13;
            // (A cut or corrupt stream may decode on into the next entry's
            // data, as zlib reads on past the stored size.)
            EXPECT_EQ(d == Intact || d == Trailer, expected == 0) << name;

            progress = ProgressLog();
            EXPECT_EQ(expected, testEntry(archive, name)) << name;
            EXPECT_EQ(reported, static_cast<size_t>(progress.total())) << name;
            progress = ProgressLog();
            EXPECT_EQ(expected, extractTo(archive, name, outFile(name))) << name;
            EXPECT_EQ(reported, static_cast<size_t>(progress.total())) << name;
            if (expected == 0) EXPECT_EQ(data, readFile(outFile(name))) << name;
            else EXPECT_FALSE(fs::exists(outFile(name))) << name;
        }
    }
}

// bzip2 entries of many blocks go to the decoding workers: the same bytes
// and progress, an abort midway that leaves nothing, damage that ends the
// data early.
TEST_F(ExtractTest, BzipEntryOfManyBlocks) {
    const Bytes data = textLike(1500000, 83);  // 15 blocks of level 1
    ArchiveWriter w;
    w.compression('y').bzip2Level(1).file("big", data);
    const std::string archive = save(w);

    EXPECT_EQ(0, extractTo(archive, "big", outFile("big")));
    EXPECT_TRUE(data == readFile(outFile("big")));
    const std::vector<int> sizes = progress.sizes();
    ASSERT_EQ((data.size() + 4095) / 4096, sizes.size());
    EXPECT_TRUE(std::all_of(sizes.begin(), sizes.end() - 1, [](int n) { return n == 4096; }));
    std::remove(outFile("big").c_str());

    progress = ProgressLog();
    progress.abortAtCall = 100;
    EXPECT_EQ(21, extractTo(archive, "big", outFile("big")));
    EXPECT_EQ(100u, progress.calls.size());
    EXPECT_TRUE(folderContents(out).empty());

    Bytes bytes = readFile(archive);
    const size_t start = 16 + w.layout().dataOffsets.at(0);
    bytes.at(start + (bytes.size() - start) / 2) ^= 0x08;  // inside a middle block
    writeFile(archive, bytes);
    progress = ProgressLog();
    EXPECT_EQ(12, extractTo(archive, "big", outFile("big")));
    EXPECT_GT(progress.total(), 0);
    EXPECT_LT(progress.total(), static_cast<int>(data.size()));
    EXPECT_TRUE(folderContents(out).empty());
}

// ---------------------------------------------------------------------------
// Stored archives: destinations, progress sizes, entries without data.

TEST_F(ExtractTest, DestinationPathAndNameAreJoinedWithASeparator) {
    const Bytes data = textLike(100, 91);
    ArchiveWriter w;
    w.file("a", data);
    const std::string archive = save(w);

    EXPECT_EQ(0, run(archive, "a", PK_EXTRACT, (out + "/").c_str(), "x"));
    EXPECT_EQ(data, readFile(outFile("x")));
    // A folder without its separator: the file goes into it, not beside it.
    EXPECT_EQ(0, run(archive, "a", PK_EXTRACT, out.c_str(), "y"));
    EXPECT_EQ(data, readFile(outFile("y")));
    EXPECT_FALSE(fileExists(out + "y"));
    ASSERT_FALSE(progress.calls.empty());
    // The progress name is the joined destination, with the platform's separator.
#if defined(_WIN32)
    EXPECT_EQ(out + "\\y", progress.calls.back().first);
#else
    EXPECT_EQ(out + "/y", progress.calls.back().first);
#endif
#if defined(_WIN32)
    EXPECT_EQ(0, run(archive, "a", PK_EXTRACT, (out + "\\").c_str(), "b"));
    EXPECT_EQ(data, readFile(outFile("b")));
#else
    // '\\' is a character of POSIX names, not a separator.
    fs::create_directory(outFile("b\\"));
    EXPECT_EQ(0, run(archive, "a", PK_EXTRACT, outFile("b\\").c_str(), "c"));
    EXPECT_EQ(data, readFile(outFile("b\\/c")));
#endif
    EXPECT_EQ(0, run(archive, "a", PK_EXTRACT, "", outFile("e").c_str()));  // an empty path adds nothing
    EXPECT_EQ(data, readFile(outFile("e")));
    EXPECT_EQ(0, run(archive, "a", PK_EXTRACT, nullptr, outFile("z").c_str()));
    EXPECT_EQ(data, readFile(outFile("z")));
}

TEST_F(ExtractTest, EntryOf4097BytesIsReportedAs4096Then1) {
    ArchiveWriter w;
    w.file("f", noise(4097, 101));
    const std::string archive = save(w);
    EXPECT_EQ(0, extractTo(archive, "f", outFile("f")));
    EXPECT_EQ((std::vector<int>{4096, 1}), progress.sizes());
    progress = ProgressLog();
    EXPECT_EQ(0, testEntry(archive, "f"));
    EXPECT_EQ((std::vector<int>{4096, 1}), progress.sizes());
}

TEST_F(ExtractTest, ReplacedProgressCallbackIsTheOneCalled) {
    ArchiveWriter w;
    w.file("f", noise(9000, 111));
    const std::string archive = save(w);

    void* handle = nullptr;
    {
        Session s(*host, archive);
        handle = s.handle();
        ASSERT_TRUE(s.seek("f"));
        host->SetProcessDataProc(s.handle(), otherCallback);
        s.watch();  // replaces otherCallback
        EXPECT_EQ(0, s.extract(outFile("f")));
        EXPECT_EQ(3u, progress.calls.size());
        EXPECT_EQ(0, otherCallbackCalls);

        host->SetProcessDataProc(s.handle(), otherCallback);
        EXPECT_EQ(0, s.test());
        EXPECT_EQ(3, otherCallbackCalls);
        EXPECT_EQ(3u, progress.calls.size());
    }
    // A closed handle's callback is not set, and not inherited by the next
    // open of the kept archive (perhaps another thread's, with no callback).
    host->SetProcessDataProc(handle, recordProgress);
    Session again(*host, archive);
    ASSERT_EQ(handle, again.handle());
    ASSERT_TRUE(again.seek("f"));
    EXPECT_EQ(0, again.test());
    EXPECT_EQ(3, otherCallbackCalls);
    EXPECT_EQ(3u, progress.calls.size());
}

TEST_F(ExtractTest, CompressedEntryInAStoredArchiveGives16AndKeepsAnExistingFile) {
    RecordOptions claimsCompressed;
    claimsCompressed.storedSizeOverride = 40;
    ArchiveWriter w;
    w.file("odd", textLike(100, 121), 0, claimsCompressed);
    const std::string archive = save(w);

    EXPECT_EQ(16, extractTo(archive, "odd", outFile("odd")));
    writeText(outFile("kept"), "stays");
    EXPECT_EQ(16, extractTo(archive, "odd", outFile("kept")));
    EXPECT_EQ("stays", readText(outFile("kept")));
    EXPECT_EQ(16, testEntry(archive, "odd"));
    EXPECT_TRUE(progress.calls.empty());
    EXPECT_EQ((std::set<std::string>{"kept"}), folderContents(out));
}

TEST_F(ExtractTest, EntriesWithoutDataGiveTheirContentText) {
    ArchiveWriter w;
    w.symlink("l", "../t", 1717243200)
        .device('b', "blk", 8, 1)
        .device('c', "chr", -1, 1)
        .dir("d")
        .end()
        .special('p', "fifo");
    const std::string archive = save(w);

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"l", "Link: (../t)"},
        {"blk", "(b) device: (8) (1)"},
        {"chr", "(c) device: (-1) (1)"},
        {"d", ""},
        {"fifo", ""},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.first);
        EXPECT_EQ(0, extractTo(archive, e.first, outFile(e.first)));
        ASSERT_TRUE(fileExists(outFile(e.first)));
        EXPECT_EQ(e.second, readText(outFile(e.first)));
        EXPECT_EQ(0, testEntry(archive, e.first));
    }
    EXPECT_EQ(1717243200, modTime(outFile("l")));
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(ExtractTest, ReferenceEntriesExtractAsTheirTextOrEmpty) {
    loadPluginWithSettings("showReferenceFiles=1\nshowReferenceLinks=1\n");
    ArchiveWriter w;
    w.refFile("ref", 100, 0x1234).refFile("ref0", 5, 0).refSymlink("rl").refDevice('c', "rdev");
    const std::string archive = save(w);

    EXPECT_EQ(0, extractTo(archive, "ref", outFile("ref")));
    ASSERT_TRUE(fileExists(outFile("ref")));
    EXPECT_TRUE(readFile(outFile("ref")).empty());
    EXPECT_EQ(13, testEntry(archive, "ref"));
    EXPECT_EQ(0, testEntry(archive, "ref0"));

    EXPECT_EQ(0, extractTo(archive, "rl", outFile("rl")));
    EXPECT_EQ("Link: (file not stored in this archive)", readText(outFile("rl")));
    EXPECT_EQ(0, extractTo(archive, "rdev", outFile("rdev")));
    EXPECT_EQ("(unknown) device", readText(outFile("rdev")));
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(ExtractTest, LongDestinationsUpToThePlatformLimitAreWritten) {
    ArchiveWriter w;
    w.file("f", textLike(5000, 131));
    const std::string archive = save(w);

    // Folders that bring the path to just below the limit.
    std::string folder = out;
    while (PATH_MAX - 1 - (folder.size() + 1) > 250) folder += "/" + std::string(200, 'd');
    fs::create_directories(folder);
    const std::string longest = folder + "/" + std::string(PATH_MAX - 1 - folder.size() - 1, 'n');
    ASSERT_EQ(static_cast<size_t>(PATH_MAX - 1), longest.size());

#if !defined(_WIN32)  // on Windows the platform limit is the host's 260 bytes
    const std::string beyond260 = out + "/" + std::string(200, 'd') + "/" + std::string(150, 'm');
    ASSERT_GT(beyond260.size(), 260u);
    EXPECT_EQ(0, extractTo(archive, "f", beyond260));
    EXPECT_EQ(textLike(5000, 131), readFile(beyond260));
    progress = ProgressLog();
#endif

    EXPECT_EQ(0, extractTo(archive, "f", longest));
    EXPECT_EQ(textLike(5000, 131), readFile(longest));
    fs::remove(longest);

    EXPECT_EQ(5000, progress.total());

    progress = ProgressLog();
    const std::string tooLong = longest + "x";
    EXPECT_EQ(16, extractTo(archive, "f", tooLong));
    // Joined from two halves that each fit, and far beyond the limit.
    const std::string half(PATH_MAX - 10, 'h');
    EXPECT_EQ(16, run(archive, "f", PK_EXTRACT, (folder + "/").c_str(), half.c_str()));
    EXPECT_EQ(16, run(archive, "f", PK_EXTRACT, (out + "/" + half).c_str(), half.c_str()));
    EXPECT_TRUE(folderContents(folder).empty());
    EXPECT_TRUE(progress.calls.empty());
}

}  // namespace
}  // namespace kivtest
