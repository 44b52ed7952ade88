#include "extract/extract.h"

#include <cstring>
#include <new>
#include <vector>

#include "archive/header_reader.h"
#include "extract/output_file.h"
#include "platform/platform.h"

namespace kiv {

void foldChecksum(uint8_t c[2], unsigned parity, const uint8_t* data, size_t n) {
    size_t i = 0;
    // XOR eight bytes at a time; byte j of the folded word then holds the
    // XOR of every byte whose offset from data is j mod 8.
    uint64_t folded = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, data + i, 8);
        folded ^= w;
    }
    uint8_t b[8];
    std::memcpy(b, &folded, 8);
    uint8_t even = b[0] ^ b[2] ^ b[4] ^ b[6];
    uint8_t odd = b[1] ^ b[3] ^ b[5] ^ b[7];
    for (; i < n; ++i) {
        if (i & 1) odd ^= data[i];
        else even ^= data[i];
    }
    c[parity & 1] ^= even;
    c[(parity + 1) & 1] ^= odd;
}

int extractCurrentEntry(ArchiveContext& context, const char* destPath, const char* destName) {
    const Entry* entry = context.listingCursor;
    if (!entry) return E_BAD_DATA;

    OutputFile output;
    std::string destination;
    if (destName) {
        destination = destPath ? std::string(destPath) + destName : std::string(destName);
        // Too long for the platform: refused rather than cut.
        if (destination.size() + 1 > platform::maxPathBytes()) return E_ECREATE;
        if (!output.open(destination)) return E_ECREATE;
        if (entry->dataOffset == 0) {
            output.write(entry->content, entry->contentLength);
            return output.commit() ? 0 : E_EWRITE;
        }
    }

    std::unique_ptr<Reader> reader;
    try {
        const int64_t start = static_cast<int64_t>(context.dataStartPosition + entry->dataOffset);
        // Compressed data needs one of the compressions; a plain view of it
        // would deliver the compressed bytes as if they were the file.
        uint8_t code = 'n';
        if (entry->storedSize != 0) {
            code = context.compressionCode;
            if (code != 'z' && code != 'p' && code != 'y') throw ReaderError("Unsupported compression format!");
        }
        reader = makeDecodingReader(code, context.primaryReader.get(), start);
    } catch (const ReaderError&) {
        return E_ECREATE;
    } catch (const std::bad_alloc&) {
        return E_ECREATE;
    }

    // The callback takes a mutable name; in test mode it is the entry's path.
    std::vector<char> progressName;
    const std::string& shown = destName ? destination : std::string(entry->path, entry->pathLength);
    progressName.assign(shown.begin(), shown.end());
    progressName.push_back(0);

    uint8_t buffer[4096];
    uint8_t sum[2] = {0, 0};
    unsigned parity = 0;
    uint64_t remaining = entry->size;
    while (remaining != 0) {
        const int chunk = remaining < sizeof buffer ? static_cast<int>(remaining) : static_cast<int>(sizeof buffer);
        const int n = reader->read(buffer, chunk);
        if (n <= 0) return E_BAD_DATA;
        foldChecksum(sum, parity, buffer, static_cast<size_t>(n));
        parity = (parity + static_cast<unsigned>(n)) & 1;
        if (output.isOpen() && !output.write(buffer, static_cast<size_t>(n))) return E_EWRITE;
        remaining -= static_cast<uint64_t>(n);
        if (context.progressCallback(progressName.data(), n) == 0) return E_EABORTED;
    }
    reader.reset();

    if (((uint16_t(sum[0]) << 8) | sum[1]) != entry->checksum) return E_BAD_ARCHIVE;
    if (output.isOpen() && !output.commit()) return E_EWRITE;
    return 0;
}

}  // namespace kiv
