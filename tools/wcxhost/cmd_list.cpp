#include <cstdio>

#include "codes.h"
#include "commands.h"
#include "entry_format.h"
#include "progress.h"

int runList(Plugin& plugin, const Options& options) {
    std::unique_ptr<Archive> archive = common::open(plugin, options.archive, PK_OM_LIST, progress::processData, progress::processDataW);
    if (!archive) return kExitError;

    if (!options.raw) std::printf("%s\n", entry::tableHeading().c_str());
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    uint64_t count = 0, bytes = 0;
    int status = kExitOk;
    entry::Header header;
    for (;;) {
        int rc = archive->readHeader(header, options.raw);
        if (rc == E_END_ARCHIVE) break;
        if (rc != 0) {
            common::reportHeaderError(rc);
            status = kExitError;
            break;
        }
        if (options.raw) {
            char line[200 + 4096];
            if (header.name.size() > 4096) header.name.resize(4096);  // beyond any plug-in's field
            std::fwrite(line, 1, entry::formatRaw(header, line) + 1, stdout);
        } else {
            std::printf("%s\n", entry::tableLine(header).c_str());
        }
        ++count;
        bytes += entry::unpackedSize(header);
        rc = archive->skip();
        if (rc != 0) {
            std::fprintf(stderr, "%s: skipping failed: %s\n", entry::name(header).c_str(), codes::describe(rc).c_str());
            status = kExitEntriesFailed;
        }
    }
    if (!options.raw)
        std::printf("%llu entries, %llu bytes\n", static_cast<unsigned long long>(count),
                    static_cast<unsigned long long>(bytes));
    return status;
}
