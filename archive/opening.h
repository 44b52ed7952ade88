#pragma once

#include "archive/context.h"
#include "platform/platform.h"

namespace kiv {

// Opens `path` for the context: checks the slice header, and either reads
// the catalogue (new context, or the file's time or length changed) or
// keeps the parsed one and only rebuilds the readers. Returns a host code:
// 0, 14 (not an archive of this kind, or a failed password check), 15
// (cannot open or stat), or the header and catalogue reader's code.
int openArchive(ArchiveContext& context, const platform::Path& path);

}  // namespace kiv
