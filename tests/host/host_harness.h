// Runs wcxhost as a child process for the host tests: a private scratch
// folder per test, fake archive descriptions, the fake plug-in's call log.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace hosttest {

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

struct RunOptions {
    std::map<std::string, std::string> env;  // added to the child's environment
    std::string plugin = FAKE_PLUGIN;        // "" runs without --plugin
    std::string exe = WCXHOST_EXE;
    // --conventions: the fakes fill records in the Windows form.
    std::string conventions = "windows";
};

// The child runs in a new session without a controlling terminal, stdin
// from /dev/null, and without KIV_PASSWORD unless `env` sets it. Its HOME is
// a fresh folder and XDG_CONFIG_HOME is unset unless `env` names them, so
// that no run reads or writes the configuration of the user running tests.
Result run(const std::vector<std::string>& args, const RunOptions& options = RunOptions());

// Like run(), but the child's controlling terminal and stderr are a fresh
// pseudo-terminal. When `expect` appears in the terminal's output, `input`
// is typed into it. `terminal` receives everything written to the terminal.
Result runOnTerminal(const std::vector<std::string>& args, const std::string& expect, const std::string& input,
                     std::string& terminal, const RunOptions& options = RunOptions());

// A folder that is removed with everything in it when the test ends.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes "fakearc" and then the given lines as a fake archive description.
void writeArchive(const std::string& path, const std::vector<std::string>& lines);
void writeFile(const std::string& path, const std::string& content);
// Content of a file, or "<missing>".
std::string readFile(const std::string& path);
bool exists(const std::string& path);
bool isDirectory(const std::string& path);
std::vector<std::string> lines(const std::string& text);
bool contains(const std::string& text, const std::string& part);

}  // namespace hosttest
