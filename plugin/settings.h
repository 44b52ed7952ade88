// kiv.ini beside the plug-in: seven on/off switches that shape new listings,
// and the code page of names in older archives.
#pragma once

#include "archive/context.h"

namespace kiv {

// Sets the context's display flags and legacy code page from the file; a
// missing file leaves them at their defaults.
void readSettings(ArchiveContext& context);
// Writes the file with every switch off unless it already exists.
void writeDefaultSettings();

}  // namespace kiv
