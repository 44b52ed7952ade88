#pragma once

#include "archive/context.h"

namespace kiv {

// Deepest directory nesting accepted. Real trees stay far below it; a
// crafted catalogue nested deeper fails the open with E_BAD_ARCHIVE.
constexpr size_t kMaxDirectoryDepth = 4096;

// Reads the whole catalogue from the context's catalogue reader, which
// stands at the catalogue start, into the entry list. Returns 0, 14 when the
// root record is missing, 13 when directories nest too deeply, 11 when
// memory runs out.
int readCatalogue(ArchiveContext& context);

}  // namespace kiv
