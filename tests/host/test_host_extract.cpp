// wcxhost extract against the fake plug-in: folders and parents, separator
// conversion, refusals, symbolic links, patterns, --split, Ctrl-C, progress.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "host_harness.h"

using namespace hosttest;

namespace {

struct ExtractFixture : ::testing::Test {
    ScratchDir dir;
    std::string arc = dir / "a.fake";
    std::string log = dir / "calls.log";
    std::string dest = dir / "out";
    RunOptions opts;
    void SetUp() override { opts.env["FAKE_LOG"] = log; }
};

TEST_F(ExtractFixture, FoldersParentsAndBackslashes) {
    writeArchive(arc, {"docs\t0x10\t0\t", "docs\\sub\\a.txt\t0x20\t0\talpha", "top.txt\t0x20\t0\tTOP",
                       "empty\\\t0x10\t0\t"});
    Result r = run({"extract", arc, dest}, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isDirectory(dest + "/docs"));
    EXPECT_TRUE(isDirectory(dest + "/docs/sub"));  // parent made although not listed
    EXPECT_TRUE(isDirectory(dest + "/empty"));
    EXPECT_EQ(readFile(dest + "/docs/sub/a.txt"), "alpha");
    EXPECT_EQ(readFile(dest + "/top.txt"), "TOP");
    EXPECT_EQ(r.out, "extracted 4 entries (8 bytes): 0 failed\n");
    std::string calls = readFile(log);
    // Folders are the host's job: the plug-in is only asked to skip them.
    EXPECT_TRUE(contains(calls, "read-header docs\nprocess 0 path=NULL name=NULL rc=0\n")) << calls;
    EXPECT_TRUE(contains(calls, "process 2 path=NULL name=" + dest + "/docs/sub/a.txt rc=0\n")) << calls;
    EXPECT_TRUE(contains(calls, "open " + arc + " mode=1\nset-change-vol\nset-process-data\n")) << calls;
    EXPECT_TRUE(contains(calls, "read-header END\nclose\n")) << calls;
}

TEST_F(ExtractFixture, SplitPassesFolderAndNameSeparately) {
    writeArchive(arc, {"docs\\sub\\a.txt\t0x20\t0\talpha", "top.txt\t0x20\t0\tTOP"});
    Result r = run({"extract", "--split", arc, dest}, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dest + "/docs/sub/a.txt"), "alpha");
    std::string calls = readFile(log);
    EXPECT_TRUE(contains(calls, "process 2 path=" + dest + "/docs/sub/ name=a.txt rc=0")) << calls;
    EXPECT_TRUE(contains(calls, "process 2 path=" + dest + "/ name=top.txt rc=0")) << calls;
}

TEST_F(ExtractFixture, RefusesPathsLeavingTheDestination) {
    writeArchive(arc, {"..\\evil1\t0x20\t0\tx", "a\\..\\..\\evil2\t0x20\t0\tx", "\\evil3\t0x20\t0\tx",
                       "C:\\evil4\t0x20\t0\tx", "c:evil5\t0x20\t0\tx", "..\t0x10\t0\t", "ok.txt\t0x20\t0\tfine"});
    Result r = run({"extract", arc, dest}, opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(dest + "/ok.txt"), "fine");
    EXPECT_EQ(lines(r.err).size(), 6u) << r.err;
    EXPECT_TRUE(contains(r.err, "../evil1: not extracted: path with a \"..\" component\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "/evil3: not extracted: absolute path\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "C:/evil4: not extracted: path with a drive letter\n")) << r.err;
    EXPECT_EQ(r.out, "extracted 1 entries (4 bytes): 6 failed\n");
    for (const char* name : {"evil1", "evil2", "evil3", "evil4", "evil5"}) {
        EXPECT_FALSE(exists(dir / name)) << name;
        EXPECT_FALSE(exists(std::string("/") + name)) << name;
    }
    // Refused entries were skipped, never handed to the plug-in for writing.
    std::string calls = readFile(log);
    EXPECT_TRUE(contains(calls, "read-header ..\\evil1\nprocess 0 path=NULL name=NULL rc=0\n")) << calls;
    EXPECT_EQ(calls.find("process 2 path=NULL name=" + dest + "/ok.txt"), calls.rfind("process 2"));
}

