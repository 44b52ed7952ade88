// Systematic mutation: every archive of a fixed set is damaged in 1 byte up
// to 1% of its bytes, round after round, and driven through the exports the
// way the file manager drives them. Whatever the damage, each call comes back
// in bounded time with a code of the interface, and extraction leaves nothing
// on disk but the file it was asked to write. Each round has its own seed
// (archive seed, round), so a failing round can be rebuilt alone.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "tests/e2e/plugin_fixture.h"
#include "tests/support/test_data.h"
#include "tests/support/time_limit.h"

namespace kivtest {
namespace {

namespace fs = std::filesystem;

const std::set<int> kInterfaceCodes = {
    WCX_OK,   E_END_ARCHIVE, E_NO_MEMORY, E_BAD_DATA, E_BAD_ARCHIVE, E_UNKNOWN_FORMAT,
    E_EOPEN,  E_ECREATE,     E_ECLOSE,    E_EREAD,    E_EWRITE,      E_SMALL_BUF,
    E_EABORTED, E_NO_FILES,  E_TOO_MANY_FILES, E_NOT_SUPPORTED};
const auto kCallLimit = kivtest::timeLimit(10);
// Far above the largest entry here: only a corrupted size reaches it, and
// then the abort keeps the round short.
constexpr long kByteBudget = 4L << 20;
// Far above any catalogue here: a listing this long never ends.
constexpr size_t kEntryLimit = 1000000;
const char kPassword[] = "mutation-Pw9";
#if defined(_WIN32)
// Under Wine every open of a scrambled copy shows the password dialog and
// file operations are slower; a tenth of the rounds keeps the run short.
constexpr int kRoundDivisor = 10;
#else
constexpr int kRoundDivisor = 1;
#endif

long budgetLeft = 0;
int WCX_CALL budgetedProgress(char*, int size) {
    budgetLeft -= size;
    return budgetLeft > 0 ? 1 : 0;
}

std::string text(size_t n, unsigned seed) {
    std::string out;
    for (unsigned i = seed; out.size() < n; ++i) out += "row " + std::to_string(i * 7919u % 10007u) + " of text\n";
    out.resize(n);
    return out;
}

// Stored, with every record kind, nested folders and reference records.
// Reference records carry checksum 0, so the intact archive tests clean.
ArchiveWriter everyKind() {
    ArchiveWriter w;
    w.dir("docs", 1500000000).file("readme.txt", text(6000, 1), 1500000001);
    w.dir("deep").dir("deeper").file("note", "three levels down").end().end();
    w.file("noise.bin", noise(3000, 5)).file("empty", "").end();
    w.linkTarget("shared", "hard linked data", 7).hardLink("alias", 7);
    w.refLinkTarget("remote-shared", 10, 0, 9).hardLink("alias2", 9);
    w.symlink("link", "docs/readme.txt").refSymlink("remote-link");
    w.device('b', "disk", 8, 1).device('c', "tty", 4, 64).refDevice('c', "remote-dev");
    w.special('p', "fifo").special('s', "socket").deleted("gone", 3).refFile("remote", 1234, 0);
    return w;
}

ArchiveWriter compressed(uint8_t code, const std::string& version = "08") {
    ArchiveWriter w;
    w.version(version).compression(code);
    w.dir("src").file("main.txt", text(20000, 2)).file("noise.bin", noise(4000, 11)).end();
    RecordOptions plain;
    plain.storedPlain = true;
    w.file("plain.txt", text(3000, 3), 0, plain).file("small", "x").symlink("l", "src/main.txt");
    return w;
}

ArchiveWriter scrambled(uint8_t code, const std::string& version) {
    ArchiveWriter w = compressed(code, version);
    ScrambleOptions s;
    s.password = kPassword;
    s.head.digits = 2;
    s.tail.digits = 3;
    w.scramble(s);
    return w;
}

ArchiveWriter manyEntries() {
    ArchiveWriter w;
    w.compression('z');
    for (int d = 0; d < 12; ++d) {
        w.dir("d" + std::to_string(d));
        for (int f = 0; f < 25; ++f) w.file("f" + std::to_string(f) + ".txt", text(40 + 13 * f, d * 100 + f));
        w.end();
    }
    return w;
}

struct Subject {
    const char* label;
    uint32_t seed;
    int rounds;
    ArchiveWriter (*make)();
};
std::ostream& operator<<(std::ostream& os, const Subject& s) { return os << s.label; }

const Subject kSubjects[] = {
    {"stored_every_kind", 0x5eed0001, 2500, everyKind},
    {"zlib", 0x5eed0002, 2500, [] { return compressed('z'); }},
    {"bzip2", 0x5eed0003, 1500, [] { return compressed('y'); }},
    {"scrambled_v06_zlib", 0x5eed0004, 2500, [] { return scrambled('z', "06"); }},
    {"scrambled_v08_stored", 0x5eed0005, 2500, [] { return scrambled('n', "08"); }},
    {"many_entries_zlib", 0x5eed0006, 300, manyEntries},
};

std::set<std::string> folderContents(const std::string& folder) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

class Mutation : public PluginFixture, public ::testing::WithParamInterface<Subject> {
protected:
    // Runs `call` and fails when it took longer than the limit.
    template <typename F>
    auto timed(const char* what, F call) {
        const auto start = std::chrono::steady_clock::now();
        auto result = call();
        EXPECT_LT(std::chrono::steady_clock::now() - start, kCallLimit) << what << " took too long";
        return result;
    }
    void expectCode(const char* what, int code) {
        EXPECT_TRUE(kInterfaceCodes.count(code)) << what << " returned " << code << ", not an interface code";
    }

