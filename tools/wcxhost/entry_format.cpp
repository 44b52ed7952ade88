#include "entry_format.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "os.h"

namespace entry {

namespace {
template <typename Record>
void copyFields(const Record& r, Header& out) {
    out.flags = r.Flags;
    out.hostOS = r.HostOS;
    out.fileCRC = r.FileCRC;
    out.fileTime = r.FileTime;
    out.unpVer = r.UnpVer;
    out.method = r.Method;
    out.fileAttr = r.FileAttr;
}

template <typename Char, size_t N>
size_t boundedLength(const Char (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != 0) ++n;
    return n;
}

void narrowName(const char* text, size_t n, std::string& out) {
    out.assign(text, n);
    if (!os::narrowIsUtf8()) out = os::ansiToUtf8(out);
}
}  // namespace

void fromRecord(const tHeaderData& r, Header& out) {
    copyFields(r, out);
    out.unpSize = static_cast<uint32_t>(r.UnpSize);
    out.packSize = static_cast<uint32_t>(r.PackSize);
    narrowName(r.FileName, boundedLength(r.FileName), out.name);
}

void fromRecord(const tHeaderDataEx& r, Header& out) {
    copyFields(r, out);
    out.unpSize = (uint64_t(r.UnpSizeHigh) << 32) | r.UnpSize;
    out.packSize = (uint64_t(r.PackSizeHigh) << 32) | r.PackSize;
    narrowName(r.FileName, boundedLength(r.FileName), out.name);
}

void fromRecord(const tHeaderDataExW& r, Header& out) {
    copyFields(r, out);
    out.unpSize = (uint64_t(r.UnpSizeHigh) << 32) | r.UnpSize;
    out.packSize = (uint64_t(r.PackSizeHigh) << 32) | r.PackSize;
    out.name = os::utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(r.FileName), boundedLength(r.FileName)));
}

std::string name(const Header& header) { return header.name; }

bool isDirectory(const Header& header) { return (header.fileAttr & kDirectoryAttr) != 0; }

uint64_t unpackedSize(const Header& header) { return header.unpSize; }

uint64_t packedSize(const Header& header) { return header.packSize; }

std::string dosDateTime(int fileTime) {
    uint32_t t = static_cast<uint32_t>(fileTime);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", (t >> 25) + 1980u, (t >> 21) & 0x0Fu,
                  (t >> 16) & 0x1Fu, (t >> 11) & 0x1Fu, (t >> 5) & 0x3Fu, (t & 0x1Fu) * 2u);
    return buf;
}

std::string attributes(int fileAttr) {
    struct Bit {
        int mask;
        char letter;
    };
    static const Bit bits[] = {{0x10, 'd'}, {0x20, 'a'}, {0x02, 'h'}, {0x04, 's'}, {0x01, 'r'}};
    std::string out;
    for (const Bit& bit : bits) out += (fileAttr & bit.mask) ? bit.letter : '-';
    return out;
}

uint32_t dosTimeFromUnix(int32_t seconds) {
    if (seconds <= 0) return 0;
    const std::time_t t = seconds;
    const std::tm* tm = std::localtime(&t);
    if (!tm) return 0;
    return (static_cast<uint32_t>(tm->tm_year - 80) & 0x7Fu) << 25 | static_cast<uint32_t>(tm->tm_mon + 1) << 21 |
           static_cast<uint32_t>(tm->tm_mday) << 16 | static_cast<uint32_t>(tm->tm_hour) << 11 |
           static_cast<uint32_t>(tm->tm_min) << 5 | static_cast<uint32_t>(tm->tm_sec) / 2;
}

void toWindowsForm(Header& header) {
    const int mode = header.fileAttr;
    int attr = (mode & 0170000) == 0040000 ? kDirectoryAttr : 0x20;
    if ((mode & 0222) == 0) attr |= 0x01;
    header.fileAttr = attr;
    header.fileTime = static_cast<int>(dosTimeFromUnix(header.fileTime));
}

void useSeparator(Header& header, char separator) {
    for (char& c : header.name)
        if (c == '/' || c == '\\') c = separator;
}

std::string tableHeading() {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%-19s  %-5s  %10s  %10s  %s", "Date       Time", "Attr", "Size", "Packed", "Name");
    return buf;
}

std::string tableLine(const Header& header) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s  %s  %10llu  %10llu  ", dosDateTime(header.fileTime).c_str(),
                  attributes(header.fileAttr).c_str(), static_cast<unsigned long long>(header.unpSize),
                  static_cast<unsigned long long>(header.packSize));
    return buf + header.name;
}

std::string rawLine(const Header& header) {
    std::string buf(200 + header.name.size(), '\0');
    return std::string(&buf[0], formatRaw(header, &buf[0]));
}

// Hand-formatted: scripts list archives of a million entries this way.
size_t formatRaw(const Header& header, char* out) {
    const uint64_t fields[] = {static_cast<uint32_t>(header.fileTime), static_cast<uint32_t>(header.fileAttr),
                               header.unpSize,
                               header.packSize,
                               static_cast<uint32_t>(header.flags),
                               static_cast<uint32_t>(header.hostOS),
                               static_cast<uint32_t>(header.fileCRC),
                               static_cast<uint32_t>(header.unpVer),
                               static_cast<uint32_t>(header.method)};
    char* p = out;
    for (uint64_t value : fields) {
        if (p != out) *p++ = ' ';
        if (value == 0) {  // most fields of most entries
            *p++ = '0';
            continue;
        }
        char digits[20];
        int n = 0;
        uint64_t v = value;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        while (n) *p++ = digits[--n];
    }
    *p++ = '\t';
    std::memcpy(p, header.name.data(), header.name.size());
    p += header.name.size();
    *p++ = '\n';
    return static_cast<size_t>(p - out) - 1;  // without the line end
}

}  // namespace entry
