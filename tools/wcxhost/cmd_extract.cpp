#include <cstdio>

#include "codes.h"
#include "commands.h"
#include "entry_format.h"
#include "os.h"
#include "pattern.h"
#include "progress.h"
#include "target_path.h"

namespace {
struct Tally {
    uint64_t extracted = 0;
    uint64_t bytes = 0;
    uint64_t failed = 0;
};

// Extracts the current entry as the file manager would: folders are made
// by the host, files are written by the plug-in. Returns the plug-in's code,
// or -1 when the host refused the entry itself (already reported).
int extractEntry(Archive& archive, const Options& options, const entry::Header& header, progress::Meter& meter) {
    std::string name = entry::name(header);
    std::vector<std::string> parts;
    std::string why;
    bool isDir = entry::isDirectory(header);
    bool ok = target::split(name, parts, why) && target::checkExisting(options.dest, parts, why) &&
              target::makeFolders(options.dest, parts, isDir ? parts.size() : parts.size() - 1, why);
    if (!ok) {
        meter.clear();
        std::fprintf(stderr, "%s: not extracted: %s\n", name.c_str(), why.c_str());
        archive.skip();
        return -1;
    }
    if (isDir) return archive.skip();

    meter.startEntry(name);
    if (options.split) {
        std::string folder = target::join(options.dest, parts, parts.size() - 1);
        if (!folder.empty() && !os::isSeparator(folder.back())) folder += os::separator();
        return archive.extractSplit(folder, parts.back());
    }
    return archive.extractTo(target::join(options.dest, parts, parts.size()));
}
}  // namespace

int runExtract(Plugin& plugin, const Options& options) {
    std::string why;
    if (!target::makePath(options.dest, why)) {
        std::fprintf(stderr, "wcxhost: %s\n", why.c_str());
        return kExitError;
    }
    bool showBar = os::stderrIsTerminal();
    uint64_t total = showBar ? common::selectedTotal(plugin, options) : 0;
    std::unique_ptr<Archive> archive = common::open(plugin, options.archive, PK_OM_EXTRACT, progress::processData, progress::processDataW);
    if (!archive) return kExitError;

    progress::Meter meter(total, showBar);
    Tally tally;
    const int status = common::forEachSelected(*archive, options, meter, tally.failed,
                                               [&](const entry::Header& header, const std::string& name) {
        const int rc = extractEntry(*archive, options, header, meter);
        if (rc == E_EABORTED && progress::interrupted()) return false;
        if (rc == 0) {
            ++tally.extracted;
            if (!entry::isDirectory(header)) tally.bytes += entry::unpackedSize(header);
            return true;
        }
        ++tally.failed;
        if (rc > 0) {
            meter.clear();
            std::fprintf(stderr, "%s: %s\n", name.c_str(), codes::describe(rc).c_str());
        }
        return true;
    });
    meter.clear();
    archive->close();
    std::printf("extracted %llu entries (%llu bytes): %llu failed\n", static_cast<unsigned long long>(tally.extracted),
                static_cast<unsigned long long>(tally.bytes), static_cast<unsigned long long>(tally.failed));
    if (progress::interrupted()) {
        std::fprintf(stderr, "interrupted: extraction stopped\n");
        return kExitInterrupted;
    }
    if (status != kExitOk) return status;
    return tally.failed ? kExitEntriesFailed : kExitOk;
}
