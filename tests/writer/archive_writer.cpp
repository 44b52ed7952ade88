// Archive-wide settings and the layout of a whole archive file.
#include "tests/writer/archive_writer.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "tests/writer/pads.h"

namespace kivtest {
namespace {

constexpr uint64_t kSliceHeaderSize = 16;
// An explicit data offset further away than this is only recorded, not
// filled up to: tests use far offsets to point past the end of the file.
constexpr uint64_t kMaxDataJump = uint64_t(64) << 20;

void append(Bytes& out, const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); }

Bytes sliceHeader(uint32_t magic, uint8_t sliceFlag) {
    Bytes out = {static_cast<uint8_t>(magic >> 24), static_cast<uint8_t>(magic >> 16),
                 static_cast<uint8_t>(magic >> 8), static_cast<uint8_t>(magic)};
    out.insert(out.end(), 10, 0x00);
    out.push_back(sliceFlag);
    out.push_back(0x00);
    return out;
}

Bytes archiveHeader(const std::string& version, uint8_t compression,
                    const std::string& headerString, uint8_t flags) {
    Bytes out(version.begin(), version.end());
    out.push_back(0);
    out.push_back(compression);
    out.insert(out.end(), headerString.begin(), headerString.end());
    out.push_back(0);
    out.push_back(flags);
    return out;
}

}  // namespace

ArchiveWriter::ArchiveWriter() = default;

ArchiveWriter& ArchiveWriter::version(const std::string& v) { version_ = v; return *this; }
ArchiveWriter& ArchiveWriter::compression(uint8_t code) { compression_ = code; return *this; }
ArchiveWriter& ArchiveWriter::bzip2Level(int level) { bzip2Level_ = level; return *this; }
ArchiveWriter& ArchiveWriter::headerString(const std::string& s) { headerString_ = s; return *this; }
ArchiveWriter& ArchiveWriter::flags(uint8_t f) { flags_ = f; return *this; }
ArchiveWriter& ArchiveWriter::sliceFlag(uint8_t c) { sliceFlag_ = c; return *this; }
ArchiveWriter& ArchiveWriter::magic(uint32_t m) { magic_ = m; return *this; }
ArchiveWriter& ArchiveWriter::terminator(const TerminatorOptions& t) { terminator_ = t; return *this; }
ArchiveWriter& ArchiveWriter::rootName(const std::string& name) { rootName_ = name; return *this; }
ArchiveWriter& ArchiveWriter::rootKind(uint8_t kind) { rootKind_ = kind; return *this; }
ArchiveWriter& ArchiveWriter::finalEnd(bool write) { finalEnd_ = write; return *this; }
ArchiveWriter& ArchiveWriter::dataGap(uint64_t bytes) { dataGap_ = bytes; return *this; }
ArchiveWriter& ArchiveWriter::catalogueStream(const Bytes& b) { catalogueStream_ = b; return *this; }
ArchiveWriter& ArchiveWriter::trailingBytes(const Bytes& b) { trailing_ = b; return *this; }

ArchiveWriter& ArchiveWriter::scramble(const ScrambleOptions& s) {
    scramble_ = s;
    flags_ |= 0x20;
    return *this;
}

Bytes ArchiveWriter::headerBytes() const {
    return archiveHeader(version_, compression_, headerString_, flags_);
}

uint8_t ArchiveWriter::headKeyByte(size_t index, uint8_t wanted) const {
    const uint8_t f = scramble_ ? flags_ : static_cast<uint8_t>(flags_ | 0x20);
    const Bytes header = archiveHeader(version_, compression_, headerString_, f);
    if (index >= header.size())
        throw std::invalid_argument("headKeyByte: index lies beyond the archive header");
    return static_cast<uint8_t>(header[index] - wanted);
}

bool ArchiveWriter::compressed() const {
    return compression_ == 'z' || compression_ == 'p' || compression_ == 'y';
}

