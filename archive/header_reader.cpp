#include "archive/header_reader.h"

#include <new>

#include "archive/catalogue.h"
#include "plugin/password.h"
#include "readers/decoder_choice.h"
#include "readers/scramble_reader.h"

namespace kiv {

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
