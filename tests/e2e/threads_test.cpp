// Calls from several host threads at once, as a file manager's worker
// threads make them: each thread has its own handles, so calls for different
// handles overlap. Every thread must see exactly what one thread alone sees.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "tests/e2e/plugin_fixture.h"
#include "tests/support/test_data.h"

namespace kivtest {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 100;

thread_local long long progressBytes = 0;
int WCX_CALL countProgress(char*, int size) {
    progressBytes += size;
    return 1;
}

std::string text(size_t n, const char* what) {
    std::string out;
    for (unsigned i = 0; out.size() < n; ++i) out += std::string(what) + " line " + std::to_string(i) + "\n";
    out.resize(n);
    return out;
}

// Length and FNV-1a hash of extracted bytes: exact enough to compare, short
// enough to show.
std::string digest(const std::string& bytes) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    char out[48];
    std::snprintf(out, sizeof out, "[%zu bytes %016llx]", bytes.size(), static_cast<unsigned long long>(h));
    return out;
}

struct Outcome {
    std::string record;  // everything the host saw, in order
    int busy = 0;        // opens refused with 11 and retried
};

// One host operation on a whole archive: open (retrying while both slots are
// taken), read every header, test or extract each entry (which of the two
// alternates with `parity`), close. Extracted files go to `out`.
Outcome visit(PluginHost& host, const std::string& archive, const std::string& out, int parity) {
    Outcome o;
    std::ostringstream r;
    void* h = nullptr;
    int result = 0;
    for (;;) {
        h = host.open(archive, result);
        if (h || result != E_NO_MEMORY) break;
        ++o.busy;
        std::this_thread::yield();
    }
    r << "open " << result << "\n";
    if (!h) {
        o.record = r.str();
        return o;
    }
    host.SetProcessDataProc(h, countProgress);
    int index = 0;
    host.walk(h, [&](const Listed& e) {
        r << e.name << " " << e.packSize << " " << e.unpSize << " " << e.fileTime << " " << e.fileAttr;
        progressBytes = 0;
        if (e.fileAttr & 0x10) {
            host.ProcessFile(h, PK_SKIP, nullptr, nullptr);
        } else if ((index + parity) % 2 == 0) {
            r << " test " << host.ProcessFile(h, PK_TEST, nullptr, nullptr);
        } else {
            std::string name = e.name;
            for (char& c : name)
                if (c == '\\' || c == '/') c = '_';
            std::string dest = out + "/" + name;
            std::remove(dest.c_str());
            r << " extract " << host.ProcessFile(h, PK_EXTRACT, nullptr, &dest[0]) << " " << digest(readText(dest));
            // The mode comes from the umask, which the threads must not disturb.
            std::error_code ec;
            r << " mode " << std::oct << static_cast<int>(std::filesystem::status(dest, ec).permissions()) << std::dec;
        }
        r << " progress " << progressBytes << "\n";
        ++index;
    });
    r << "close " << host.CloseArchive(h) << "\n";
    o.record = r.str();
    return o;
}

class ThreadsTest : public PluginFixture {};

