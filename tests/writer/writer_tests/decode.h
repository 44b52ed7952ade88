// A small reader of the archive format, written from the reading side and
// independent of the writer, so the writer's tests check its output against
// the format rather than against its own code.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/writer/archive_writer.h"

namespace kivcheck {

using kivtest::Bytes;

struct Malformed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The archive as the reader sees it: with a password, every byte from
// offset 16 on minus the password byte its distance from 16 selects.
class View {
public:
    explicit View(const Bytes& file, std::string password = "");
    uint64_t size() const { return file_.size(); }
    uint8_t at(uint64_t p) const;
    // One archive integer starting at pos; pos ends after it.
    uint64_t readNumber(uint64_t& pos) const;
    Bytes slice(uint64_t from, uint64_t to) const;

private:
    const Bytes& file_;
    std::string password_;
};

uint64_t decodeNumber(const Bytes& b, size_t& pos);

struct Header {
    uint32_t magic = 0;
    uint8_t sliceFlag = 0;
    std::string version;
    uint8_t compression = 0;
    std::string headerString;
    uint8_t flags = 0;
    uint64_t end = 0;  // file offset after the flags byte
};
Header readHeader(const Bytes& file);  // always plain

// Pad lengths as the scan finds them; nullopt where the scan fails.
std::optional<uint64_t> headPad(const View& v, const std::string& version);
std::optional<uint64_t> tailPad(const View& v, const std::string& version);

struct Terminator {
    uint64_t countPos = 0;    // file offset of the count byte
    unsigned m = 0;
    uint64_t offsetPos = 0;   // file offset where the catalogue offset begins
    uint64_t offsetEnd = 0;   // file offset after it
    uint64_t catalogueOffset = 0;
};
// Reads the terminator backward from `end` (exclusive).
Terminator readTerminator(const View& v, uint64_t end);

struct Record {
    uint8_t kindByte = 0;
    char kind = 0;            // normalised lower-case letter
    bool reference = false;
    int depth = 0;            // 0: in the root directory
    std::string name;
    int8_t tailCode = 0;
    Bytes six;
    uint64_t firstTime = 0, time = 0;
    std::vector<uint64_t> tail;
    Bytes tailBytes;
    uint64_t size = 0, dataOffset = 0, storedSize = 0, label = 0;
    uint16_t checksum = 0;
    std::string target;
    int16_t first = 0, second = 0;
    uint8_t extra = 0;
};

struct Catalogue {
    std::string rootName;
    std::vector<Record> records;
    bool endedByZ = false;    // the top level ended with its 'z'
    size_t consumed = 0;      // catalogue bytes read
};
// Reads records the way the reading side does; stops at the end of `bytes`.
Catalogue parseCatalogue(const Bytes& bytes);

Bytes zlibInflate(const Bytes& stream, size_t* consumed = nullptr);
Bytes bzip2Decompress(const Bytes& stream);

// Everything at once: header, pads, terminator, catalogue (decompressed).
struct Archive {
    Header header;
    uint64_t headPad = 0, tailPad = 0;
    Terminator terminator;
    uint64_t catalogueStart = 0;  // file offset
    Catalogue catalogue;
};
Archive readArchive(const Bytes& file, const std::string& password = "");
// The data of a stored file record, decompressed as its stored size says.
Bytes fileData(const Bytes& file, const Archive& a, const Record& r,
               const std::string& password = "");

}  // namespace kivcheck
