// The two process-wide archive slots. A slot keeps its parsed archive after
// the host closes it, so reopening the unchanged file costs no second parse.
#pragma once

#include <memory>
#include <string>

#include "archive/context.h"
#include "platform/platform.h"

namespace kiv {

struct ArchiveSlot {
    std::unique_ptr<ArchiveContext> context;
    // The ArcName of the last successful open, in the form it came in: an
    // ANSI and a wide open are different texts and never share a context.
    platform::Path archivePath;
    int busy = 0;
};

constexpr int kSlotCount = 2;

// The slot behind a host handle, or null for anything OpenArchive did not
// return (the interface reserves -1, for instance).
ArchiveSlot* slotFromHandle(void* handle);

// Calls for different handles may come from different threads at once;
// calls for one handle never overlap. The table is locked only while a slot
// is chosen and while its state changes, never while an archive is read.

// The handle for ArcName, or null with the code in result (11 when both
// slots are busy).
ArchiveSlot* openSlot(const platform::Path& path, int& result);
void closeSlot(ArchiveSlot& slot) noexcept;
// Empties every slot (load and unload).
void resetSlots(bool destroyContexts);

}  // namespace kiv
