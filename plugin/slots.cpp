#include "plugin/slots.h"

#include <cstring>
#include <new>

#include "archive/opening.h"
#include "platform/platform.h"
#include "plugin/load.h"
#include "plugin/settings.h"

namespace kiv {

namespace {
// Created on first use and released by the unload handler, never by the
// runtime's static destructors, whose order relative to that handler is
// not fixed.
ArchiveSlot*& tablePointer() {
    static ArchiveSlot* slots = nullptr;  // constant-initialised: exists before any handler runs
    return slots;
}

ArchiveSlot* table() {
    ArchiveSlot*& slots = tablePointer();
    if (!slots) slots = new ArchiveSlot[kSlotCount];
    return slots;
}

void empty(ArchiveSlot& slot) {
    slot.busy = 0;
    slot.context.reset();
    slot.archivePath.clear();
}
}  // namespace

ArchiveSlot* slotFromHandle(void* handle) {
    ArchiveSlot* slots = table();
    for (int i = 0; i < kSlotCount; ++i)
        if (handle == &slots[i]) return &slots[i];
    return nullptr;
}

ArchiveSlot* openSlot(const char* path, int& result) {
    if (!path) path = "";
    ArchiveSlot* slots = table();
    ArchiveSlot* chosen = nullptr;
    for (int i = 0; i < kSlotCount && !chosen; ++i)
        if (!slots[i].busy && !slots[i].archivePath.empty() && slots[i].archivePath == path) chosen = &slots[i];
    for (int i = 0; i < kSlotCount && !chosen; ++i) {
        if (!slots[i].busy) {
            chosen = &slots[i];
            empty(*chosen);
        }
    }
    if (!chosen) {
        result = E_NO_MEMORY;
        return nullptr;
    }
    chosen->busy = 1;
    if (!chosen->context) {
        chosen->context.reset(new (std::nothrow) ArchiveContext);
        if (!chosen->context) {
            chosen->busy = 0;
            result = E_NO_MEMORY;
            return nullptr;
        }
    }
    if (chosen->archivePath.empty()) readSettings(*chosen->context);
    result = openArchive(*chosen->context, path);
    if (result == 0) {
        chosen->archivePath = path;
        return chosen;
    }
    empty(*chosen);
    return nullptr;
}

void closeSlot(ArchiveSlot& slot) {
    if (slot.context) {
        slot.context->releaseReaders();
        slot.context->listingCursor = slot.context->entries.head();
    }
    slot.busy = 0;
    writeDefaultSettings();
}

void resetSlots(bool destroyContexts) {
    ArchiveSlot* slots = table();
    for (int i = 0; i < kSlotCount; ++i) {
        if (destroyContexts) empty(slots[i]);
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
            delete[] tablePointer();
            tablePointer() = nullptr;
            platform::clearOwnerWindow();
            platform::setModuleHandle(module);
            break;
        default: break;
    }
    return 1;
}

}  // namespace kiv
