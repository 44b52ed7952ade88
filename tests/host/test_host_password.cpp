// What wcxhost lends to plug-ins that export ExtensionInitialize: the
// start-up record with its configuration folder, and the input box (the
// order of the password sources and Cancel).
#include <gtest/gtest.h>

#include <sys/stat.h>

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
    opts.env["HOME"] = dir / "home";
    Result r = run({"--password-file", dir / "pw", "list", "--raw", arc}, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> calls = lines(readFile(log));
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), "init size=" + std::to_string(sizeof(tExtensionStartupInfo)) +
                                 " dir=" + folderOf(FAKE_EXT_PLUGIN) +
                                 " confdir=" + dir / "home/.config/kiv/ inputbox=1 rest-zero=1");
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

// The configuration folder handed over: Double Commander's when it exists,
// so that the terminal and the file manager read the same kiv.ini, else
// kiv's own, made when the plug-in will use it.
TEST(HostSettingsFolder, DoubleCommandersElseKivsOwn) {
    ScratchDir dir;
    const std::string home = dir / "home", xdg = dir / "xdg";
    ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
    writeArchive(dir / "a.fake", {"a.txt\t0x20\t0\tdata"});
    auto confdir = [&](const std::map<std::string, std::string>& env, const std::vector<std::string>& extra = {},
                       const std::string& plugin = FAKE_EXT_PLUGIN) {
        RunOptions opts;
        opts.plugin = plugin;
        opts.env = env;
        opts.env["HOME"] = home;
        opts.env["FAKE_LOG"] = dir / "calls.log";
        std::remove((dir / "calls.log").c_str());
        std::vector<std::string> args = extra;
        args.insert(args.end(), {"list", "--raw", dir / "a.fake"});
        Result r = run(args, opts);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string init = lines(readFile(dir / "calls.log")).at(0);
        const size_t at = init.find(" confdir=") + 9;
        return r.err + init.substr(at, init.find(" inputbox=") - at);
    };
    // Nothing yet: ~/.config/kiv, made on the way; XDG_CONFIG_HOME moves it,
    // a relative one is ignored.
    EXPECT_EQ(confdir({}), home + "/.config/kiv/");
    EXPECT_TRUE(isDirectory(home + "/.config/kiv"));
    EXPECT_EQ(confdir({{"XDG_CONFIG_HOME", xdg}}), xdg + "/kiv/");
    EXPECT_TRUE(isDirectory(xdg + "/kiv"));
    EXPECT_EQ(confdir({{"XDG_CONFIG_HOME", "rel"}}), home + "/.config/kiv/");
    // Double Commander's folder wins once it exists: under XDG_CONFIG_HOME,
    // or in ~/.config, where Double Commander 1.0 keeps it whatever
    // XDG_CONFIG_HOME says.
    ASSERT_EQ(mkdir((home + "/.config/doublecmd").c_str(), 0755), 0);
    EXPECT_EQ(confdir({}), home + "/.config/doublecmd/");
    EXPECT_EQ(confdir({{"XDG_CONFIG_HOME", xdg}}), home + "/.config/doublecmd/");
    ASSERT_EQ(mkdir((xdg + "/doublecmd").c_str(), 0755), 0);
    EXPECT_EQ(confdir({{"XDG_CONFIG_HOME", xdg}}), xdg + "/doublecmd/");
    // --config-dir names it outright, and it is made when missing.
    EXPECT_EQ(confdir({}, {"--config-dir", dir / "mine/deeper"}), dir / "mine/deeper/");
    EXPECT_TRUE(isDirectory(dir / "mine/deeper"));

    // A kiv.ini beside the plug-in wins in the plug-in: nothing is made then.
    ScratchDir portable;
    writeFile(portable / "kiv.wcx", readFile(FAKE_EXT_PLUGIN));
    writeFile(portable / "kiv.ini", "flatArchive=1\n");
    EXPECT_EQ(confdir({}, {"--config-dir", dir / "unused"}, portable / "kiv.wcx"), dir / "unused/");
    EXPECT_FALSE(exists(dir / "unused"));
    // A folder called kiv.ini is no settings file: the handed folder is made.
    std::remove((portable / "kiv.ini").c_str());
    ASSERT_EQ(mkdir((portable / "kiv.ini").c_str(), 0755), 0);
    EXPECT_EQ(confdir({}, {"--config-dir", dir / "used"}, portable / "kiv.wcx"), dir / "used/");
    EXPECT_TRUE(isDirectory(dir / "used"));
    // A folder that cannot be made is named, and the run goes on.
    writeFile(dir / "file", "");
    EXPECT_EQ(confdir({}, {"--config-dir", dir / "file/sub"}),
              "wcxhost: cannot create folder '" + dir / "file" +
                  "': it exists and is not a folder (the plug-in's settings keep their defaults)\n" +
                  dir / "file/sub/");
}

// The real plug-in through wcxhost: the kiv.ini the file manager reads is
// the one that counts, and nothing is written beside the plug-in.
TEST(HostSettingsFolder, TheRealPluginKeepsItsSettingsThere) {
    ScratchDir dir;
    ASSERT_EQ(mkdir((dir / "plugin").c_str(), 0755), 0);
    writeFile(dir / "plugin/kiv.wcx", readFile(KIV_PLUGIN));
    RunOptions make;
    make.exe = KIV_MKSAMPLE;
    make.plugin = make.conventions = "";
    ASSERT_EQ(run({dir / "s.kiv"}, make).status, 0);
    RunOptions opts;
    opts.plugin = dir / "plugin/kiv.wcx";
    opts.conventions = "";
    opts.env["HOME"] = dir / "home";
    Result plain = run({"list", dir / "s.kiv"}, opts);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_TRUE(contains(plain.out, "  docs/usage.txt\n")) << plain.out;
    const std::vector<std::string> defaults = lines(readFile(dir / "home/.config/kiv/kiv.ini"));
    ASSERT_EQ(defaults.size(), 7u);
    EXPECT_EQ(defaults[0], "flatArchive=0");
    EXPECT_FALSE(exists(dir / "plugin/kiv.ini"));

    ASSERT_EQ(mkdir((dir / "home/.config/doublecmd").c_str(), 0755), 0);
    writeFile(dir / "home/.config/doublecmd/kiv.ini", "flatArchive=1\n");
    Result flat = run({"list", dir / "s.kiv"}, opts);
    ASSERT_EQ(flat.status, 0) << flat.err;
    EXPECT_TRUE(contains(flat.out, "  usage.txt\n")) << flat.out;
    EXPECT_FALSE(contains(flat.out, "docs/usage.txt")) << flat.out;
    EXPECT_FALSE(exists(dir / "plugin/kiv.ini"));
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
    // It may have asked on its own: a wrong password stays a possible cause.
    EXPECT_EQ(r.err, "wcxhost: cannot open '" + dir / "p.fake" +
                         "': not an archive the plug-in can read, a damaged one, or a wrong password "
                         "(E_UNKNOWN_FORMAT, 14)\n");
    EXPECT_FALSE(contains(readFile(dir / "calls.log"), "init"));
}

}  // namespace
