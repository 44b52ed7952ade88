#include <cstdio>

#include "codes.h"
#include "commands.h"
#include "entry_format.h"
#include "password.h"
#include "pattern.h"
#include "progress.h"

namespace common {

std::unique_ptr<Archive> open(Plugin& plugin, const std::string& path, int mode, tProcessDataProc progress,
                              tProcessDataProcW progressW) {
    std::unique_ptr<Archive> archive(new Archive(plugin, path, mode, progress, progressW));
    if (!archive->isOpen()) {
        std::fprintf(stderr, "cannot open archive: %s\n", codes::describe(archive->openResult()).c_str());
        return nullptr;
    }
    return archive;
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
    std::fprintf(stderr, "cannot read the next entry header: %s\n", codes::describe(rc).c_str());
}

int forEachSelected(Archive& archive, const Options& options, progress::Meter& meter, uint64_t& failed,
                    const std::function<bool(const entry::Header& header, const std::string& name)>& each) {
    entry::Header header;
    while (!progress::interrupted()) {
        const int rc = archive.readHeader(header);
        if (rc == E_END_ARCHIVE) return kExitOk;
        if (rc != 0) {
            meter.clear();
            reportHeaderError(rc);
            return kExitError;
        }
        const std::string name = entry::name(header);
        if (pattern::selects(options.patterns, name)) {
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
