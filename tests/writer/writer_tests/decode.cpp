#include "tests/writer/writer_tests/decode.h"

#include <bzlib.h>
#include <zlib.h>

#include <cstdlib>
#include <functional>

namespace kivcheck {
namespace {

constexpr uint64_t kDataStart = 16;

// The archive integer rule, over any byte source.
uint64_t numberFrom(const std::function<uint8_t()>& next) {
    unsigned z = 0;
    uint8_t b = next();
    while (b == 0) {
        z += 8;
        b = next();
    }
    while (!(b & 0x80)) {
        b = static_cast<uint8_t>(b << 1);
        ++z;
    }
    uint64_t value = 0;
    for (unsigned i = 0; i < 4 * (z + 1); ++i)
        value = value << 8 | next();
    return value;
}

struct PadMarks {
    unsigned radix;
    uint8_t before, after;
};

PadMarks marksOf(const std::string& version) {
    if (std::atoi(version.c_str()) <= 6)
        return {256, '>', '<'};
    return {254, 0xFF, 0xFE};
}

class CatalogueParser {
public:
    explicit CatalogueParser(const Bytes& b) : b_(b) {}

    Catalogue run() {
        Catalogue c;
        if (byte() != 'd')
            throw Malformed("catalogue does not begin with the root record");
        c.rootName = text();
        pos_ += 7;
        number();
        number();
        c.endedByZ = body(c.records, 0);
        c.consumed = pos_;
        return c;
    }

private:
    bool more() const { return pos_ < b_.size(); }
    uint8_t byte() {
        if (!more())
            throw Malformed("catalogue ended inside a record");
        return b_[pos_++];
    }
    uint64_t number() { return numberFrom([this] { return byte(); }); }
    std::string text() {
        std::string s;
        for (uint8_t c; (c = byte()) != 0;)
            s.push_back(static_cast<char>(c));
        return s;
    }
    int16_t big16() {
        uint16_t hi = byte();
        return static_cast<int16_t>(hi << 8 | byte());
    }

    void common(Record& r) {
        r.name = text();
        r.tailCode = static_cast<int8_t>(byte());
        for (int i = 0; i < 6; ++i)
            r.six.push_back(byte());
        r.firstTime = number();
        r.time = number();
        if (r.tailCode == 1) {
            r.tail.push_back(number());
            r.tailBytes.push_back(byte());
            r.tailBytes.push_back(byte());
            r.tail.push_back(number());
        } else if (r.tailCode == 2 || r.tailCode == 4) {
            r.tail.push_back(number());
        }
    }

    // Returns true when the body ended with a 'z'.
    bool body(std::vector<Record>& out, int depth) {
        while (more()) {
            Record r;
            r.depth = depth;
            r.kindByte = byte();
            uint8_t k = r.kindByte;
            if ((k & 0x7F) >= 'A' && (k & 0x7F) <= 'Z')
                k = static_cast<uint8_t>(((k & 0x7F) + ('a' - 'A')) | 0x80);
            r.reference = (k & 0x80) != 0;
            r.kind = static_cast<char>(k & 0x7F);
            switch (r.kind) {
            case 'z':
                return true;
            case 'd':
                common(r);
                out.push_back(r);
                body(out, depth + 1);
                continue;
            case 'f':
            case 'e':
                common(r);
                r.size = number();
                if (!r.reference) {
                    r.dataOffset = number();
                    r.storedSize = number();
                }
                r.checksum = static_cast<uint16_t>(big16());
                if (r.kind == 'e')
                    r.label = number();
                break;
            case 'h':
                r.name = text();
                r.label = number();
                break;
            case 'l':
                common(r);
                if (!r.reference)
                    r.target = text();
                break;
            case 'b':
            case 'c':
                common(r);
                if (!r.reference) {
                    r.first = big16();
                    r.second = big16();
                }
                break;
            case 'p':
            case 's':
                common(r);
                break;
            case 'x':
                r.name = text();
                r.extra = byte();
                break;
            default:
                return false;
            }
            out.push_back(r);
        }
        return false;
    }

