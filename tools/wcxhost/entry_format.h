// How the host shows one header record: the readable table of `list` and
// the numeric line of `list --raw`.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/wcxapi.h"

namespace entry {

constexpr int kDirectoryAttr = 0x10;

// The entry's path, even when the plug-in left FileName unterminated.
std::string name(const tHeaderData& header);
bool isDirectory(const tHeaderData& header);
// The interface's sizes are 32-bit fields; read them as unsigned.
uint32_t unpackedSize(const tHeaderData& header);
uint32_t packedSize(const tHeaderData& header);

// MS-DOS packed date and time as "YYYY-MM-DD HH:MM:SS", decoded field by
// field without judging whether the values make a valid date.
std::string dosDateTime(int fileTime);
// Five fixed columns "dahsr": directory 0x10, archive 0x20, hidden 0x02,
// system 0x04, read-only 0x01; '-' where the bit is clear.
std::string attributes(int fileAttr);

// A record filled with the Linux file manager's conventions ('/' between
// components, a Unix mode, Unix seconds) in the Windows form that the rest
// of the host reads, so that both builds of a plug-in show the same table:
// '\\' separators, directory 0x10 or archive 0x20 plus read-only 0x01 when no
// write bit is set, and the MS-DOS packed local time (0 for a time of 0).
void toWindowsForm(tHeaderData& header);
uint32_t dosTimeFromUnix(int32_t seconds);

std::string tableHeading();
std::string tableLine(const tHeaderData& header);
// "FileTime FileAttr UnpSize PackSize Flags HostOS FileCRC UnpVer Method<TAB>FileName",
// each 32-bit field as an unsigned decimal number.
std::string rawLine(const tHeaderData& header);
// rawLine into `out` (at least 400 bytes), followed by a line end; returns
// the length without the line end.
size_t formatRaw(const tHeaderData& header, char* out);

}  // namespace entry
