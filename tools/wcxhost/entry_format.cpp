#include "entry_format.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace entry {

std::string name(const tHeaderData& header) {
    const char* text = header.FileName;
    size_t n = 0;
    while (n < sizeof header.FileName && text[n] != '\0') ++n;
    return std::string(text, n);
}

bool isDirectory(const tHeaderData& header) { return (header.FileAttr & kDirectoryAttr) != 0; }

uint32_t unpackedSize(const tHeaderData& header) { return static_cast<uint32_t>(header.UnpSize); }

uint32_t packedSize(const tHeaderData& header) { return static_cast<uint32_t>(header.PackSize); }

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

void toWindowsForm(tHeaderData& header) {
    for (char& c : header.FileName)
        if (c == '/') c = '\\';
    const int mode = header.FileAttr;
    int attr = (mode & 0170000) == 0040000 ? kDirectoryAttr : 0x20;
    if ((mode & 0222) == 0) attr |= 0x01;
    header.FileAttr = attr;
    header.FileTime = static_cast<int>(dosTimeFromUnix(header.FileTime));
}

std::string tableHeading() {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%-19s  %-5s  %10s  %10s  %s", "Date       Time", "Attr", "Size", "Packed", "Name");
    return buf;
}

std::string tableLine(const tHeaderData& header) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s  %s  %10lu  %10lu  ", dosDateTime(header.FileTime).c_str(),
                  attributes(header.FileAttr).c_str(), static_cast<unsigned long>(unpackedSize(header)),
                  static_cast<unsigned long>(packedSize(header)));
    return buf + name(header);
}

std::string rawLine(const tHeaderData& header) {
    char buf[400];
    return std::string(buf, formatRaw(header, buf));
}

// Hand-formatted: scripts list archives of a million entries this way.
size_t formatRaw(const tHeaderData& header, char* out) {
    const int fields[] = {header.FileTime, header.FileAttr, header.UnpSize, header.PackSize, header.Flags,
                          header.HostOS,   header.FileCRC,  header.UnpVer,  header.Method};
    char* p = out;
    for (int value : fields) {
        if (p != out) *p++ = ' ';
        if (value == 0) {  // most fields of most entries
            *p++ = '0';
            continue;
        }
        char digits[10];
        int n = 0;
        uint32_t v = static_cast<uint32_t>(value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        while (n) *p++ = digits[--n];
    }
    *p++ = '\t';
    const size_t len = strnlen(header.FileName, sizeof header.FileName);
    std::memcpy(p, header.FileName, len);
    p += len;
    *p++ = '\n';
    return static_cast<size_t>(p - out) - 1;  // without the line end
}

}  // namespace entry
