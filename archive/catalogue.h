#pragma once

#include "archive/context.h"

namespace kiv {

// Deepest directory nesting accepted. Real trees stay far below it; a
// crafted catalogue nested deeper fails the open with E_BAD_ARCHIVE.
constexpr size_t kMaxDirectoryDepth = 4096;

// Most bytes a compressed catalogue may expand to. A stored catalogue is
// bounded by the archive itself; a compressed one could otherwise make the
// open run for hours over a small file.
constexpr uint64_t kMaxCatalogueBytes = uint64_t(1) << 30;
// Most records one catalogue may hold: twice the entries the entry list's
// cap allows, so that records which make no entry (hidden deleted files,
// directory ends) cannot keep the open busy for minutes either.
constexpr uint64_t kMaxCatalogueRecords = uint64_t(1) << 25;

// Reads the whole catalogue from the context's catalogue reader, which
// stands at the catalogue start, into the entry list. Returns 0, 14 when the
// root record is missing, 13 when directories nest too deeply, 11 when
// memory runs out or the entry list, the expanded catalogue or the record
// count passes its cap.
int readCatalogue(ArchiveContext& context, uint64_t maxCatalogueBytes = kMaxCatalogueBytes);

}  // namespace kiv
