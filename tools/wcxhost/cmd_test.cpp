#include <cstdio>

#include "codes.h"
#include "commands.h"
#include "entry_format.h"
#include "os.h"
#include "pattern.h"
#include "progress.h"

int runTest(Plugin& plugin, const Options& options) {
    bool showBar = os::stderrIsTerminal();
    uint64_t total = showBar ? common::selectedTotal(plugin, options) : 0;
    std::unique_ptr<Archive> archive = common::open(plugin, options.archive, PK_OM_EXTRACT, progress::processData);
    if (!archive) return kExitError;

    progress::Meter meter(total, showBar);
    uint64_t tested = 0, failed = 0;
    int status = kExitOk;
    tHeaderData header;
    while (!progress::interrupted()) {
        int rc = archive->readHeader(header);
        if (rc == E_END_ARCHIVE) break;
        if (rc != 0) {
            meter.clear();
            common::reportHeaderError(rc);
            status = kExitError;
            break;
        }
        std::string name = entry::name(header);
        if (!pattern::selects(options.patterns, name)) {
            rc = archive->skip();
        } else {
            meter.startEntry(name);
            rc = archive->test();
            if (rc == E_EABORTED && progress::interrupted()) break;
            ++tested;
        }
        if (rc != 0) {
            ++failed;
            meter.clear();
            std::fprintf(stderr, "%s: %s\n", name.c_str(), codes::describe(rc).c_str());
        }
    }
    meter.clear();
    std::printf("tested %llu entries (%llu bytes): %llu failed\n", static_cast<unsigned long long>(tested),
                static_cast<unsigned long long>(meter.done()), static_cast<unsigned long long>(failed));
    if (progress::interrupted()) {
        std::fprintf(stderr, "interrupted\n");
        return kExitInterrupted;
    }
    if (status != kExitOk) return status;
    return failed ? kExitEntriesFailed : kExitOk;
}
