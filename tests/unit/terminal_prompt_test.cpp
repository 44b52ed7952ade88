// Without a host input box the password is asked on the controlling
// terminal with echo off; without a terminal the answer is Cancel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "archive/opening.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"
#include "tests/writer/archive_writer.h"

namespace {

struct TerminalPrompt : ::testing::Test {
    kivtest::TempDir dir;
    std::string archive;
    void SetUp() override {
        kivtest::ArchiveWriter w;
        kivtest::ScrambleOptions s;
        s.password = "tty-pass";
        w.file("a", "x").scramble(s);
        archive = dir.file("s.kiv");
        w.writeTo(archive);
        platform::setInputBox(nullptr);
    }
    // Child: new session, optionally with `tty` as its controlling terminal;
    // exits with the open result.
    [[noreturn]] void child(const char* tty) {
        setsid();
        if (tty) {
            const int fd = open(tty, O_RDWR);  // the first tty a session leader opens becomes its terminal
            if (fd < 0) _exit(99);
        }
        kiv::ArchiveContext context;
        _exit(kiv::openArchive(context, archive.c_str()));
    }
    static std::string readFor(int fd, std::chrono::milliseconds wait) {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char b[256];
                const ssize_t n = read(fd, b, sizeof b);
                if (n <= 0) break;
                out.append(b, static_cast<size_t>(n));
                if (out.find("Password:") != std::string::npos) break;
            }
        }
        return out;
    }
    // The child's exit code; a child still running after 20 s is killed.
    static int exitCode(pid_t pid) {
        int status = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            usleep(10000);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

}  // namespace

TEST_F(TerminalPrompt, AsksOnTheTerminalWithoutEcho) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(0, grantpt(master));
    ASSERT_EQ(0, unlockpt(master));
    const std::string slave = ptsname(master);
    const pid_t pid = fork();
    if (pid == 0) child(slave.c_str());
    const std::string prompt = readFor(master, std::chrono::seconds(10));
    EXPECT_NE(std::string::npos, prompt.find("Password:"));
    const char answer[] = "tty-pass\n";
    ASSERT_EQ(static_cast<ssize_t>(sizeof answer - 1), write(master, answer, sizeof answer - 1));
    const int code = exitCode(pid);
    const std::string after = readFor(master, std::chrono::milliseconds(200));
    close(master);
    EXPECT_EQ(0, code);
    EXPECT_EQ(std::string::npos, after.find("tty-pass"));  // not echoed
}

TEST_F(TerminalPrompt, NoTerminalMeansCancel) {
    const pid_t pid = fork();
    if (pid == 0) child(nullptr);
    EXPECT_EQ(14, exitCode(pid));
}
