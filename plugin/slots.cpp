#include "plugin/slots.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "archive/opening.h"
#include "platform/platform.h"
#include "plugin/load.h"
#include "plugin/settings.h"

namespace kiv {

namespace {
// The two slots first, then the extra contexts.
constexpr int kTableSize = kSlotCount + kExtraCount;

// Guards the table: the choice of an entry, and every entry's busy flag,
// path and context while it is not busy. A busy entry belongs to the one
// thread that opened it, so opening, parsing, the password prompt and
// extraction all run outside the lock. Constant-initialised with a trivial
// destructor, so it is usable from the load and unload handler whatever the
// order of static construction and destruction.
std::mutex tableLock;

// Created on first use and released by the unload handler, never by the
// runtime's static destructors, whose order relative to that handler is
// not fixed. Written only under tableLock; read without it by handle checks.
std::atomic<ArchiveSlot*> tablePointer{nullptr};

// The table, created if missing. Call with tableLock held.
ArchiveSlot* lockedTable() {
    ArchiveSlot* slots = tablePointer.load(std::memory_order_relaxed);
    if (!slots) {
        slots = new ArchiveSlot[kTableSize];
        tablePointer.store(slots, std::memory_order_release);
    }
    return slots;
}

// Empties a slot under tableLock; the context is handed back so that it is
// destroyed after the lock is released.
std::unique_ptr<ArchiveContext> empty(ArchiveSlot& slot) {
    slot.busy = 0;
    slot.archivePath = platform::Path();
    return std::move(slot.context);
}
}  // namespace

ArchiveSlot* slotFromHandle(void* handle) {
    // No table yet means no handle was ever given out.
    ArchiveSlot* slots = tablePointer.load(std::memory_order_acquire);
    if (!slots) return nullptr;
    // The slots first: every header walk asks, and they serve most opens.
    for (int i = 0; i < kSlotCount; ++i)
        if (handle == &slots[i]) return &slots[i];
    // An extra context's, compared as numbers: an unrelated pointer must not
    // even be ordered against the table as a pointer.
    const uintptr_t offset = reinterpret_cast<uintptr_t>(handle) - reinterpret_cast<uintptr_t>(slots);
    if (offset >= sizeof(ArchiveSlot) * kTableSize || offset % sizeof(ArchiveSlot) != 0) return nullptr;
    return &slots[offset / sizeof(ArchiveSlot)];
}

ArchiveSlot* openSlot(const platform::Path& path, int& result) {
    ArchiveSlot* chosen = nullptr;
    bool extra = false;
    std::unique_ptr<ArchiveContext> replaced;
    {
        std::lock_guard<std::mutex> lock(tableLock);
        ArchiveSlot* slots = lockedTable();
        for (int i = 0; i < kSlotCount && !chosen; ++i)
            if (!slots[i].busy && !slots[i].archivePath.empty() && slots[i].archivePath == path) chosen = &slots[i];
        for (int i = 0; i < kSlotCount && !chosen; ++i) {
            if (!slots[i].busy) {
                chosen = &slots[i];
                replaced = empty(*chosen);
            }
        }
        // Both slots busy: an extra context. It keeps nothing after its
        // close, so the slots' choice and reuse stay exactly as they were.
        for (int i = kSlotCount; i < kTableSize && !chosen; ++i) {
            if (!slots[i].busy) {
                chosen = &slots[i];
                extra = true;
            }
        }
        if (!chosen) {
            result = E_NO_MEMORY;
            return nullptr;
        }
        chosen->busy = 1;
    }
    // From here the slot is this thread's until it is freed again.
    replaced.reset();
    std::unique_ptr<ArchiveContext> failed;
    try {
        if (!chosen->context) {
            chosen->context.reset(new (std::nothrow) ArchiveContext);
            if (!chosen->context) {
                std::lock_guard<std::mutex> lock(tableLock);
                chosen->busy = 0;
                result = E_NO_MEMORY;
                return nullptr;
            }
        }
        // A kept context was listed with the settings of its first open.
        if (chosen->archivePath.empty()) readSettings(*chosen->context);
        // The host's callbacks belong to the handle that was given them, not
        // to a later open of a kept context (perhaps on another thread).
        chosen->context->progressCallback = defaultProgress;
        chosen->context->progressCallbackW = nullptr;
        result = openArchive(*chosen->context, path);
        std::lock_guard<std::mutex> lock(tableLock);
        if (result == 0) {
            if (!extra) chosen->archivePath = path;
            return chosen;
        }
        failed = empty(*chosen);
    } catch (...) {
        // Never leave the slot taken by an open that did not return it.
        {
            std::lock_guard<std::mutex> lock(tableLock);
            failed = empty(*chosen);
        }
        throw;
    }
    return nullptr;
}

void closeSlot(ArchiveSlot& slot) noexcept {
    const bool extra = &slot - tablePointer.load(std::memory_order_acquire) >= kSlotCount;
    std::unique_ptr<ArchiveContext> destroyed;
    if (extra) {
        destroyed = std::move(slot.context);
    } else if (slot.context) {
        slot.context->releaseReaders();
        slot.context->listingCursor = slot.context->entries.head();
    }
    {
        std::lock_guard<std::mutex> lock(tableLock);
        slot.busy = 0;
    }
    // Outside the lock: freeing a large catalogue takes a while.
    destroyed.reset();
    try {
        writeDefaultSettings();
    } catch (...) {
        // The file is written another time; the close itself succeeded.
    }
}

void resetSlots(bool destroyContexts) {
    std::lock_guard<std::mutex> lock(tableLock);
    ArchiveSlot* slots = lockedTable();
    for (int i = 0; i < kTableSize; ++i) {
        if (destroyContexts) empty(slots[i]).reset();
        else slots[i].busy = 0;
    }
}

int libraryEntry(void* module, unsigned long reason, void* /*reserved*/) {
    switch (reason) {
        case kProcessAttach:
            resetSlots(false);
            platform::clearOwnerWindow();
            platform::setModuleHandle(module);
            break;
        case kProcessDetach:
            resetSlots(true);
            delete[] tablePointer.exchange(nullptr);
            platform::clearOwnerWindow();
            platform::setModuleHandle(module);
            break;
        default: break;
    }
    return 1;
}

}  // namespace kiv
