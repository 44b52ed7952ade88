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
    std::unique_ptr<Archive> archive = common::open(plugin, options.archive, PK_OM_EXTRACT, progress::processData, progress::processDataW);
    if (!archive) return kExitError;

    progress::Meter meter(total, showBar);
    uint64_t tested = 0, failed = 0;
    const int status = common::forEachSelected(*archive, options, meter, failed,
                                               [&](const entry::Header&, const std::string& name) {
        meter.startEntry(name);
        const int rc = archive->test();
        if (rc == E_EABORTED && progress::interrupted()) return false;
        ++tested;
        if (rc != 0) {
            ++failed;
            meter.clear();
            std::fprintf(stderr, "%s: %s\n", name.c_str(), codes::describe(rc).c_str());
        }
        return true;
    });
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
