#include "extract/extract.h"

#include <cstring>
#include <new>
#include <vector>

#include "archive/entry_path.h"
#include "archive/header_reader.h"
#include "archive/names.h"
#include "extract/output_file.h"
#include "platform/platform.h"

namespace kiv {

namespace {
// The host sees progress in chunks of this size; reading, folding and
// writing go in blocks of up to kBlock, a whole number of chunks.
constexpr size_t kChunk = 4096;
#ifndef KIV_EXTRACT_BLOCK
#define KIV_EXTRACT_BLOCK (256 * 1024)
#endif
constexpr size_t kBlock = KIV_EXTRACT_BLOCK;
static_assert(kBlock % kChunk == 0, "blocks hold whole chunks");

// XOR of all 8-byte words at data[0, n & ~7): byte j of the result is the
// XOR of every byte whose offset is j mod 8.
uint64_t foldWords(const uint8_t* data, size_t n) {
    size_t i = 0;
    uint64_t folded = 0;
#if defined(__GNUC__)
    // Four independent 16-byte lanes, so the compiler emits vector XORs
    // that do not wait for one another.
    typedef uint64_t Lanes __attribute__((vector_size(16)));
    Lanes a = {0, 0}, b = {0, 0}, c = {0, 0}, d = {0, 0};
    for (; i + 64 <= n; i += 64) {
        Lanes w[4];
        std::memcpy(w, data + i, 64);
        a ^= w[0];
        b ^= w[1];
        c ^= w[2];
        d ^= w[3];
    }
    a ^= b ^ c ^ d;
    folded = a[0] ^ a[1];
#endif
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, data + i, 8);
        folded ^= w;
    }
    return folded;
}
}  // namespace

void foldChecksum(uint8_t c[2], unsigned parity, const uint8_t* data, size_t n) {
    const uint64_t folded = foldWords(data, n);
    uint8_t b[8];
    std::memcpy(b, &folded, 8);
    uint8_t even = b[0] ^ b[2] ^ b[4] ^ b[6];
    uint8_t odd = b[1] ^ b[3] ^ b[5] ^ b[7];
    for (size_t i = n & ~size_t(7); i < n; ++i) {
        if (i & 1) odd ^= data[i];
        else even ^= data[i];
    }
    c[parity & 1] ^= even;
    c[(parity + 1) & 1] ^= odd;
}

namespace {
// The name the host's callbacks are given: the destination, or in test
// mode the entry's path, in the form of the callback that is set.
struct ProgressName {
    std::vector<char> narrow;
    std::u16string wide;

    ProgressName(const ArchiveContext& context, const Entry& entry, const platform::Path* destination) {
        if (context.progressCallbackW) {
            if (!destination) wide = widePath(entry, context.legacyCodePage);
            else if (destination->isWide()) wide = destination->units();
            else wide = hostToUtf16(destination->narrow());
            wide.push_back(0);
            return;
        }
        std::string shown;
        if (destination) shown = destination->isWide() ? hostText(destination->units()) : destination->narrow();
        else if (entry.pathForm == kPathUtf8) shown = ansiPath(entry);
        else shown.assign(entry.path, entry.pathLength);
        narrow.assign(shown.begin(), shown.end());
        narrow.push_back(0);
    }

    static std::u16string hostToUtf16(const std::string& text) {
#if defined(_WIN32)
        return platform::ansiToUtf16(text);
#else
        return utf8ToUtf16(text.data(), text.size());
#endif
    }

    static std::string hostText(const std::u16string& text) {
#if defined(_WIN32)
        return platform::utf16ToAnsi(text);
#else
        (void)text;  // wide destinations come only from the Win32 exports
        return std::string();
#endif
    }

    int report(const ArchiveContext& context, int n) {
        if (context.progressCallbackW) return context.progressCallbackW(reinterpret_cast<WCHAR*>(&wide[0]), n);
        return context.progressCallback(narrow.data(), n);
    }
};
}  // namespace

int extractCurrentEntry(ArchiveContext& context, const char* destPath, const char* destName) {
    if (!destName) return extractCurrentEntry(context, nullptr);
    platform::Path destination(destPath);
    return extractCurrentEntry(context, destination.appendComponent(platform::Path(destName)));
}

int extractCurrentEntry(ArchiveContext& context, const platform::Path& destination) {
    return extractCurrentEntry(context, &destination);
}

int extractCurrentEntry(ArchiveContext& context, const platform::Path* destination) {
    const Entry* entry = context.listingCursor;
    if (!entry) return E_BAD_DATA;

    OutputFile output;
    if (destination) {
        // Too long for the platform: refused rather than cut.
        const size_t limit = destination->isWide() ? platform::kMaxWidePath : platform::maxPathBytes();
        if (destination->length() + 1 > limit) return E_ECREATE;
        if (!output.open(*destination)) return E_ECREATE;
        if (entry->dataOffset == 0) {
            output.write(entry->content, entry->contentLength);
            return output.commit(entry->unixTime) ? 0 : E_EWRITE;
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
        const PackedExtent extent{entry->storedSize, entry->size};
        reader = makeDecodingReader(code, context.primaryReader.get(), start, &extent, &context.decoderCache);
    } catch (const ReaderError&) {
        return E_ECREATE;
    } catch (const std::bad_alloc&) {
        return E_ECREATE;
    }

    ProgressName progressName(context, *entry, destination);

    // One block for the whole entry, no larger than the entry: small files
    // cost a small buffer. Without memory for it, chunk-sized steps on the
    // stack still work.
    uint8_t fallback[kChunk];
    size_t room = kBlock;
    if (entry->size < kBlock) room = static_cast<size_t>((entry->size + kChunk - 1) / kChunk * kChunk);
    std::unique_ptr<uint8_t[]> block(room > kChunk ? new (std::nothrow) uint8_t[room] : nullptr);
    uint8_t* buffer = block ? block.get() : fallback;
    if (!block) room = kChunk;

    uint8_t sum[2] = {0, 0};
    unsigned parity = 0;
    uint64_t remaining = entry->size;
    while (remaining != 0) {
        // Fill the block; a reader may deliver less than asked at any time.
        const size_t want = remaining < room ? static_cast<size_t>(remaining) : room;
        size_t filled = 0;
        bool ended = false;
        while (filled < want) {
            const int n = reader->read(buffer + filled, static_cast<int>(want - filled));
            if (n <= 0) {
                ended = true;
                break;
            }
            filled += static_cast<size_t>(n);
        }
        foldChecksum(sum, parity, buffer, filled);
        parity = (parity + static_cast<unsigned>(filled)) & 1;
        if (output.isOpen() && !output.write(buffer, filled)) return E_EWRITE;
        // The host hears of the block chunk by chunk, as if each had been
        // read on its own, and may stop at any of them.
        for (size_t at = 0; at < filled; at += kChunk) {
            const int n = static_cast<int>(filled - at < kChunk ? filled - at : kChunk);
            remaining -= static_cast<uint64_t>(n);
            if (progressName.report(context, n) == 0) return E_EABORTED;
        }
        if (ended) return E_BAD_DATA;
    }
    reader.reset();

    if (((uint16_t(sum[0]) << 8) | sum[1]) != entry->checksum) return E_BAD_ARCHIVE;
    if (output.isOpen() && !output.commit(entry->unixTime)) return E_EWRITE;
    return 0;
}

}  // namespace kiv
