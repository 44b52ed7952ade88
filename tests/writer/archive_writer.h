// Test archive writer: builds any kiv archive a test needs from a short
// C++ description, so no test depends on a binary fixture.
//
//   kivtest::ArchiveWriter w;                 // version "08", 'n', unscrambled
//   w.dir("sub").file("a.txt", "abc").end();  // sub, sub\a.txt
//   w.symlink("l", "../t");
//   kivtest::Bytes bytes = w.build();         // or w.writeTo(path)
//
// The writer lays out: slice header (16 bytes), archive header, file data,
// catalogue, terminator; for scrambled archives the head pad covers the
// header and the tail pad follows the terminator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivtest {

using Bytes = std::vector<uint8_t>;

// One archive integer: an optional run of 00 bytes, a width byte, then
// 4 * (z + 1) value bytes, most significant first. valueBytes must be a
// positive multiple of 4; extraLowBits are ORed into the width byte below
// its top one-bit (they carry nothing and must be ignored by readers).
Bytes encodeNumber(uint64_t value, unsigned valueBytes = 4, uint8_t extraLowBits = 0);

// zlib / bzip2 streams of `data` (whole streams, as the archive stores them).
Bytes zlibCompress(const Bytes& data);
Bytes bzip2Compress(const Bytes& data, int level = 9);
// A zlib stream of head, `copies` times unit, then tail, made in time for a
// few units whatever the count: stand-in for a catalogue that expands a
// thousandfold. Throws std::runtime_error if the units cannot be repeated.
Bytes zlibRepeated(const Bytes& head, const Bytes& unit, uint64_t copies, const Bytes& tail);

// XOR checksum of entry data as the catalogue stores it: high byte = XOR of
// bytes at even positions, low byte = XOR of bytes at odd positions.
uint16_t checksum(const Bytes& data);

Bytes toBytes(const std::string& s);

// Per-record options. Defaults give an ordinary stored record.
struct RecordOptions {
    bool upperCase = false;      // reference form written as the upper-case letter
    bool topBit = false;         // reference form written with the top bit set
    int8_t tailCode = 0;         // 1, 2, 4 carry tail fields; anything else none
    uint64_t firstTime = 0;
    uint64_t tailNumbers[2] = {0, 0};
    uint8_t tailBytes[2] = {0, 0};  // the two bytes between the numbers of tail code 1
    unsigned numberBytes = 4;    // value width of every archive integer in this record
    uint8_t sixBytes[6] = {0, 0, 0, 0, 0, 0};
    std::optional<uint16_t> checksumOverride;  // write this instead of the real checksum
    // Place data here (relative to the data start). The bytes are written there
    // when the offset lies at or after the data already placed (the gap is
    // zero-filled, up to 64 MiB); otherwise only the record carries the offset.
    std::optional<uint64_t> dataOffset;
    std::optional<uint64_t> sizeOverride;      // size field differs from the data's length
    bool storedPlain = false;    // in a compressed archive: store the data uncompressed (stored size 0)
    std::optional<uint64_t> storedSizeOverride;
    bool truncateData = false;   // write only the first half of the (compressed) data bytes
};

// Terminator layout: the catalogue offset as an archive integer, then the
// count byte with k one-bits, then `fill` bytes FF. The offset begins
// 4 * (8 * fill + k) bytes before the count byte; bytes left over between
// its end and the count byte are `gapByte`.
struct TerminatorOptions {
    unsigned k = 2;
    unsigned fill = 0;
    unsigned offsetBytes = 4;     // value width of the catalogue offset
    uint8_t gapByte = 0x00;
    std::optional<uint64_t> offsetOverride;  // write this instead of the real catalogue offset
    std::optional<uint8_t> countByteOverride;
};

