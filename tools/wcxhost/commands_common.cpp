#include <cstdio>

#include "codes.h"
#include "commands.h"
#include "entry_format.h"
#include "os.h"
#include "password.h"
#include "pattern.h"
#include "progress.h"

namespace common {

std::unique_ptr<Archive> open(Plugin& plugin, const std::string& path, int mode, tProcessDataProc progress,
                              tProcessDataProcW progressW) {
    password::forgetAsked();
    std::unique_ptr<Archive> archive(new Archive(plugin, path, mode, progress, progressW));
    if (!archive->isOpen()) {
        std::fprintf(stderr, "wcxhost: cannot open '%s': %s\n", path.c_str(),
                     openFailure(path, archive->openResult(), password::asked(), plugin.takesStartupInfo()).c_str());
        return nullptr;
    }
    return archive;
}

std::string openFailure(const std::string& path, int code, password::Asked asked, bool hostAsks) {
    // A plug-in that asked for a password has read the file: only the
    // answer or the archive itself can be at fault.
    const bool damaged = code == E_UNKNOWN_FORMAT || code == E_BAD_ARCHIVE || code == E_BAD_DATA;
    if (asked == password::Asked::Answered && damaged) return "wrong password or damaged archive";
    if (asked == password::Asked::Cancelled) return "no password given";
    if (asked == password::Asked::NoSource)
        return "no password given (no terminal to ask on: use --password-file or KIV_PASSWORD)";
    uint64_t size = 0;
    const std::string why = os::whyUnreadable(path, size);
    if (!why.empty()) return why;
    switch (code) {
        case E_UNKNOWN_FORMAT:
            if (size == 0) return "empty file, not an archive";
            return std::string("not an archive the plug-in can read, ") +
                   (hostAsks ? "or a damaged one " : "a damaged one, or a wrong password ") + codes::tag(code);
        case E_BAD_ARCHIVE:
        case E_BAD_DATA:
            return (hostAsks ? "damaged archive " : "damaged archive or wrong password ") + codes::tag(code);
        default:
            return codes::describe(code);
    }
}

uint64_t selectedTotal(Plugin& plugin, const Options& options) {
    // Password answers given to this pass are given again to the real one,
    // so the user is not asked twice by plug-ins that do not keep them.
    password::Replay replay;
    Archive archive(plugin, options.archive, PK_OM_LIST, progress::processData, progress::processDataW);
    if (!archive.isOpen()) return 0;
    uint64_t total = 0;
    entry::Header header;
    while (archive.readHeader(header) == 0) {
        if (!entry::isDirectory(header) && pattern::selects(options.patterns, entry::name(header)))
            total += entry::unpackedSize(header);
        if (archive.skip() != 0) break;
    }
    return total;
}

void reportHeaderError(int rc) {
    std::fprintf(stderr, "wcxhost: cannot read the next entry header: %s\n", codes::describe(rc).c_str());
}

int forEachSelected(Archive& archive, const Options& options, progress::Meter& meter, uint64_t& failed,
                    const std::function<bool(const entry::Header& header, const std::string& name)>& each) {
    entry::Header header;
    std::vector<bool> matched(options.patterns.size());
    while (!progress::interrupted()) {
        const int rc = archive.readHeader(header);
        if (rc == E_END_ARCHIVE) {
            // As unzip and tar do: a pattern that selects nothing is a failure.
            int status = kExitOk;
            for (size_t i = 0; i < matched.size(); ++i) {
                if (matched[i]) continue;
                meter.clear();
                std::fprintf(stderr, "wcxhost: no entry matches '%s'\n", options.patterns[i].c_str());
                status = kExitEntriesFailed;
            }
            return status;
        }
        if (rc != 0) {
            meter.clear();
            reportHeaderError(rc);
            return kExitError;
        }
        const std::string name = entry::name(header);
        if (pattern::selects(options.patterns, name, matched)) {
            if (!each(header, name)) break;
            continue;
        }
        const int skipped = archive.skip();
        if (skipped != 0) {
            ++failed;
            meter.clear();
            std::fprintf(stderr, "%s: skipping failed: %s\n", name.c_str(), codes::describe(skipped).c_str());
        }
    }
    return kExitOk;
}

}  // namespace common