TEST_F(ThreadsTest, FourThreadsSeeWhatOneThreadSees) {
    ArchiveWriter zipped;
    zipped.compression('z');
    zipped.dir("docs", 1717243200).file("a.txt", text(30000, "alpha"), 1717243201).end();
    zipped.file("noise.bin", noise(20000, 5), 1600000000).symlink("l", "docs/a.txt");
    zipped.linkTarget("t", "linked text\n", 77).hardLink("h", 77);

    ArchiveWriter packed;
    packed.compression('y');
    packed.file("big.txt", text(120000, "bravo"), 1500000000).file("small", "x").dir("empty").end();

    ArchiveWriter scrambled;
    scrambled.compression('z');
    scrambled.dir("s").file("inner.txt", text(9000, "charlie"), 1400000000).end().file("n.bin", noise(5000, 9));
    ScrambleOptions s;
    s.password = "Kiwi-7#threads";
    s.head = digits(2);
    s.tail = digits(3);
    scrambled.scramble(s);

    std::vector<std::string> archives = {save(zipped, "z.kiv"), save(packed, "y.kiv"), save(scrambled, "s.kiv")};
    // Long enough to be decoded on the decoding workers, which the threads'
    // extractions share.
    ArchiveWriter blocks;
    blocks.compression('y').bzip2Level(1).file("long.txt", text(450000, "echo"), 1300000000).file("b", "y");
    archives.push_back(save(blocks, "blocks.kiv"));
    host->setPassword(s.password.c_str());

    // What one thread alone sees, for both parities.
    std::map<std::pair<size_t, int>, std::string> expected;
    {
        TempDir out;
        for (size_t a = 0; a < archives.size(); ++a)
            for (int parity = 0; parity < 2; ++parity) {
                const std::string record = visit(*host, archives[a], out.path(), parity).record;
                ASSERT_EQ(0u, record.find("open 0\n")) << record;
                expected[std::make_pair(a, parity)] = record;
            }
    }
    const std::string ini = pluginFolder() + "/kiv.ini";

#if !defined(_WIN32)
    const mode_t umaskBefore = umask(022);
    umask(umaskBefore);
#endif
    std::atomic<int> busy{0}, mismatches{0}, ready{0};
    std::mutex firstLock;
    std::string first;
    std::vector<std::unique_ptr<TempDir>> outs;
    for (int t = 0; t < kThreads; ++t) outs.push_back(std::make_unique<TempDir>());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            for (int round = 0; round < kRounds; ++round) {
                // Threads walk the archives in pairs, each pair in its own
                // order: all three are wanted at once, slots change hands,
                // and two threads often want the same archive together.
                for (size_t k = 0; k < archives.size(); ++k) {
                    const size_t a = (k + static_cast<size_t>(t / 2)) % archives.size();
                    const int parity = (round + t) % 2;
                    // Closes race to write the default settings file again.
                    if (t == 0) std::remove(ini.c_str());
                    const Outcome o = visit(*host, archives[a], outs[static_cast<size_t>(t)]->path(), parity);
                    busy += o.busy;
                    if (o.record != expected.at(std::make_pair(a, parity))) {
                        ++mismatches;
                        std::lock_guard<std::mutex> lock(firstLock);
                        if (first.empty())
                            first = "thread " + std::to_string(t) + ", " + archives[a] + ":\n" + o.record +
                                    "expected:\n" + expected.at(std::make_pair(a, parity));
                    }
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
#if !defined(_WIN32)
    const mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(umaskBefore, mask) << "the process umask changed";
#endif

    EXPECT_EQ(0, mismatches.load()) << first;
    // Two slots for four threads: some opens must have found both taken,
    // or the threads never overlapped and this test proved nothing.
    EXPECT_GT(busy.load(), 0);
    std::printf("[ threads  ] %d visits, %d opens retried after 11, %d password prompts\n", kThreads * kRounds * 3,
                busy.load(), host->passwordPrompts());
    // The last close wrote the defaults whole.
    host->CloseArchive(nullptr);
    int result = 0;
    void* h = host->open(archives[0], result);
    ASSERT_NE(nullptr, h);
    host->CloseArchive(h);
    std::string defaults;
    for (const char* key : {"flatArchive", "hideEmptyDirs", "hideStoredFiles", "hideStoredLinks",
                            "showDeletedFiles", "showReferenceFiles", "showReferenceLinks"})
#if defined(_WIN32)
        defaults += std::string(key) + "=0\r\n";
#else
        defaults += std::string(key) + "=0\n";
#endif
    EXPECT_EQ(defaults, readText(ini));
}

#if defined(_WIN32)
// The lowest thread-storage index free in this process.
DWORD freeThreadIndex() {
    const DWORD index = TlsAlloc();
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
    return index;
}

// A process has 1088 thread-storage indexes for all its modules; a plug-in
// that keeps one per load aborts its host after about a thousand loads.
// Loads with calls from the loading thread and from a thread that ends
// while the plug-in is loaded, and a failed open (its reader throws), must
// leave the indexes as they were.
TEST_F(ThreadsTest, ReloadsGiveBackThreadStorage) {
    ArchiveWriter packed;
    packed.compression('y');
    packed.file("a.txt", text(5000, "delta")).file("b", "x");
    const std::string good = save(packed, "y.kiv");
    Bytes cut = packed.build();
    cut.resize(cut.size() - 3);
    const std::string broken = dir.file("cut.kiv");
    writeFile(broken, cut);
    TempDir out;
    const auto use = [&] {
        ASSERT_EQ(0u, visit(*host, good, out.path(), 0).record.find("open 0\n"));
        ASSERT_NE(0u, visit(*host, broken, out.path(), 1).record.find("open 0\n"));
    };
    host.reset();
    const DWORD before = freeThreadIndex();
    for (int round = 0; round < 20; ++round) {
        loadPlugin();
        use();
        std::thread(use).join();
    }
    host.reset();
    EXPECT_EQ(before, freeThreadIndex());
}
#endif

}  // namespace
}  // namespace kivtest
