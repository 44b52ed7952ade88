// Catalogue reading alone, over an archive in memory. The first bytes pick
// the display flags, the name encoding (UTF-8, or code page 1252 or 932) and
// the catalogue's compression; the
// rest is the catalogue. Whatever it holds, the entry list that comes out
// must be well formed and its paths safe to hand to a host.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/catalogue.h"
#include "archive/header_reader.h"
#include "archive/names.h"
#include "platform/platform.h"
#include "tests/support/memory_reader.h"
#include "tests/support/path_check.h"

namespace {

[[noreturn]] void breach(const char* what) {
    std::fprintf(stderr, "catalogue breach: %s\n", what);
    std::abort();
}

void checkPath(const kiv::Entry& e) {
    if (e.path[e.pathLength] != 0 || std::strlen(e.path) != e.pathLength) breach("path length");
    if (e.pathLength > kiv::kMaxPathBytes) breach("path too long");
    if (!kivtest::pathIsSafe({e.path, e.pathLength})) breach("unsafe path component");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    static const uint8_t codes[] = {'n', 'z', 'y', 'n'};
    const uint8_t code = codes[data[1] & 3];

    kiv::ArchiveContext context;
    context.formatVersion = (data[1] & 4) ? "8" : "3";
    context.flatArchive = flags & 1;
    context.hideEmptyDirs = (flags >> 1) & 1;
    context.hideStoredFiles = (flags >> 2) & 1;
    context.hideStoredLinks = (flags >> 3) & 1;
    context.showDeletedFiles = (flags >> 4) & 1;
    context.showReferenceFiles = (flags >> 5) & 1;
    context.showReferenceLinks = (flags >> 6) & 1;
    context.legacyCodePage = (flags & 0x80) ? 932 : 0;  // a double-byte code page, or the default

    kivtest::MemoryReader source(std::vector<uint8_t>(data + 2, data + size));
    context.catalogueReader = kiv::makeDecodingReader(code, &source, 0);
    const int result = kiv::readCatalogue(context);
    if (result != 0 && result != E_NO_MEMORY && result != E_BAD_ARCHIVE && result != E_UNKNOWN_FORMAT)
        breach("result code");

    const kiv::Entry* head = context.entries.head();
    if (result == E_UNKNOWN_FORMAT) return 0;
    if (!head || head->attribute != kiv::kAttrRoot) breach("root placeholder");
    for (const kiv::Entry* e = head->next; e; e = e->next) {
        checkPath(*e);
#if !defined(_WIN32)
        // Names of older archives reach a POSIX host converted, as UTF-8.
        if (context.versionNumber() <= 3 && platform::utf8ToHost(std::string(e->path, e->pathLength)) !=
                                                std::string(e->path, e->pathLength))
            breach("legacy name is not UTF-8");
#endif
        if (e->content[e->contentLength] != 0) breach("content length");
        switch (e->attribute) {
            case kiv::kAttrDeleted:
            case kiv::kAttrSpecial:
            case kiv::kAttrDirectory:
            case kiv::kAttrFile:
            case kiv::kAttrHidden: break;
            default: breach("attribute");
        }
        if (e->next == nullptr && e != context.entries.tail()) breach("tail");
    }
    if (context.entries.bytesUsed() > kiv::kMaxEntryListBytes) breach("entry list cap");
    return 0;
}
