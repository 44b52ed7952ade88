#include "archive/catalogue.h"

#include <cctype>
#include <new>
#include <vector>

#include "archive/entry_builder.h"
#include "platform/platform.h"
#include "readers/decoding_reader.h"

namespace kiv {

namespace {

// An upper-case kind letter stands for the same kind as a reference record;
// both forms end up as the lower-case letter with the top bit set.
uint8_t normaliseKind(uint8_t b) {
    const uint8_t low = b & 0x7F;
    if (low >= 'A' && low <= 'Z') return static_cast<uint8_t>((low + ('a' - 'A')) | 0x80);
    return b;
}

class CatalogueReading {
public:
    CatalogueReading(ArchiveContext& context, Reader& reader) : reader_(reader), builder_(context) {}

    int run();

private:
    Entry& commonHeader();
    void fileFields(Entry& e, bool reference);

    Reader& reader_;
    EntryBuilder builder_;
};

Entry& CatalogueReading::commonHeader() {
    Entry& e = *builder_.appendNamed(reader_);
    const int tailCode = static_cast<signed char>(reader_.readChar());
    reader_.seek(6, 1);
    reader_.readNumber();  // first time: not needed
    builder_.setTime(e, reader_.readNumber());
    if (tailCode == 1) {
        reader_.readNumber();
        reader_.seek(2, 1);
        reader_.readNumber();
    } else if (tailCode == 2 || tailCode == 4) {
        reader_.readNumber();
    }
    return e;
}

void CatalogueReading::fileFields(Entry& e, bool reference) {
    const uint64_t size = reader_.readNumber();
    uint64_t dataOffset = 0, storedSize = 0;
    if (!reference) {
        dataOffset = reader_.readNumber();
        storedSize = reader_.readNumber();
    }
    const uint16_t checksum = static_cast<uint16_t>(reader_.readShort());
    builder_.completeFile(e, reference, size, dataOffset, storedSize, checksum);
}

// One forward pass. Directories nest through an explicit stack of saved
// prefixes, so a deep catalogue costs memory in proportion, not stack.
int CatalogueReading::run() {
    std::vector<size_t> open;
    for (uint64_t records = 0;; ++records) {
        if (records == kMaxCatalogueRecords) return E_NO_MEMORY;
        const uint8_t kind = normaliseKind(static_cast<uint8_t>(reader_.readChar()));
        const bool reference = (kind & 0x80) != 0;
        switch (kind & 0x7F) {
            case 'b':
            case 'c': {
                Entry& e = commonHeader();
                int first = 0, second = 0;
                if (!reference) {
                    first = reader_.readShort();
                    second = reader_.readShort();
                }
                builder_.completeDevice(e, static_cast<char>(kind & 0x7F), reference, first, second);
                break;
            }
            case 'd': {
                Entry& e = commonHeader();
                builder_.completeDirectory(e);
                if (open.size() >= kMaxDirectoryDepth) return E_BAD_ARCHIVE;
                open.push_back(builder_.enterDirectory(e));
                break;
            }
            case 'e': {
                Entry& e = commonHeader();
                fileFields(e, reference);
                builder_.addLabel(reader_.readNumber(), e);
                break;
            }
            case 'f': fileFields(commonHeader(), reference); break;
            case 'h': {
                Entry& e = *builder_.appendNamed(reader_);
                builder_.resolveHardLink(e, reader_.readNumber());
                break;
            }
            case 'l': {
                Entry& e = commonHeader();
                if (reference) {
                    builder_.completeLink(e, true, nullptr);
                } else {
                    const std::string target = reader_.readString();
                    builder_.completeLink(e, false, builder_.hidesStoredLinks() ? nullptr : &target);
                }
                break;
            }
            case 'p':
            case 's': builder_.completeSpecial(commonHeader()); break;
            case 'x':
                if (builder_.showsDeleted()) builder_.completeDeleted(*builder_.appendNamed(reader_));
                else reader_.readString();
                reader_.readChar();
                break;
            default:
                // 'z' closes the directory; a byte that names no kind closes it
                // too (the end of the data reads as such bytes). At the top
                // level either ends the catalogue, an unknown kind with a beep.
                if (open.empty()) {
                    if ((kind & 0x7F) != 'z') platform::beep();
                    return 0;
                }
                builder_.leaveDirectory(open.back());
                open.pop_back();
                break;
        }
    }
}

}  // namespace

int readCatalogue(ArchiveContext& context, uint64_t maxCatalogueBytes) {
    Reader& reader = *context.catalogueReader;
    auto* decoding = dynamic_cast<DecodingReader*>(&reader);
    if (decoding) decoding->limitOutput(maxCatalogueBytes);
    int result;
    try {
        if (reader.readChar() != 'd') return E_UNKNOWN_FORMAT;
        reader.readString();  // the root's name is not shown
        reader.seek(7, 1);
        reader.readNumber();
        reader.readNumber();
        CatalogueReading reading(context, reader);
        result = reading.run();
    } catch (const std::bad_alloc&) {
        return E_NO_MEMORY;
    }
    // A catalogue cut at the cap would list as if it were complete.
    if (decoding && decoding->exceededLimit()) return E_NO_MEMORY;
    return result;
}

}  // namespace kiv
