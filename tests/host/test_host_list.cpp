// wcxhost list and test against the fake plug-in: output, calling order,
// failure reporting and exit statuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "host_harness.h"

using namespace hosttest;

namespace {

const int kTime = (43 << 25) | (5 << 21) | (17 << 16) | (13 << 11) | (45 << 5) | 15;  // 2023-05-17 13:45:30

struct ListFixture : ::testing::Test {
    ScratchDir dir;
    std::string arc = dir / "a.fake";
    std::string log = dir / "calls.log";
    RunOptions opts;
    void SetUp() override {
        opts.env["FAKE_LOG"] = log;
        writeArchive(arc, {"docs\t0x10\t" + std::to_string(kTime) + "\t",
                           "docs\\readme.txt\t0x21\t" + std::to_string(kTime) + "\thello",
                           "big.bin\t0x27\t0\tx\tsize=3000000000,pack=1234"});
    }
};

TEST_F(ListFixture, TableShowsDateAttributesSizesAndPaths) {
    Result r = run({"list", arc}, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    EXPECT_TRUE(contains(out[0], "Name"));
    EXPECT_EQ(out[1], "2023-05-17 13:45:30  d----           0           0  docs");
    // The plug-in reported "docs\\readme.txt": shown as a POSIX path.
    EXPECT_EQ(out[2], "2023-05-17 13:45:30  -a--r           5           5  docs/readme.txt");
    EXPECT_EQ(out[3], "1980-00-00 00:00:00  -ahsr  3000000000        1234  big.bin");
    EXPECT_EQ(out[4], "3 entries, 3000000005 bytes");
    EXPECT_EQ(r.err, "");
}

// Records in the Linux file manager's form ('/' paths, Unix modes, Unix
// seconds) show the same table; --raw shows them as filled.
TEST_F(ListFixture, UnixConventionsShowTheSameTable) {
    const std::string seconds = "1684331131";  // 2023-05-17 13:45:31 UTC: DOS keeps even seconds
    writeArchive(arc, {"docs\t040755\t" + seconds + "\t", "docs/readme.txt\t0100444\t" + seconds + "\thello",
                       "big.bin\t0100644\t0\tx\tsize=3000000000,pack=1234"});
    opts.conventions = "unix";
    opts.env["TZ"] = "UTC";
    Result r = run({"list", arc}, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    EXPECT_EQ(out[1], "2023-05-17 13:45:30  d----           0           0  docs");
    EXPECT_EQ(out[2], "2023-05-17 13:45:30  -a--r           5           5  docs/readme.txt");
    EXPECT_EQ(out[3], "1980-00-00 00:00:00  -a---  3000000000        1234  big.bin");
    Result raw = run({"list", "--raw", arc}, opts);
    EXPECT_EQ(lines(raw.out)[1], seconds + " 33060 5 5 0 0 0 0 0\tdocs/readme.txt");
    Result bad = run({"--conventions", "dos", "list", arc}, opts);
    EXPECT_EQ(bad.status, 2);
}

TEST_F(ListFixture, RawLinesAndTheFileManagersCallingOrder) {
    Result r = run({"list", "--raw", arc}, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string t = std::to_string(kTime);
    EXPECT_EQ(r.out, t + " 16 0 0 0 0 0 0 0\tdocs\n" + t + " 33 5 5 0 0 0 0 0\tdocs\\readme.txt\n" +
                         "0 39 3000000000 1234 0 0 0 0 0\tbig.bin\n");
    // Fields the plug-in leaves alone were zero when it got the record.
    EXPECT_EQ(readFile(log),
              "open " + arc + " mode=0\nset-change-vol\nset-process-data\n"
              "read-header docs\nprocess 0 path=NULL name=NULL rc=0\n"
              "read-header docs\\readme.txt\nprocess 0 path=NULL name=NULL rc=0\n"
              "read-header big.bin\nprocess 0 path=NULL name=NULL rc=0\n"
              "read-header END\nclose\n");
}

// A failed open names the archive and why: the system's reason when the
// file cannot be read, else what the plug-in's code means for an open.
TEST_F(ListFixture, OpenFailuresNameTheArchiveAndTheReason) {
    opts.plugin = FAKE_EXT_PLUGIN;  // its prompts come to wcxhost: none was shown
    writeFile(dir / "empty.fake", "");
    writeFile(dir / "other.bin", "not a fake archive\n");
    writeArchive(dir / "bad.fake", {"open-fail 13"});
    writeArchive(dir / "ns.fake", {"open-fail 24"});
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {dir / "nope.fake", "No such file or directory"},
        {dir / "nope/a.fake", "No such file or directory"},
        {dir.path(), "Is a directory"},
        {"/dev/null", "not a regular file"},
        {dir / "empty.fake", "empty file, not an archive"},
        {dir / "other.bin", "not an archive the plug-in can read, or a damaged one (E_UNKNOWN_FORMAT, 14)"},
        {dir / "bad.fake", "damaged archive (E_BAD_ARCHIVE, 13)"},
        {dir / "ns.fake", "not supported (E_NOT_SUPPORTED, 24)"},
    };
    for (const auto& c : cases) {
        for (const char* command : {"list", "test"}) {
            Result r = run({command, c.path}, opts);
            EXPECT_EQ(r.status, 2) << command << " " << c.path;
            EXPECT_EQ(r.err, "wcxhost: cannot open '" + c.path + "': " + c.reason + "\n") << command;
            EXPECT_EQ(r.out, "") << command << " " << c.path;
        }
    }
    Result extract = run({"extract", dir / "ns.fake", dir / "out"}, opts);
    EXPECT_EQ(extract.status, 2);
    EXPECT_EQ(extract.err, "wcxhost: cannot open '" + dir / "ns.fake" + "': not supported (E_NOT_SUPPORTED, 24)\n");
    EXPECT_FALSE(contains(readFile(log), "close"));  // no handle, nothing to close
}

TEST_F(ListFixture, PluginThatCannotBeLoaded) {
    RunOptions bad = opts;
    bad.plugin = dir / "missing.wcx";
    Result r = run({"list", arc}, bad);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "cannot load plug-in")) << r.err;

}

TEST_F(ListFixture, DefaultPluginIsKivWcxBesideTheHost) {
    // A copy of the host in a folder of its own, with the fake as kiv.wcx.
    ScratchDir bin;
    writeFile(bin / "wcxhost", readFile(WCXHOST_EXE));
    chmod((bin / "wcxhost").c_str(), 0755);
    RunOptions none = opts;
    none.plugin = "";
    none.exe = bin / "wcxhost";
    Result without = run({"list", "--raw", arc}, none);
    EXPECT_EQ(without.status, 2);
    EXPECT_TRUE(contains(without.err, bin / "kiv.wcx")) << without.err;

    writeFile(bin / "kiv.wcx", readFile(FAKE_PLUGIN));
    Result with = run({"list", "--raw", arc}, none);
    EXPECT_EQ(with.status, 0) << with.err;
    EXPECT_EQ(lines(with.out).size(), 3u);
}

TEST_F(ListFixture, UsageErrors) {
    EXPECT_EQ(run({"list"}, opts).status, 2);
    EXPECT_EQ(run({"frobnicate", arc}, opts).status, 2);
    EXPECT_EQ(run({"extract", arc}, opts).status, 2);
    EXPECT_EQ(run({"list", arc, "--bogus"}, opts).status, 2);
    // -h, --help and --version stand anywhere and nothing else is done.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"list", arc, "-h"}, {"extract", "-h", "--bogus-after"}}) {
        Result help = run(args, opts);
        EXPECT_EQ(help.status, 0) << args.back();
        EXPECT_TRUE(contains(help.out, "usage:")) << args.back();
        EXPECT_TRUE(contains(help.out, "paths '/'-separated")) << help.out;
        EXPECT_TRUE(contains(help.out, "~/.config/doublecmd")) << help.out;
    }
    Result version = run({"test", arc, "--version"}, opts);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.compare(0, 8, "wcxhost "), 0) << version.out;
    EXPECT_EQ(lines(version.out).size(), 1u);
    EXPECT_EQ(readFile(log), "<missing>");  // the archive was never opened
    EXPECT_EQ(run({"list", arc, "--", "-h"}, opts).status, 2);  // a word after "--"
}

