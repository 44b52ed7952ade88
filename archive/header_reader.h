#pragma once

#include "archive/context.h"
#include "readers/decoder_choice.h"

namespace kiv {

// Reads the archive header after the slice header, stacks the unscrambling
// reader when the archive is scrambled (asking for the password), finds the
// catalogue through the terminator, builds the catalogue reader and reads
// the catalogue. The primary reader stands at the data start position.
// Returns 0, or 14 for every failure of its own, or the catalogue's code.
int readHeaderAndCatalogue(ArchiveContext& context);

}  // namespace kiv