TEST_F(ExtractFixture, NeverWritesThroughAnExistingSymlink) {
    ScratchDir outside;
    writeFile(outside / "target.txt", "original");
    ASSERT_TRUE(std::filesystem::create_directories(dest + "/real"));
    ASSERT_EQ(symlink(outside.path().c_str(), (dest + "/linkdir").c_str()), 0);
    ASSERT_EQ(symlink((outside / "target.txt").c_str(), (dest + "/real/file.txt").c_str()), 0);
    writeArchive(arc, {"linkdir\\x.txt\t0x20\t0\tpwned", "linkdir\\deep\\y.txt\t0x20\t0\tpwned",
                       "linkdir\\newdir\t0x10\t0\t", "real\\file.txt\t0x20\t0\tpwned", "real\\fine.txt\t0x20\t0\tok"});
    Result r = run({"extract", arc, dest}, opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "extracted 1 entries (2 bytes): 4 failed\n");
    EXPECT_TRUE(contains(r.err, "symbolic link " + dest + "/linkdir")) << r.err;
    EXPECT_TRUE(contains(r.err, "symbolic link " + dest + "/real/file.txt")) << r.err;
    EXPECT_EQ(readFile(outside / "target.txt"), "original");
    EXPECT_FALSE(exists(outside / "x.txt"));
    EXPECT_FALSE(exists(outside / "deep"));
    EXPECT_FALSE(exists(outside / "newdir"));
    EXPECT_EQ(readFile(dest + "/real/fine.txt"), "ok");

    // A destination the user names through a link is used like the folder.
    ScratchDir target;
    ASSERT_EQ(symlink(target.path().c_str(), (dir / "via").c_str()), 0);
    writeArchive(arc, {"a\\b.txt\t0x20\t0\tok"});
    for (const std::string& into : {dir / "via", dir / "via/new/deeper"}) {
        Result through = run({"extract", arc, into}, opts);
        EXPECT_EQ(through.status, 0) << into << ": " << through.err;
    }
    EXPECT_EQ(readFile(target / "a/b.txt"), "ok");
    EXPECT_EQ(readFile(target / "new/deeper/a/b.txt"), "ok");
}

TEST_F(ExtractFixture, PatternsSelectEntriesOthersAreSkipped) {
    writeArchive(arc, {"docs\t0x10\t0\t", "docs\\a.txt\t0x20\t0\ta", "docs\\b.bin\t0x20\t0\tb",
                       "c.txt\t0x20\t0\tc", "d.dat\t0x20\t0\td"});
    Result r = run({"extract", arc, dest, "*.txt", "d.da[st]"}, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dest + "/docs/a.txt"), "a");
    EXPECT_EQ(readFile(dest + "/c.txt"), "c");
    EXPECT_EQ(readFile(dest + "/d.dat"), "d");
    EXPECT_FALSE(exists(dest + "/docs/b.bin"));
    EXPECT_EQ(r.out, "extracted 3 entries (3 bytes): 0 failed\n");
    EXPECT_TRUE(contains(readFile(log), "read-header docs\\b.bin\nprocess 0 path=NULL name=NULL rc=0\n"));

    ScratchDir other;
    Result slash = run({"extract", arc, other.path(), "docs/*"}, opts);
    ASSERT_EQ(slash.status, 0) << slash.err;
    EXPECT_TRUE(exists(other / "docs/a.txt"));
    EXPECT_TRUE(exists(other / "docs/b.bin"));
    EXPECT_FALSE(exists(other / "c.txt"));

    // A pattern that matches nothing is named and fails the run; the others
    // still do their work. "docs\\a.txt" matches "docs/a.txt" as shown.
    ScratchDir third;
    Result none = run({"extract", arc, third.path(), "nope*", "docs\\a.txt", "*.zip"}, opts);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "wcxhost: no entry matches 'nope*'\nwcxhost: no entry matches '*.zip'\n");
    EXPECT_EQ(none.out, "extracted 1 entries (1 bytes): 0 failed\n");
    EXPECT_EQ(readFile(third / "docs/a.txt"), "a");
    Result test = run({"test", arc, "*.zip"}, opts);
    EXPECT_EQ(test.status, 1);
    EXPECT_EQ(test.err, "wcxhost: no entry matches '*.zip'\n");
    EXPECT_EQ(test.out, "tested 0 entries (0 bytes): 0 failed\n");
}

