#include "archive/header_reader.h"

#include <new>

#include "archive/catalogue.h"
#include "plugin/password.h"
#include "readers/bz2_reader.h"
#include "readers/decoding_workers.h"
#include "readers/gz_reader.h"
#include "readers/parallel_bz2_reader.h"
#include "readers/scramble_reader.h"

namespace kiv {

namespace {

// bzip2 data worth decoding on several threads: at least four blocks of the
// level its header names.
bool manyBlocks(Reader* source, int64_t start, const StreamSizes* sizes) {
    if (!sizes || sizes->stored == 0 || !source || source->seek(start, 0) != 0) return false;
    char header[4];
    if (source->read(header, 4) != 4 || header[0] != 'B' || header[1] != 'Z' || header[2] != 'h' ||
        header[3] < '1' || header[3] > '9')
        return false;
    return sizes->decoded / 4 >= uint64_t(header[3] - '0') * 100000;
}

}  // namespace

std::unique_ptr<Reader> makeDecodingReader(uint8_t code, Reader* source, int64_t start, const StreamSizes* sizes) {
    switch (code) {
        case 'n': return std::make_unique<Reader>(source, start);
        case 'p':
        case 'z': return std::make_unique<GZReader>(source, start);
        case 'y':
            if (manyBlocks(source, start, sizes)) {
                WorkerLease lease = WorkerLease::take(decodingWorkerLimit());
                if (lease.count() > 0)
                    return std::make_unique<ParallelBZ2Reader>(source, start, sizes->stored, std::move(lease));
            }
            return std::make_unique<BZ2Reader>(source, start);
        default: throw ReaderError("Unsupported compression format!");
    }
}

namespace {

// The terminator: the catalogue offset, then a count byte of k one-bits
// followed by zero-bits, then n bytes FF up to the end. The offset begins
// 4 * (8n + k) bytes before the count byte. Returns false for a malformed
// terminator.
bool findCatalogueOffset(Reader& reader, uint64_t dataStart, uint64_t& offset) {
    constexpr uint64_t kMaxOnes = uint64_t(1) << 29;
    reader.seek(0, 2);
    uint64_t ones = 0;
    int64_t before = reader.tell();
    uint8_t b = static_cast<uint8_t>(reader.readCharBackward());
    while (b == 0xFF) {
        ones += 8;
        const int64_t now = reader.tell();
        // The scan must end: at the start of the data, or once the count is
        // too large to be valid anyway.
        if (ones >= kMaxOnes || now >= before || now <= static_cast<int64_t>(dataStart)) return false;
        before = now;
        b = static_cast<uint8_t>(reader.readCharBackward());
    }
    while (b != 0) {
        if ((b & 0x80) == 0) return false;
        ++ones;
        b = static_cast<uint8_t>(b << 1);
    }
    if (ones >= kMaxOnes) return false;
    reader.seek(-4 * static_cast<int64_t>(ones), 1);
    offset = reader.readNumber();
    return true;
}

}  // namespace

int readHeaderAndCatalogue(ArchiveContext& context) {
    if (context.sliceHeader[14] != 'T') return E_UNKNOWN_FORMAT;
    Reader& file = *context.primaryReader;
    context.formatVersion = file.readString();
    context.compressionCode = static_cast<uint8_t>(file.readChar());
    context.headerString = file.readString();
    context.headerFlags = static_cast<uint8_t>(file.readChar());

    if (context.scrambled()) {
        Secret entered;
        if (!askPassword(entered)) return E_UNKNOWN_FORMAT;
        try {
            auto scramble = std::make_unique<ScrambleReader>(
                context.primaryReader.get(), entered, static_cast<int64_t>(context.dataStartPosition),
                context.versionNumber());
            context.primaryReader.release();  // now owned by the unscrambling reader
            context.primaryReader = std::move(scramble);
        } catch (const ReaderError&) {
            return E_UNKNOWN_FORMAT;
        }
        context.password = entered;
    }

    uint64_t offset = 0;
    if (!findCatalogueOffset(*context.primaryReader, context.dataStartPosition, offset)) return E_UNKNOWN_FORMAT;
    context.catalogueStart = context.dataStartPosition + offset;

    try {
        context.catalogueReader = makeDecodingReader(context.compressionCode, context.primaryReader.get(),
                                                     static_cast<int64_t>(context.catalogueStart));
    } catch (const ReaderError&) {
        return E_UNKNOWN_FORMAT;
    } catch (const std::bad_alloc&) {
        return E_UNKNOWN_FORMAT;
    }
    return readCatalogue(context);
}

}  // namespace kiv