TEST(HostTest, FailingEntriesAreNamedAndCounted) {
    ScratchDir dir;
    RunOptions opts;
    opts.env["FAKE_LOG"] = dir / "calls.log";
    writeArchive(dir / "t.fake", {"good.txt\t0x20\t0\tfine", "crc.txt\t0x20\t0\tbad\tfail=13",
                                  "short.txt\t0x20\t0\tbad\tfail=12", "also-good\t0x20\t0\tok"});
    Result r = run({"test", dir / "t.fake"}, opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "crc.txt: bad archive (E_BAD_ARCHIVE, 13)\nshort.txt: bad data (E_BAD_DATA, 12)\n");
    EXPECT_EQ(r.out, "tested 4 entries (6 bytes): 2 failed\n");
    std::string log = readFile(dir / "calls.log");
    EXPECT_TRUE(contains(log, "open " + dir / "t.fake" + " mode=1\n"));
    EXPECT_TRUE(contains(log, "read-header good.txt\nprocess 1 path=NULL name=NULL rc=0\n"));

    writeArchive(dir / "ok.fake", {"good.txt\t0x20\t0\tfine"});
    Result ok = run({"test", dir / "ok.fake"}, opts);
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.out, "tested 1 entries (4 bytes): 0 failed\n");
}

}  // namespace