// How a pad is written (scrambled archives). Pad bytes are described as the
// reader sees them through the unscrambling.
//   SingleX:  the pad is one byte 'X'. For the head pad that byte is the first
//             header byte, so the password must make it read as 'X'
//             (see ArchiveWriter::headKeyByte).
//   EdgePair: markBefore markAfter at the outer edge (head: the first two
//             header bytes, again chosen through the password).
//   Digits:   head: header, filler, [zero groups], markBefore digits markAfter;
//             tail: markBefore digits markAfter, [zero groups], filler.
//             The writer lengthens the filler until the pad length is
//             representable (head zero groups weight later digits, so the head
//             length becomes a multiple of radix^(zero digits)) and no digit
//             equals a mark; it throws std::invalid_argument when it cannot.
struct PadOptions {
    enum Form { SingleX, EdgePair, Digits } form = Digits;
    unsigned digits = 2;          // 1..4 (Digits form); 0 or more than 4 build a malformed pad
    unsigned zeroGroups = 0;      // zero-valued digit groups before the real one (in scan order)
    unsigned filler = 5;          // extra filler bytes (beyond the plain header, for the head pad)
};

// A Digits pad with these fields, the form most tests vary.
inline PadOptions digits(unsigned count, unsigned zeroGroups = 0, unsigned filler = 5) {
    PadOptions p;
    p.form = PadOptions::Digits;
    p.digits = count;
    p.zeroGroups = zeroGroups;
    p.filler = filler;
    return p;
}

struct ScrambleOptions {
    std::string password;
    PadOptions head;
    PadOptions tail;
};

// Pad parameters of a format version (its leading number, as atoi reads it):
// up to 6 radix 256 with '>' '<', from 7 on radix 254 with FF FE.
struct PadParameters {
    unsigned radix;
    uint8_t markBefore;
    uint8_t markAfter;
};
PadParameters padParameters(const std::string& version);

class ArchiveWriter {
public:
    ArchiveWriter();

    // Archive-wide settings.
    ArchiveWriter& version(const std::string& v);        // default "08"
    ArchiveWriter& compression(uint8_t code);            // 'n' (default), 'z', 'p', 'y' or any byte
    ArchiveWriter& bzip2Level(int level);                // 1-9 (default 9): blocks of level x 100,000 bytes
    ArchiveWriter& headerString(const std::string& s);   // default ""
    ArchiveWriter& flags(uint8_t f);                     // default 0; scramble() sets 0x20
    ArchiveWriter& sliceFlag(uint8_t c);                 // default 'T'
    ArchiveWriter& magic(uint32_t m);                    // default 123
    // Stores every byte after the plain header as plain + password byte and
    // frames the data with the two pads. ORs 0x20 into the flags (a later
    // flags() call decides alone). build() throws std::invalid_argument when
    // the pads cannot be laid out as asked.
    ArchiveWriter& scramble(const ScrambleOptions& s);
    ArchiveWriter& terminator(const TerminatorOptions& t);
    ArchiveWriter& rootName(const std::string& name);    // dropped by readers
    ArchiveWriter& rootKind(uint8_t kind);               // default 'd'
    ArchiveWriter& finalEnd(bool write);                 // default true: the catalogue's last 'z'
    ArchiveWriter& dataGap(uint64_t bytes);              // zero bytes between header (or head pad) and first data
    // Stores these bytes as the catalogue, instead of the records encoded
    // (and compressed) by the writer.
    ArchiveWriter& catalogueStream(const Bytes& b);
    ArchiveWriter& trailingBytes(const Bytes& b);        // appended after everything (tail pad included);
                                                         // scrambled like all other bytes

