// kiv.ini beside the plug-in: seven on/off switches that shape new listings.
#pragma once

#include "archive/context.h"

namespace kiv {

// Sets the context's display flags from the file; a missing file leaves them 0.
void readSettings(ArchiveContext& context);
// Writes the file with every switch off unless it already exists.
void writeDefaultSettings();

}  // namespace kiv
