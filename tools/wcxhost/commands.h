// The three commands of the host and what they share.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive.h"
#include "password.h"
#include "plugin.h"
#include "progress.h"

// Exit statuses, also listed in the usage text.
enum ExitStatus {
    kExitOk = 0,
    kExitEntriesFailed = 1,  // the archive was walked, some entries failed
    kExitError = 2,          // usage, plug-in or archive could not be used
    kExitInterrupted = 130,  // Ctrl-C
};

struct Options {
    std::string pluginPath;
    std::string passwordFile;
    std::string configDir;  // --config-dir, "" for the usual folder
    bool raw = false;
    bool split = false;
    bool ansi = false;  // only the seven functions, as an older host calls
    std::string conventions;  // "unix", "windows" or "" for the platform's
    std::string command;
    std::string archive;
    std::string dest;
    std::vector<std::string> patterns;
};

int runList(Plugin& plugin, const Options& options);
int runTest(Plugin& plugin, const Options& options);
int runExtract(Plugin& plugin, const Options& options);

// Shared by the commands (commands_common.cpp).
namespace common {
// Opens the archive; on failure prints "wcxhost: cannot open 'PATH': " and
// the reason (openFailure) and returns null.
std::unique_ptr<Archive> open(Plugin& plugin, const std::string& path, int mode, tProcessDataProc progress,
                              tProcessDataProcW progressW);
// Why the plug-in could not open `path` with `code`, in a user's words:
// a wrong or missing password when one was asked for, else the system's
// reason when the file cannot be read, else what the code means for an open.
// `hostAsks`: the plug-in asks for passwords through the host's input box
// (else it may have asked on its own, and a wrong password stays possible).
std::string openFailure(const std::string& path, int code, password::Asked asked, bool hostAsks);
// Sum of UnpSize over the entries the patterns select, found by one listing
// pass (only made when the progress bar needs a total). 0 when it fails.
uint64_t selectedTotal(Plugin& plugin, const Options& options);
// "cannot read the next entry header: ..." on stderr.
void reportHeaderError(int rc);
// Walks the archive until its end or Ctrl-C. Entries the patterns leave out
// are skipped (a failed skip counts in `failed`); `each` handles the others
// and answers false to stop the walk. Returns kExitOk; kExitEntriesFailed
// when the walk reached the end and a pattern matched no entry (each such
// pattern is named on stderr); kExitError when a header could not be read.
int forEachSelected(Archive& archive, const Options& options, progress::Meter& meter, uint64_t& failed,
                    const std::function<bool(const entry::Header& header, const std::string& name)>& each);
}  // namespace common