Bytes ArchiveWriter::compressStream(const Bytes& plain) const {
    return compression_ == 'y' ? bzip2Compress(plain, bzip2Level_) : zlibCompress(plain);
}

Bytes ArchiveWriter::encodeTerminator(uint64_t catalogueOffset) const {
    const TerminatorOptions& t = terminator_;
    if (t.k > 7)
        throw std::invalid_argument("terminator: k must be 0..7");
    const uint64_t m = 8 * uint64_t(t.fill) + t.k;
    Bytes out = encodeNumber(catalogueOffset, t.offsetBytes);
    if (4 * m < out.size())
        throw std::invalid_argument("terminator: the catalogue offset (" +
                                    std::to_string(out.size()) + " bytes) does not fit in 4*m = " +
                                    std::to_string(4 * m) + " bytes; raise k or fill");
    out.insert(out.end(), 4 * m - out.size(), t.gapByte);
    const uint8_t count = static_cast<uint8_t>(0xFF00u >> t.k);
    out.push_back(t.countByteOverride.value_or(count));
    out.insert(out.end(), t.fill, 0xFF);
    return out;
}

Bytes ArchiveWriter::build() const {
    Layout layout;
    const Bytes header = headerBytes();
    // `body` starts at the data start; its offsets are the archive's relative offsets.
    Bytes body = header;

    if (scramble_) {
        if (scramble_->password.empty())
            throw std::invalid_argument("scramble: the password must not be empty");
        detail::Pad head = detail::makeHeadPad(scramble_->head, padParameters(version_), header,
                                               scramble_->password);
        append(body, head.bytes);
        layout.headPadLength = head.length;
    }
    // A SingleX or EdgePair head pad is shorter than the header it lies in.
    body.resize(std::max<uint64_t>(body.size(), layout.headPadLength) + dataGap_, 0x00);

    std::vector<Placement> placements(items_.size());
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        if (item.type != ItemType::File && item.type != ItemType::LinkTarget)
            continue;
        const RecordOptions& o = item.options;
        const bool compress = compressed() && !o.storedPlain;
        Bytes stored = compress ? compressStream(item.data) : item.data;
        Placement& p = placements[i];
        p.storedSize = o.storedSizeOverride.value_or(compress ? stored.size() : 0);
        if (o.truncateData)
            stored.resize(stored.size() / 2);
        p.offset = o.dataOffset.value_or(body.size());
        if (p.offset >= body.size() && p.offset - body.size() <= kMaxDataJump) {
            body.resize(p.offset, 0x00);
            append(body, stored);
        }
        layout.dataOffsets.push_back(p.offset);
    }

    Bytes catalogue;
    if (catalogueStream_) {
        catalogue = *catalogueStream_;
    } else {
        catalogue = encodeCatalogue(placements);
        if (compressed())
            catalogue = compressStream(catalogue);
    }
    const uint64_t catalogueOffset = body.size();
    append(body, catalogue);
    const uint64_t terminatorOffset = body.size();
    append(body, encodeTerminator(terminator_.offsetOverride.value_or(catalogueOffset)));

    if (scramble_) {
        detail::Pad tail = detail::makeTailPad(scramble_->tail, padParameters(version_));
        append(body, tail.bytes);
        layout.tailPadLength = tail.length;
    }
    append(body, trailing_);
    if (scramble_)
        detail::scrambleBody(body, header.size(), scramble_->password);

    Bytes out = sliceHeader(magic_, sliceFlag_);
    append(out, body);
    layout.catalogueStart = kSliceHeaderSize + catalogueOffset;
    layout.terminatorStart = kSliceHeaderSize + terminatorOffset;
    layout_ = layout;
    return out;
}

void ArchiveWriter::writeTo(const std::string& path) const {
    const Bytes bytes = build();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("ArchiveWriter: cannot write " + path);
}

}  // namespace kivtest
