// The process-wide table of open archives: two slots, which keep their
// parsed archive after the host closes it so that reopening the unchanged
// file costs no second parse, and beside them extra contexts for hosts that
// keep more archives open at once (worker threads copying out while the
// user lists another archive), which close destroys.
#pragma once

#include <memory>
#include <string>

#include "archive/context.h"
#include "platform/platform.h"

namespace kiv {

// A table entry: one of the two slots, or an extra context.
struct ArchiveSlot {
    std::unique_ptr<ArchiveContext> context;
    // The ArcName of the last successful open, in the form it came in: an
    // ANSI and a wide open are different texts and never share a context.
    // Always empty for an extra context, which is never parked.
    platform::Path archivePath;
    int busy = 0;
};

constexpr int kSlotCount = 2;
// Extra contexts open at once, beyond the two slots.
constexpr int kExtraCount = 30;

// The entry behind a host handle, or null for anything OpenArchive did not
// return (the interface reserves -1, for instance). Only the handle's value
// is compared with the table's addresses: it is never followed.
ArchiveSlot* slotFromHandle(void* handle);

// Calls for different handles may come from different threads at once;
// calls for one handle never overlap. The table is locked only while an
// entry is chosen and while its state changes, never while an archive is
// read.

// The handle for ArcName, or null with the code in result. A slot parked
// with this very path is reused; else the first free slot is taken (its
// parked context destroyed); with both slots busy, a free extra context;
// 11 when those are all busy too.
ArchiveSlot* openSlot(const platform::Path& path, int& result);
// Parks a slot (its readers released, its catalogue kept); destroys an
// extra context.
void closeSlot(ArchiveSlot& slot) noexcept;
// Empties every entry (load and unload).
void resetSlots(bool destroyContexts);

}  // namespace kiv
