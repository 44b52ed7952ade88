// The input box wcxhost lends to plug-ins that export ExtensionInitialize:
// the start-up record, the order of the password sources and Cancel.
#include <gtest/gtest.h>

#include <cstdio>

#include "host_harness.h"
#include "plugin/wcxapi.h"

using namespace hosttest;

namespace {

struct PasswordFixture : ::testing::Test {
    ScratchDir dir;
    std::string arc = dir / "p.fake";
    std::string log = dir / "calls.log";
    RunOptions opts;
    void SetUp() override {
        opts.plugin = FAKE_EXT_PLUGIN;
        opts.env["FAKE_LOG"] = log;
        writeArchive(arc, {"password s3cret", "a.txt\t0x20\t0\tdata"});
    }
};

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

TEST_F(PasswordFixture, StartupRecordAndFinalize) {
    writeFile(dir / "pw", "s3cret\n");
    Result r = run({"--password-file", dir / "pw", "list", "--raw", arc}, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> calls = lines(readFile(log));
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), "init size=" + std::to_string(sizeof(tExtensionStartupInfo)) +
                                 " dir=" + folderOf(FAKE_EXT_PLUGIN) + " inputbox=1 rest-zero=1");
    EXPECT_EQ(calls[2], "password ok=1 value=s3cret");
    EXPECT_EQ(calls.back(), "finalize");  // after CloseArchive, before unloading
    EXPECT_EQ(calls[calls.size() - 2], "close");
}

TEST_F(PasswordFixture, FileThenEnvironmentThenCancel) {
    // The file's first line, without its line end, wins over the environment.
    writeFile(dir / "pw", "s3cret\r\nsecond line\n");
    opts.env["KIV_PASSWORD"] = "wrong";
    Result fromFile = run({"--password-file", dir / "pw", "test", arc}, opts);
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;

    Result fromEnvWrong = run({"test", arc}, opts);
    EXPECT_EQ(fromEnvWrong.status, 2);
    EXPECT_EQ(fromEnvWrong.err, "wcxhost: cannot open '" + arc + "': wrong password or damaged archive\n");
    EXPECT_TRUE(contains(readFile(log), "password ok=1 value=wrong\n"));

    opts.env["KIV_PASSWORD"] = "s3cret";
    EXPECT_EQ(run({"test", arc}, opts).status, 0);

    // Neither, and no terminal to ask on: Cancel.
    opts.env.erase("KIV_PASSWORD");
    std::remove(log.c_str());
    Result none = run({"test", arc}, opts);
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "wcxhost: cannot open '" + arc +
                            "': no password given (no terminal to ask on: use --password-file or KIV_PASSWORD)\n");
    EXPECT_TRUE(contains(readFile(log), "password ok=0\n"));

    // An unreadable password file is a Cancel too, not a fall-back.
    opts.env["KIV_PASSWORD"] = "s3cret";
    Result unreadable = run({"--password-file", dir / "missing", "test", arc}, opts);
    EXPECT_EQ(unreadable.status, 2);
    EXPECT_EQ(unreadable.err, "wcxhost: cannot read password file '" + dir / "missing" + "'\nwcxhost: cannot open '" +
                                  arc + "': no password given\n");
}

TEST_F(PasswordFixture, AnswerIsCutToValueMaxLen) {
    opts.env["KIV_PASSWORD"] = "abcdefgh";
    opts.env["FAKE_PW_MAXLEN"] = "5";
    writeArchive(arc, {"password abcde", "a.txt\t0x20\t0\tdata"});
    Result r = run({"test", arc}, opts);
    EXPECT_EQ(r.status, 0) << r.err;
    // Exactly five characters and a terminator: no overrun reported.
    EXPECT_TRUE(contains(readFile(log), "password ok=1 value=abcde\n")) << readFile(log);
}

TEST_F(PasswordFixture, MaskedPromptOnTheTerminal) {
    std::string terminal;
    Result r = runOnTerminal({"test", arc}, "Password for the fake archive:", "s3cret\n", terminal, opts);
    EXPECT_EQ(r.status, 0) << terminal;
    EXPECT_TRUE(contains(readFile(log), "password ok=1 value=s3cret\n"));
    EXPECT_FALSE(contains(terminal, "s3cret")) << terminal;  // not echoed
    // The progress bar's listing pass opened the archive first; its answer
    // was given again to the second open instead of asking twice.
    EXPECT_EQ(terminal.find("Password for"), terminal.rfind("Password for")) << terminal;
    std::string calls = readFile(log);
    EXPECT_NE(calls.find("mode=0"), std::string::npos);
    EXPECT_NE(calls.find("mode=1"), std::string::npos);
}

TEST_F(PasswordFixture, EndOfInputOnTheTerminalCancels) {
    std::string terminal;
    // Ctrl-D (the terminal's end of file) at the prompt.
    Result r = runOnTerminal({"test", arc}, "Password for the fake archive:", "\x04", terminal, opts);
    EXPECT_EQ(r.status, 2) << terminal;
    EXPECT_TRUE(contains(terminal, "wcxhost: cannot open '" + arc + "': no password given\r\n")) << terminal;
    EXPECT_TRUE(contains(readFile(log), "password ok=0\n"));
    EXPECT_EQ(terminal.find("Password for"), terminal.rfind("Password for")) << terminal;
}

TEST(HostPasswordless, PluginWithoutStartupCallsNeverAsks) {
    ScratchDir dir;
    RunOptions opts;
    opts.env["FAKE_LOG"] = dir / "calls.log";
    // The plain fake has no ExtensionInitialize: no input box reaches it.
    writeArchive(dir / "p.fake", {"password s3cret", "a.txt\t0x20\t0\tdata"});
    opts.env["KIV_PASSWORD"] = "s3cret";
    Result r = run({"list", dir / "p.fake"}, opts);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(contains(readFile(dir / "calls.log"), "init"));
}

}  // namespace
