#pragma once

#include "archive/context.h"
#include "platform/platform.h"

namespace kiv {

// Tests (destName null) or extracts the entry under the listing cursor.
// With a name, the destination is destName inside the folder destPath (the
// platform's separator added when destPath does not end in one), or
// destName alone when destPath is null or empty. Returns 0, 12 (the data ended
// early), 13 (checksum mismatch), 16 (cannot create the file or build the
// entry reader), 19 (a write failed) or 21 (the host aborted).
int extractCurrentEntry(ArchiveContext& context, const char* destPath, const char* destName);
// The same with the destination already joined, narrow or wide (null to
// test). A wide destination may have up to 1023 characters.
int extractCurrentEntry(ArchiveContext& context, const platform::Path* destination);
int extractCurrentEntry(ArchiveContext& context, const platform::Path& destination);

// The entry checksum folded over a chunk: even positions into c[0], odd
// into c[1], `parity` being the position of the chunk's first byte mod 2.
void foldChecksum(uint8_t c[2], unsigned parity, const uint8_t* data, size_t n);

}  // namespace kiv
