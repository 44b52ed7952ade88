#include "host_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hosttest {

namespace {
std::vector<char*> argvFor(const std::vector<std::string>& args, const RunOptions& options,
                           std::vector<std::string>& storage) {
    storage.clear();
    storage.push_back(options.exe);
    if (!options.plugin.empty()) {
        storage.push_back("--plugin");
        storage.push_back(options.plugin);
    }
    if (!options.conventions.empty()) {
        storage.push_back("--conventions");
        storage.push_back(options.conventions);
    }
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    return argv;
}

// In the child, after fork: environment and exec. Never returns.
[[noreturn]] void execHost(char** argv, const RunOptions& options) {
    unsetenv("KIV_PASSWORD");
    unsetenv("XDG_CONFIG_HOME");
    for (const auto& kv : options.env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    signal(SIGINT, SIG_DFL);
    execv(argv[0], argv);
    _exit(127);
}

// Waits for the child, killing it when it takes longer than any run of the
// host should, so that a host waiting for input fails the test instead of
// hanging it.
int waitWithDeadline(pid_t pid) {
    const int kLimitMs = 30000;
    int raw = 0;
    for (int waited = 0; waitpid(pid, &raw, WNOHANG) == 0; waited += 10) {
        if (waited >= kLimitMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            break;
        }
        usleep(10000);
    }
    return raw;
}

int statusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

std::string tempFile(const char* tag) {
    std::string path = std::string("/tmp/wcxhost-") + tag + "-XXXXXX";
    int fd = mkstemp(&path[0]);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    return path;
}
}  // namespace

Result run(const std::vector<std::string>& args, const RunOptions& given) {
    ScratchDir home;
    RunOptions options = given;
    options.env.emplace("HOME", home.path());
    std::vector<std::string> storage;
    std::vector<char*> argv = argvFor(args, options, storage);
    std::string outPath = tempFile("out"), errPath = tempFile("err");
    pid_t pid = fork();
    if (pid == 0) {
        setsid();  // no controlling terminal: /dev/tty cannot be opened
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_TRUNC);
        int err = open(errPath.c_str(), O_WRONLY | O_TRUNC);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execHost(argv.data(), options);
    }
    Result r;
    r.status = statusOf(waitWithDeadline(pid));
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return r;
}

Result runOnTerminal(const std::vector<std::string>& args, const std::string& expect, const std::string& input,
                     std::string& terminal, const RunOptions& given) {
    ScratchDir home;
    RunOptions options = given;
    options.env.emplace("HOME", home.path());
    std::vector<std::string> storage;
    std::vector<char*> argv = argvFor(args, options, storage);
    std::string outPath = tempFile("out");
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pty");
    std::string slaveName = ptsname(master);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int slave = open(slaveName.c_str(), O_RDWR);  // becomes the controlling terminal
        int out = open(outPath.c_str(), O_WRONLY | O_TRUNC);
        dup2(slave, 0);
        dup2(out, 1);
        dup2(slave, 2);
        close(master);
        execHost(argv.data(), options);
    }
    terminal.clear();
    bool typed = expect.empty();
    char buf[4096];
    int idleMs = 0;
    while (idleMs < 15000) {
        struct pollfd pfd = {master, POLLIN, 0};
        int ready = poll(&pfd, 1, 100);
        if (ready == 0) {
            idleMs += 100;
            continue;
        }
        idleMs = 0;
        ssize_t n = read(master, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // EIO once the child has closed the terminal
        terminal.append(buf, static_cast<size_t>(n));
        if (!typed && terminal.find(expect) != std::string::npos) {
            typed = true;
            if (write(master, input.data(), input.size()) < 0) break;
        }
    }
    if (idleMs >= 15000) kill(pid, SIGKILL);  // silent and still running: stuck
    Result r;
    r.status = statusOf(waitWithDeadline(pid));
    close(master);
    r.out = readFile(outPath);
    unlink(outPath.c_str());
    return r;
}

ScratchDir::ScratchDir() {
    char tmpl[] = "/tmp/wcxhost-test-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void writeArchive(const std::string& path, const std::vector<std::string>& lines) {
    std::string text = "fakearc\n";
    for (const std::string& line : lines) text += line + "\n";
    writeFile(path, text);
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace hosttest
