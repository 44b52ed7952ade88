// Catalogue side of the writer: collecting records and encoding them.
#include "tests/writer/archive_writer.h"

#include <cctype>

namespace kivtest {
namespace {

void append(Bytes& out, const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); }

void appendText(Bytes& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

void appendBig16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

// Reference records default to the upper-case letter; the options may ask
// for the top-bit form, or both, and stored records may be given either.
uint8_t kindByte(uint8_t letter, const RecordOptions& o, bool reference) {
    uint8_t b = letter;
    if (o.upperCase || (reference && !o.topBit))
        b = static_cast<uint8_t>(std::toupper(b));
    if (o.topBit)
        b |= 0x80;
    return b;
}

RecordOptions asReference(RecordOptions o) {
    if (!o.upperCase && !o.topBit)
        o.upperCase = true;
    return o;
}

}  // namespace

ArchiveWriter& ArchiveWriter::add(Item item) {
    items_.push_back(std::move(item));
    return *this;
}

ArchiveWriter& ArchiveWriter::dir(const std::string& name, uint64_t time, const RecordOptions& o) {
    return add({ItemType::Dir, 'd', name, {}, {}, time, 0, 0, 0, 0, 0, 0, o});
}

ArchiveWriter& ArchiveWriter::end() {
    return add({ItemType::End, 'z', {}, {}, {}, 0, 0, 0, 0, 0, 0, 0, {}});
}

ArchiveWriter& ArchiveWriter::file(const std::string& name, const std::string& data, uint64_t time,
                                   const RecordOptions& o) {
    return file(name, toBytes(data), time, o);
}

ArchiveWriter& ArchiveWriter::file(const std::string& name, const Bytes& data, uint64_t time,
                                   const RecordOptions& o) {
    return add({ItemType::File, 'f', name, data, {}, time, 0, 0, 0, 0, 0, 0, o});
}

ArchiveWriter& ArchiveWriter::refFile(const std::string& name, uint64_t size, uint16_t sum,
                                      uint64_t time, RecordOptions o) {
    return add({ItemType::RefFile, 'f', name, {}, {}, time, size, sum, 0, 0, 0, 0, asReference(o)});
}

ArchiveWriter& ArchiveWriter::linkTarget(const std::string& name, const std::string& data,
                                         uint64_t label, uint64_t time, const RecordOptions& o) {
    return add({ItemType::LinkTarget, 'e', name, toBytes(data), {}, time, 0, 0, label, 0, 0, 0, o});
}

ArchiveWriter& ArchiveWriter::refLinkTarget(const std::string& name, uint64_t size, uint16_t sum,
                                            uint64_t label, uint64_t time, RecordOptions o) {
    return add({ItemType::RefLinkTarget, 'e', name, {}, {}, time, size, sum, label, 0, 0, 0,
                asReference(o)});
}

ArchiveWriter& ArchiveWriter::hardLink(const std::string& name, uint64_t label,
                                       const RecordOptions& o) {
    return add({ItemType::HardLink, 'h', name, {}, {}, 0, 0, 0, label, 0, 0, 0, o});
}

ArchiveWriter& ArchiveWriter::symlink(const std::string& name, const std::string& target,
                                      uint64_t time, const RecordOptions& o) {
    return add({ItemType::Symlink, 'l', name, {}, target, time, 0, 0, 0, 0, 0, 0, o});
}

ArchiveWriter& ArchiveWriter::refSymlink(const std::string& name, uint64_t time, RecordOptions o) {
    return add({ItemType::RefSymlink, 'l', name, {}, {}, time, 0, 0, 0, 0, 0, 0, asReference(o)});
}

ArchiveWriter& ArchiveWriter::device(uint8_t kind, const std::string& name, int16_t first,
                                     int16_t second, uint64_t time, const RecordOptions& o) {
    return add({ItemType::Device, kind, name, {}, {}, time, 0, 0, 0, first, second, 0, o});
}

ArchiveWriter& ArchiveWriter::refDevice(uint8_t kind, const std::string& name, uint64_t time,
                                        RecordOptions o) {
    return add({ItemType::RefDevice, kind, name, {}, {}, time, 0, 0, 0, 0, 0, 0, asReference(o)});
}

ArchiveWriter& ArchiveWriter::special(uint8_t kind, const std::string& name, uint64_t time,
                                      const RecordOptions& o) {
    return add({ItemType::Special, kind, name, {}, {}, time, 0, 0, 0, 0, 0, 0, o});
}

ArchiveWriter& ArchiveWriter::deleted(const std::string& name, uint8_t extra,
                                      const RecordOptions& o) {
    return add({ItemType::Deleted, 'x', name, {}, {}, 0, 0, 0, 0, 0, 0, extra, o});
}

ArchiveWriter& ArchiveWriter::raw(const Bytes& b) {
    return add({ItemType::Raw, 0, {}, b, {}, 0, 0, 0, 0, 0, 0, 0, {}});
}

Bytes ArchiveWriter::encodeCommonHeader(const Item& item) const {
    const RecordOptions& o = item.options;
    const unsigned w = o.numberBytes;
    Bytes out;
    appendText(out, item.name);
    out.push_back(static_cast<uint8_t>(o.tailCode));
    out.insert(out.end(), o.sixBytes, o.sixBytes + 6);
    append(out, encodeNumber(o.firstTime, w));
    append(out, encodeNumber(item.time, w));
    if (o.tailCode == 1) {
        append(out, encodeNumber(o.tailNumbers[0], w));
        out.insert(out.end(), o.tailBytes, o.tailBytes + 2);
        append(out, encodeNumber(o.tailNumbers[1], w));
    } else if (o.tailCode == 2 || o.tailCode == 4) {
        append(out, encodeNumber(o.tailNumbers[0], w));
    }
    return out;
}

Bytes ArchiveWriter::encodeRecord(const Item& item, const Placement* placement) const {
    const RecordOptions& o = item.options;
    const unsigned w = o.numberBytes;
    Bytes out;
    switch (item.type) {
    case ItemType::End:
        out.push_back('z');
        break;
    case ItemType::Raw:
        append(out, item.data);
        break;
    case ItemType::HardLink:
        out.push_back(kindByte('h', o, false));
        appendText(out, item.name);
        append(out, encodeNumber(item.label, w));
        break;
    case ItemType::Deleted:
        out.push_back(kindByte('x', o, false));
        appendText(out, item.name);
        out.push_back(item.extra);
        break;
    case ItemType::File:
    case ItemType::LinkTarget:
        out.push_back(kindByte(item.kind, o, false));
        append(out, encodeCommonHeader(item));
        append(out, encodeNumber(o.sizeOverride.value_or(item.data.size()), w));
        append(out, encodeNumber(placement->offset, w));
        append(out, encodeNumber(placement->storedSize, w));
        appendBig16(out, o.checksumOverride.value_or(checksum(item.data)));
        if (item.type == ItemType::LinkTarget)
            append(out, encodeNumber(item.label, w));
        break;
    case ItemType::RefFile:
    case ItemType::RefLinkTarget:
        out.push_back(kindByte(item.kind, o, true));
        append(out, encodeCommonHeader(item));
        append(out, encodeNumber(item.size, w));
        appendBig16(out, o.checksumOverride.value_or(item.checksum));
        if (item.type == ItemType::RefLinkTarget)
            append(out, encodeNumber(item.label, w));
        break;
    case ItemType::Symlink:
        out.push_back(kindByte('l', o, false));
        append(out, encodeCommonHeader(item));
        appendText(out, item.target);
        break;
    case ItemType::Device:
        out.push_back(kindByte(item.kind, o, false));
        append(out, encodeCommonHeader(item));
        appendBig16(out, static_cast<uint16_t>(item.first));
        appendBig16(out, static_cast<uint16_t>(item.second));
        break;
    case ItemType::RefSymlink:
    case ItemType::RefDevice:
        out.push_back(kindByte(item.kind, o, true));
        append(out, encodeCommonHeader(item));
        break;
    case ItemType::Dir:
    case ItemType::Special:
        out.push_back(kindByte(item.kind, o, false));
        append(out, encodeCommonHeader(item));
        break;
    }
    return out;
}

Bytes ArchiveWriter::encodeCatalogue(const std::vector<Placement>& placements) const {
    // The root record: kind, name, seven bytes in place of the tail code and
    // the six bytes, first time, entry time; no tail.
    Bytes out;
    out.push_back(rootKind_);
    appendText(out, rootName_);
    out.insert(out.end(), 7, 0x00);
    append(out, encodeNumber(0));
    append(out, encodeNumber(0));
    for (size_t i = 0; i < items_.size(); ++i)
        append(out, encodeRecord(items_[i], &placements[i]));
    if (finalEnd_)
        out.push_back('z');
    return out;
}

}  // namespace kivtest