    // Catalogue records, in order. Times are seconds since 1970 (entry time).
    ArchiveWriter& dir(const std::string& name, uint64_t time = 0, const RecordOptions& o = {});
    ArchiveWriter& end();                                 // 'z': closes the current directory
    // Records are written exactly in the order given: a dir() is closed only by
    // its end(); build() adds nothing but the final 'z' (finalEnd).
    // The options' upperCase/topBit pick the kind byte only; the fields follow
    // the function (a stored file() with upperCase makes a deliberately
    // inconsistent record). Reference functions default to the upper-case form.
    ArchiveWriter& file(const std::string& name, const std::string& data, uint64_t time = 0,
                        const RecordOptions& o = {});
    ArchiveWriter& file(const std::string& name, const Bytes& data, uint64_t time = 0,
                        const RecordOptions& o = {});
    // Reference file ('F' or top bit): size and checksum only, no data.
    ArchiveWriter& refFile(const std::string& name, uint64_t size, uint16_t checksum,
                           uint64_t time = 0, RecordOptions o = {});
    // 'e' record: a file later hard links point at through `label`.
    ArchiveWriter& linkTarget(const std::string& name, const std::string& data, uint64_t label,
                              uint64_t time = 0, const RecordOptions& o = {});
    ArchiveWriter& refLinkTarget(const std::string& name, uint64_t size, uint16_t checksum,
                                 uint64_t label, uint64_t time = 0, RecordOptions o = {});
    ArchiveWriter& hardLink(const std::string& name, uint64_t label, const RecordOptions& o = {});
    ArchiveWriter& symlink(const std::string& name, const std::string& target, uint64_t time = 0,
                           const RecordOptions& o = {});
    ArchiveWriter& refSymlink(const std::string& name, uint64_t time = 0, RecordOptions o = {});
    // kind 'b' or 'c'.
    ArchiveWriter& device(uint8_t kind, const std::string& name, int16_t first, int16_t second,
                          uint64_t time = 0, const RecordOptions& o = {});
    ArchiveWriter& refDevice(uint8_t kind, const std::string& name, uint64_t time = 0,
                             RecordOptions o = {});
    // kind 'p' or 's'.
    ArchiveWriter& special(uint8_t kind, const std::string& name, uint64_t time = 0,
                           const RecordOptions& o = {});
    ArchiveWriter& deleted(const std::string& name, uint8_t extra = 0, const RecordOptions& o = {});
    // Raw catalogue bytes, inserted as they are (unknown kinds, damage).
    ArchiveWriter& raw(const Bytes& b);

    Bytes build() const;
    void writeTo(const std::string& path) const;

    // Where the last build put things (absolute file offsets).
    struct Layout {
        uint64_t catalogueStart = 0;
        uint64_t terminatorStart = 0;
        uint64_t headPadLength = 0;
        uint64_t tailPadLength = 0;
        std::vector<uint64_t> dataOffsets;   // per data-carrying record, relative to the data start
    };
    const Layout& layout() const { return layout_; }

    // The plain archive header as it will be written (version NUL, compression,
    // header string NUL, flags).
    Bytes headerBytes() const;
    // The password byte for key index `index` that makes header byte `index`
    // read as `wanted` through the unscrambling: headKeyByte(0, 'X') gives a
    // SingleX head pad; headKeyByte(0, markBefore) and headKeyByte(1, markAfter)
    // give an EdgePair. Uses the header as configured now, with the scramble
    // flag set even if scramble() has not been called yet.
    uint8_t headKeyByte(size_t index, uint8_t wanted) const;

private:
    enum class ItemType {
        Dir, End, File, RefFile, LinkTarget, RefLinkTarget, HardLink,
        Symlink, RefSymlink, Device, RefDevice, Special, Deleted, Raw
    };
    struct Item {
        ItemType type;
        uint8_t kind = 0;          // lower-case letter; the options pick the written form
        std::string name;
        Bytes data;                // file data, or raw catalogue bytes
        std::string target;        // symbolic link target
        uint64_t time = 0;
        uint64_t size = 0;         // reference files
        uint16_t checksum = 0;     // reference files
        uint64_t label = 0;
        int16_t first = 0, second = 0;
        uint8_t extra = 0;
        RecordOptions options;
    };
    // Data placement of one data-carrying item, decided before the catalogue is encoded.
    struct Placement {
        uint64_t offset = 0;
        uint64_t storedSize = 0;
    };

    ArchiveWriter& add(Item item);
    Bytes encodeCatalogue(const std::vector<Placement>& placements) const;
    Bytes encodeRecord(const Item& item, const Placement* placement) const;
    Bytes encodeCommonHeader(const Item& item) const;
    Bytes encodeTerminator(uint64_t catalogueOffset) const;
    bool compressed() const;
    Bytes compressStream(const Bytes& plain) const;

    std::vector<Item> items_;
    std::string version_ = "08";
    uint8_t compression_ = 'n';
    int bzip2Level_ = 9;
    std::string headerString_;
    uint8_t flags_ = 0;
    uint8_t sliceFlag_ = 'T';
    uint32_t magic_ = 123;
    std::optional<ScrambleOptions> scramble_;
    TerminatorOptions terminator_;
    std::string rootName_;
    uint8_t rootKind_ = 'd';
    bool finalEnd_ = true;
    uint64_t dataGap_ = 0;
    Bytes trailing_;
    std::optional<Bytes> catalogueStream_;
    mutable Layout layout_;
};

}  // namespace kivtest