    const Bytes& b_;
    size_t pos_ = 0;
};

}  // namespace

View::View(const Bytes& file, std::string password) : file_(file), password_(std::move(password)) {}

uint8_t View::at(uint64_t p) const {
    if (p >= file_.size())
        throw Malformed("read past the end of the file");
    if (password_.empty() || p < kDataStart)
        return file_[p];
    const uint8_t key = static_cast<uint8_t>(password_[(p - kDataStart) % password_.size()]);
    return static_cast<uint8_t>(file_[p] - key);
}

uint64_t View::readNumber(uint64_t& pos) const {
    return numberFrom([&] { return at(pos++); });
}

Bytes View::slice(uint64_t from, uint64_t to) const {
    Bytes out;
    for (uint64_t p = from; p < to; ++p)
        out.push_back(at(p));
    return out;
}

uint64_t decodeNumber(const Bytes& b, size_t& pos) {
    return numberFrom([&]() -> uint8_t {
        if (pos >= b.size())
            throw Malformed("archive integer runs past the end");
        return b[pos++];
    });
}

Header readHeader(const Bytes& file) {
    Header h;
    View v(file);
    h.magic = uint32_t(v.at(0)) << 24 | uint32_t(v.at(1)) << 16 | uint32_t(v.at(2)) << 8 | v.at(3);
    h.sliceFlag = v.at(14);
    uint64_t p = kDataStart;
    for (uint8_t c; (c = v.at(p++)) != 0;)
        h.version.push_back(static_cast<char>(c));
    h.compression = v.at(p++);
    for (uint8_t c; (c = v.at(p++)) != 0;)
        h.headerString.push_back(static_cast<char>(c));
    h.flags = v.at(p++);
    h.end = p;
    return h;
}

std::optional<uint64_t> headPad(const View& v, const std::string& version) {
    const PadMarks mk = marksOf(version);
    uint64_t p = kDataStart;
    auto next = [&]() -> std::optional<uint8_t> {
        if (p >= v.size())
            return std::nullopt;
        return v.at(p++);
    };
    auto c = next();
    if (!c)
        return std::nullopt;
    if (*c == 'X')
        return 1;
    unsigned count = 1;
    uint64_t value = 0, weight = 1;  // the weight runs on across groups
    for (;;) {
        while (*c != mk.before) {
            if (!(c = next()))
                return std::nullopt;
            ++count;
        }
        if (!(c = next()))
            return std::nullopt;
        if (*c == mk.after)
            return count == 1 ? std::optional<uint64_t>(2) : std::nullopt;
        for (unsigned digits = 1;; ++digits) {
            value += *c * weight;
            weight *= mk.radix;
            if (!(c = next()))
                return std::nullopt;
            if (*c == mk.after)
                break;
            if (digits == 4)
                return std::nullopt;
        }
        if (value != 0)
            return value;
        count = 1;  // the closing mark counts as the first byte again
    }
}

std::optional<uint64_t> tailPad(const View& v, const std::string& version) {
    const PadMarks mk = marksOf(version);
    uint64_t p = v.size();
    auto prev = [&]() -> std::optional<uint8_t> {
        if (p <= kDataStart)
            return std::nullopt;
        return v.at(--p);
    };
    auto c = prev();
    if (!c)
        return std::nullopt;
    if (*c == 'X')
        return 1;
    unsigned count = 1;
    for (;;) {
        while (*c != mk.after) {
            if (!(c = prev()))
                return std::nullopt;
            ++count;
        }
        if (!(c = prev()))
            return std::nullopt;
        if (*c == mk.before)
            return count == 1 ? std::optional<uint64_t>(2) : std::nullopt;
        uint64_t value = 0;  // each group starts from 0
        for (unsigned digits = 1;; ++digits) {
            value = value * mk.radix + *c;
            if (!(c = prev()))
                return std::nullopt;
            if (*c == mk.before)
                break;
            if (digits == 4)
                return std::nullopt;
        }
        if (value != 0)
            return value;
        count += 2;  // a pair can no longer qualify
    }
}

Terminator readTerminator(const View& v, uint64_t end) {
    Terminator t;
    uint64_t p = end;
    unsigned fill = 0;
    uint8_t c;
    while ((c = v.at(--p)) == 0xFF)
        ++fill;
    t.countPos = p;
    t.m = 8 * fill;
    for (uint8_t b = c; b != 0; b = static_cast<uint8_t>(b << 1)) {
        if (!(b & 0x80))
            throw Malformed("count byte is not a run of one-bits");
        ++t.m;
    }
    t.offsetPos = t.countPos - 4 * uint64_t(t.m);
    uint64_t q = t.offsetPos;
    t.catalogueOffset = v.readNumber(q);
    t.offsetEnd = q;
    return t;
}

Catalogue parseCatalogue(const Bytes& bytes) { return CatalogueParser(bytes).run(); }

Bytes zlibInflate(const Bytes& stream, size_t* consumed) {
    for (uLongf room = 4096 + 4 * stream.size();; room *= 2) {
        Bytes out(room);
        uLong sourceLength = static_cast<uLong>(stream.size());
        const int rc = uncompress2(out.data(), &room, stream.data(), &sourceLength);
        if (rc == Z_BUF_ERROR && room == out.size())
            continue;
        if (rc != Z_OK)
            throw Malformed("zlib stream does not decompress: " + std::to_string(rc));
        out.resize(room);
        if (consumed)
            *consumed = sourceLength;
        return out;
    }
}

Bytes bzip2Decompress(const Bytes& stream) {
    for (unsigned room = 4096 + 8 * static_cast<unsigned>(stream.size());; room *= 2) {
        Bytes out(room);
        unsigned length = room;
        const int rc = BZ2_bzBuffToBuffDecompress(
            reinterpret_cast<char*>(out.data()), &length,
            const_cast<char*>(reinterpret_cast<const char*>(stream.data())),
            static_cast<unsigned>(stream.size()), 0, 0);
        if (rc == BZ_OUTBUFF_FULL)
            continue;
        if (rc != BZ_OK)
            throw Malformed("bzip2 stream does not decompress: " + std::to_string(rc));
        out.resize(length);
        return out;
    }
}

Archive readArchive(const Bytes& file, const std::string& password) {
    Archive a;
    a.header = readHeader(file);
    View v(file, password);
    if (!password.empty()) {
        auto head = headPad(v, a.header.version);
        auto tail = tailPad(v, a.header.version);
        if (!head || !tail)
            throw Malformed("pads not found");
        a.headPad = *head;
        a.tailPad = *tail;
    }
    a.terminator = readTerminator(v, file.size() - a.tailPad);
    a.catalogueStart = kDataStart + a.terminator.catalogueOffset;
    // The catalogue lies between its start and the terminator.
    const Bytes stored = v.slice(a.catalogueStart, a.terminator.offsetPos);
    switch (a.header.compression) {
    case 'z':
    case 'p':
        a.catalogue = parseCatalogue(zlibInflate(stored));
        break;
    case 'y':
        a.catalogue = parseCatalogue(bzip2Decompress(stored));
        break;
    default:
        a.catalogue = parseCatalogue(stored);
    }
    return a;
}

Bytes fileData(const Bytes& file, const Archive& a, const Record& r, const std::string& password) {
    View v(file, password);
    const uint64_t start = kDataStart + r.dataOffset;
    if (r.storedSize == 0)
        return v.slice(start, start + r.size);
    const Bytes stored = v.slice(start, start + r.storedSize);
    return a.header.compression == 'y' ? bzip2Decompress(stored) : zlibInflate(stored);
}

}  // namespace kivcheck
