#include "tests/writer/pads.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace kivtest {

PadParameters padParameters(const std::string& version) {
    if (std::atoi(version.c_str()) <= 6)
        return {256, '>', '<'};
    return {254, 0xFF, 0xFE};
}

namespace detail {
namespace {

// Large pads cost memory in every test that builds them; nothing needs more.
constexpr uint64_t kMaxPadLength = uint64_t(64) << 20;

[[noreturn]] void fail(const std::string& what) {
    throw std::invalid_argument("ArchiveWriter pad: " + what);
}

// Filler bytes avoid both marks and 'X', so they never end or start a pad.
uint8_t fillerByte(size_t i) { return static_cast<uint8_t>('a' + i % 26); }

// `count` base-radix digits of value, least significant first; nullopt when
// the value needs more digits.
std::optional<Bytes> toDigits(uint64_t value, unsigned count, unsigned radix) {
    Bytes digits;
    for (unsigned i = 0; i < count; ++i) {
        digits.push_back(static_cast<uint8_t>(value % radix));
        value /= radix;
    }
    if (value != 0)
        return std::nullopt;
    return digits;
}

bool hitsMark(const Bytes& digits, const PadParameters& p) {
    return std::any_of(digits.begin(), digits.end(),
                       [&](uint8_t d) { return d == p.markBefore || d == p.markAfter; });
}

unsigned zeroGroupDigits(const PadOptions& o) { return std::clamp(o.digits, 1u, 4u); }

void appendGroup(Bytes& out, const PadParameters& p, const Bytes& digits) {
    out.push_back(p.markBefore);
    out.insert(out.end(), digits.begin(), digits.end());
    out.push_back(p.markAfter);
}

}  // namespace

Pad makeHeadPad(const PadOptions& o, const PadParameters& p, const Bytes& header,
                const std::string& password) {
    Bytes seen(header.size());
    for (size_t i = 0; i < header.size(); ++i)
        seen[i] = static_cast<uint8_t>(header[i] - static_cast<uint8_t>(password[i % password.size()]));

    if (o.form == PadOptions::SingleX) {
        if (seen[0] != 'X')
            fail("SingleX head pad needs the first header byte to read as 'X' (see headKeyByte)");
        return {{}, 1};
    }
    if (o.form == PadOptions::EdgePair) {
        if (seen.size() < 2 || seen[0] != p.markBefore || seen[1] != p.markAfter)
            fail("EdgePair head pad needs the first two header bytes to read as the marks "
                 "(see headKeyByte)");
        return {{}, 2};
    }

    // The reader takes the first 'X' or markBefore it sees for the pad, and the
    // header is the start of what it scans.
    if (seen[0] == 'X')
        fail("the first header byte reads as 'X' through this password: the head pad would be "
             "SingleX; choose another password or that form");
    for (size_t i = 0; i < seen.size(); ++i)
        if (seen[i] == p.markBefore)
            fail("header byte " + std::to_string(i) +
                 " reads as markBefore through this password; choose another password");

    // Zero groups keep advancing the digit weight, so the real group's first
    // digit is worth radix^(zero digits) and the length must be a multiple of it.
    const unsigned zd = zeroGroupDigits(o);
    uint64_t unit = 1;
    for (uint64_t i = 0; i < uint64_t(o.zeroGroups) * zd; ++i) {
        unit *= p.radix;
        if (unit > kMaxPadLength)
            fail("too many zero groups: the pad would be longer than 64 MiB");
    }
    const uint64_t fixedPart = header.size() + uint64_t(o.zeroGroups) * (zd + 2) + o.digits + 2;
    uint64_t filler = o.filler;
    Bytes digits;
    for (;;) {
        const uint64_t length = fixedPart + filler;
        if (length % unit != 0) {
            filler += unit - length % unit;
            continue;
        }
        if (length > kMaxPadLength)
            fail("head pad longer than 64 MiB");
        auto d = toDigits(length / unit, o.digits, p.radix);
        if (!d) {
            if (o.digits == 0)
                break;  // deliberately malformed: a bare pair away from the edge
            fail("head pad length " + std::to_string(length) + " does not fit in " +
                 std::to_string(o.digits) + " digits");
        }
        if (!hitsMark(*d, p)) {
            digits = *d;
            break;
        }
        filler += unit;
    }

    Pad pad;
    for (uint64_t i = 0; i < filler; ++i)
        pad.bytes.push_back(fillerByte(i));
    for (unsigned g = 0; g < o.zeroGroups; ++g)
        appendGroup(pad.bytes, p, Bytes(zd, 0));
    appendGroup(pad.bytes, p, digits);
    pad.length = header.size() + pad.bytes.size();
    return pad;
}

Pad makeTailPad(const PadOptions& o, const PadParameters& p) {
    if (o.form == PadOptions::SingleX)
        return {{'X'}, 1};
    if (o.form == PadOptions::EdgePair)
        return {{p.markBefore, p.markAfter}, 2};

    // Read backward, every group's value starts again at 0: no weighting here.
    const unsigned zd = zeroGroupDigits(o);
    const uint64_t fixedPart = o.digits + 2 + uint64_t(o.zeroGroups) * (zd + 2);
    uint64_t filler = o.filler;
    Bytes digits;
    for (;; ++filler) {
        const uint64_t length = fixedPart + filler;
        if (length > kMaxPadLength)
            fail("tail pad longer than 64 MiB");
        auto d = toDigits(length, o.digits, p.radix);
        if (!d) {
            if (o.digits == 0)
                break;
            fail("tail pad length " + std::to_string(length) + " does not fit in " +
                 std::to_string(o.digits) + " digits");
        }
        if (!hitsMark(*d, p)) {
            digits = *d;
            break;
        }
    }

    Pad pad;
    appendGroup(pad.bytes, p, digits);
    for (unsigned g = 0; g < o.zeroGroups; ++g)
        appendGroup(pad.bytes, p, Bytes(zd, 0));
    for (uint64_t i = 0; i < filler; ++i)
        pad.bytes.push_back(fillerByte(i));
    pad.length = pad.bytes.size();
    return pad;
}

void scrambleBody(Bytes& body, size_t plainPrefix, const std::string& password) {
    const size_t n = password.size();
    for (size_t i = plainPrefix; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>(body[i] + static_cast<uint8_t>(password[i % n]));
}

}  // namespace detail
}  // namespace kivtest