TEST_F(ExtractFixture, PluginFailuresAreReportedAndCounted) {
    writeArchive(arc, {"a.txt\t0x20\t0\tfine", "b.txt\t0x20\t0\tx\tfail=16", "c.txt\t0x20\t0\tfine"});
    Result r = run({"extract", arc, dest}, opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "b.txt: cannot create file (E_ECREATE, 16)\n");
    EXPECT_EQ(r.out, "extracted 2 entries (8 bytes): 1 failed\n");
    EXPECT_EQ(readFile(dest + "/c.txt"), "fine");  // work goes on after a failure
}

TEST_F(ExtractFixture, CtrlCMakesTheCallbackAbortAndTheHostStop) {
    // 64 KiB in 1 KiB chunks; SIGINT arrives before the 5th progress call.
    writeArchive(arc, {"first.txt\t0x20\t0\tok", "big.bin\t0x20\t0\t0123456789abcdef\trepeat=4096",
                       "after.txt\t0x20\t0\tnever"});
    opts.env["FAKE_CHUNK"] = "1024";
    opts.env["FAKE_SIGINT_AFTER"] = "5";
    Result r = run({"extract", arc, dest}, opts);
    EXPECT_EQ(r.status, 130);
    EXPECT_TRUE(contains(r.err, "interrupted")) << r.err;
    EXPECT_EQ(r.out, "extracted 1 entries (2 bytes): 0 failed\n");
    std::string calls = readFile(log);
    EXPECT_TRUE(contains(calls, "callback-answered-0\nprocess 2 path=NULL name=" + dest + "/big.bin rc=21\nclose\n"))
        << calls;
    EXPECT_FALSE(contains(calls, "after.txt"));
    EXPECT_FALSE(exists(dest + "/big.bin"));
    EXPECT_FALSE(exists(dest + "/after.txt"));
}

TEST_F(ExtractFixture, CtrlCDuringTestStopsToo) {
    writeArchive(arc, {"big.bin\t0x20\t0\t0123456789abcdef\trepeat=4096", "after.txt\t0x20\t0\tnever"});
    opts.env["FAKE_CHUNK"] = "1024";
    opts.env["FAKE_SIGINT_AFTER"] = "3";
    Result r = run({"test", arc}, opts);
    EXPECT_EQ(r.status, 130);
    std::string calls = readFile(log);
    EXPECT_TRUE(contains(calls, "callback-answered-0\nprocess 1 path=NULL name=NULL rc=21\nclose\n")) << calls;
    EXPECT_FALSE(contains(calls, "after.txt"));
}

TEST_F(ExtractFixture, ProgressBarOnATerminalOnly) {
    writeArchive(arc, {"one.bin\t0x20\t0\t0123456789abcdef\trepeat=640", "two.bin\t0x20\t0\tabcdefghijklmnop\trepeat=640",
                       "skipped.txt\t0x20\t0\tzz"});
    std::string terminal;
    Result r = runOnTerminal({"extract", arc, dest, "*.bin"}, "", "", terminal, opts);
    ASSERT_EQ(r.status, 0) << terminal;
    // The total counts the selected entries only (20 KiB), found beforehand.
    EXPECT_TRUE(contains(terminal, "of 20.0 KiB")) << terminal;
    EXPECT_TRUE(contains(terminal, "two.bin")) << terminal;
    EXPECT_TRUE(contains(terminal, "\r\033[K")) << terminal;  // cleared at the end
    EXPECT_EQ(r.out, "extracted 2 entries (20480 bytes): 0 failed\n");

    // Not a terminal: no bar, and no extra listing pass.
    ScratchDir other;
    std::remove(log.c_str());
    Result plain = run({"extract", arc, other.path(), "*.bin"}, opts);
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
    std::string calls = readFile(log);
    EXPECT_EQ(calls.find("open "), calls.rfind("open "));
}

}  // namespace
