#include "archive/opening.h"

#include <new>

#include "archive/header_reader.h"
#include "platform/platform.h"
#include "readers/file_reader.h"
#include "readers/scramble_reader.h"

namespace kiv {

int openArchive(ArchiveContext& context, const platform::Path& path) {
    std::unique_ptr<Reader> file;
    try {
        file = std::make_unique<FileReader>(path);
    } catch (const ReaderError&) {
        return E_EOPEN;
    } catch (const std::bad_alloc&) {
        return E_NO_MEMORY;
    }
    context.catalogueReader.reset();
    context.primaryReader = std::move(file);
    Reader& reader = *context.primaryReader;

    // A file too short for the slice header is not an archive; the magic
    // test must only ever see bytes that came from the file.
    if (reader.read(context.sliceHeader, 16) != 16) return E_UNKNOWN_FORMAT;
    const uint8_t* h = context.sliceHeader;
    const uint32_t magic = (uint32_t(h[0]) << 24) | (uint32_t(h[1]) << 16) | (uint32_t(h[2]) << 8) | h[3];
    if (magic != 123) return E_UNKNOWN_FORMAT;
    context.dataStartPosition = static_cast<uint64_t>(reader.tell());

    int64_t modificationTime = 0;
    if (!platform::fileModTime(path, modificationTime)) return E_EOPEN;
    reader.seek(0, 2);
    const uint64_t length = static_cast<uint64_t>(reader.tell());

    const bool changed = modificationTime != context.recordedModificationTime || length != context.recordedLength;
    if (changed) {
        context.recordedModificationTime = modificationTime;
        context.recordedLength = length;
        reader.seek(static_cast<int64_t>(context.dataStartPosition), 0);
        context.hardLinkLabels.clear();
        context.entries.clear();
        context.listingCursor = nullptr;
        int result;
        try {
            result = readHeaderAndCatalogue(context);
        } catch (const std::bad_alloc&) {
            result = E_NO_MEMORY;
        }
        context.listingCursor = context.entries.head();
        return result;
    }

    context.listingCursor = context.entries.head();
    if (!context.scrambled()) return 0;
    try {
        auto scramble = std::make_unique<ScrambleReader>(context.primaryReader.get(), context.password,
                                                         static_cast<int64_t>(context.dataStartPosition),
                                                         context.versionNumber());
        context.primaryReader.release();  // now owned by the unscrambling reader
        context.primaryReader = std::move(scramble);
    } catch (const ReaderError&) {
        return E_UNKNOWN_FORMAT;
    } catch (const std::bad_alloc&) {
        return E_NO_MEMORY;
    }
    return 0;
}

}  // namespace kiv
