// How the host shows one header record: the readable table of `list` and
// the numeric line of `list --raw`.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/wcxapi.h"

namespace entry {

constexpr int kDirectoryAttr = 0x10;

// One header as the host reads it, whichever of the plug-in's header
// functions filled it: the name in UTF-8, the sizes whole (the seven
// functions' 32-bit fields read as unsigned).
struct Header {
    std::string name;
    uint64_t unpSize = 0;
    uint64_t packSize = 0;
    int flags = 0, hostOS = 0, fileCRC = 0, fileTime = 0, unpVer = 0, method = 0, fileAttr = 0;
};

// From the records of the three header functions. The name is taken up to
// its terminator or the field's end; `ansiName` says what to do with the
// narrow records' bytes (converted to UTF-8 from the ANSI code page on
// Windows; they are UTF-8 already elsewhere).
void fromRecord(const tHeaderData& record, Header& out);
void fromRecord(const tHeaderDataEx& record, Header& out);
void fromRecord(const tHeaderDataExW& record, Header& out);

std::string name(const Header& header);
bool isDirectory(const Header& header);
uint64_t unpackedSize(const Header& header);
uint64_t packedSize(const Header& header);

// MS-DOS packed date and time as "YYYY-MM-DD HH:MM:SS", decoded field by
// field without judging whether the values make a valid date.
std::string dosDateTime(int fileTime);
// Five fixed columns "dahsr": directory 0x10, archive 0x20, hidden 0x02,
// system 0x04, read-only 0x01; '-' where the bit is clear.
std::string attributes(int fileAttr);

// A record filled with the Linux file manager's conventions (a Unix mode,
// Unix seconds) in the Windows form that the rest of the host reads, so that
// both builds of a plug-in show the same table: directory 0x10 or archive
// 0x20 plus read-only 0x01 when no write bit is set, and the MS-DOS packed
// local time (0 for a time of 0). The name is left alone.
void toWindowsForm(Header& header);
// Both separators of the name ('/' and '\') as `separator`: the host shows,
// matches and reports paths the way the platform writes them.
void useSeparator(Header& header, char separator);
uint32_t dosTimeFromUnix(int32_t seconds);

std::string tableHeading();
std::string tableLine(const Header& header);
// "FileTime FileAttr UnpSize PackSize Flags HostOS FileCRC UnpVer Method<TAB>FileName",
// each 32-bit field as an unsigned decimal number, the sizes whole.
std::string rawLine(const Header& header);
// rawLine into `out` (at least 200 bytes plus the name's length), followed
// by a line end; returns the length without the line end.
size_t formatRaw(const Header& header, char* out);

}  // namespace entry