    // Open, every header with `each` applied to the entry just read (it
    // returns ProcessFile's code), close. The listed names go to `names`;
    // false when the archive did not open.
    bool pass(const std::string& path, std::vector<std::string>& names,
              const std::function<int(void*, size_t)>& each) {
        int result = -1;
        void* h = timed("OpenArchive", [&] { return host->open(path, result); });
        expectCode("OpenArchive", result);
        EXPECT_EQ(h != nullptr, result == 0) << "handle and OpenResult " << result << " disagree";
        if (!h) return false;
        host->SetProcessDataProc(h, budgetedProgress);
        tHeaderData header;
        int code;
        while ((code = timed("ReadHeader", [&] {
                    std::memset(&header, 0, sizeof header);
                    return host->ReadHeader(h, &header);
                })) == 0) {
            const size_t length = strnlen(header.FileName, sizeof header.FileName);
            EXPECT_LT(length, sizeof header.FileName) << "FileName not terminated";
            names.emplace_back(header.FileName, length);
            if (names.size() > kEntryLimit) break;
            budgetLeft = kByteBudget;
            expectCode("ProcessFile", each(h, names.size() - 1));
        }
        EXPECT_EQ(E_END_ARCHIVE, code) << "after " << names.size() << " headers";
        expectCode("CloseArchive", timed("CloseArchive", [&] { return host->CloseArchive(h); }));
        return true;
    }

    // Tests every entry, then extracts every entry into a fresh folder; for
    // some entries the destination already exists. Returns the test codes.
    std::vector<int> round(const Bytes& archive, const std::string& name, bool preexisting) {
        const std::string path = dir.file(name + ".kiv");
        writeFile(path, archive);
        std::vector<int> tests;
        std::vector<std::string> listed, extracted;
        const bool opened = pass(path, listed, [&](void* h, size_t) {
            tests.push_back(timed("ProcessFile", [&] { return host->ProcessFile(h, PK_TEST, nullptr, nullptr); }));
            return tests.back();
        });
        const std::string out = dir.file(name + ".out");
        fs::create_directory(out);
        const bool reopened = pass(path, extracted, [&](void* h, size_t i) {
            const std::string leaf = "e" + std::to_string(i), target = out + "/" + leaf;
            const std::string before = "existing " + std::to_string(i);
            const bool existed = preexisting && i % 2 == 0;
            if (existed) writeText(target, before);
            std::string dest = target;
            const int r = timed("ProcessFile", [&] { return host->ProcessFile(h, PK_EXTRACT, nullptr, &dest[0]); });
            const std::set<std::string> found = folderContents(out);
            if (r == 0 || existed) {
                EXPECT_EQ(std::set<std::string>{leaf}, found) << "extracting entry " << i << " gave " << r;
            } else {
                EXPECT_TRUE(found.empty()) << "failed extraction of entry " << i << " (" << r << ") left files";
            }
            if (r != 0 && existed) {
                EXPECT_EQ(before, readText(target)) << "failed extraction of entry " << i << " (" << r << ") changed it";
            }
            fs::remove(target);
            return r;
        });
        // The kept parse of the unchanged file must list the same.
        EXPECT_EQ(opened, reopened);
        EXPECT_EQ(listed, extracted);
        fs::remove_all(out);
        fs::remove(path);
        EXPECT_TRUE(fs::is_empty(dir.path())) << "something was written beside the archive";
        return tests;
    }
};

TEST_P(Mutation, EveryCallAnswersWithACodeAndLeavesOnlyTheNamedFile) {
    const Subject& s = GetParam();
    const Bytes good = s.make().build();
    host->setPassword(kPassword);
    // The intact archive opens and tests clean, or the rounds would test little.
    const std::vector<int> clean = round(good, "intact", true);
    ASSERT_FALSE(clean.empty());
    ASSERT_EQ(std::vector<int>(clean.size(), 0), clean);

    const size_t most = std::max<size_t>(1, good.size() / 100);
    for (int r = 0; r < s.rounds / kRoundDivisor && !HasFailure(); ++r) {
        SCOPED_TRACE(::testing::Message() << "archive " << s.label << ", seed 0x" << std::hex << s.seed
                                          << std::dec << ", round " << r);
        std::seed_seq seq{s.seed, static_cast<uint32_t>(r)};
        std::mt19937 rng(seq);
        Bytes b = good;
        std::ostringstream changes;
        // Drawn as 1..u with u itself drawn from 1..most: light damage comes
        // more often, so many rounds get past the first damaged byte.
        const size_t upTo = 1 + rng() % most;
        for (size_t n = 1 + rng() % upTo; n > 0; --n) {
            const size_t at = rng() % b.size();
            b[at] ^= static_cast<uint8_t>(1 + rng() % 255);  // always a different value
            changes << ' ' << at << '=' << int(b[at]);
        }
        // A new name per round: the plug-in keeps a parse per path.
        round(b, "m" + std::to_string(r), r % 2 == 1);
        if (HasFailure()) ADD_FAILURE() << "bytes set (offset=value) in " << good.size() << ":" << changes.str();
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, Mutation, ::testing::ValuesIn(kSubjects),
                         [](const ::testing::TestParamInfo<Subject>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace kivtest
