// The seven functions the host calls. No exception and no message text ever
// crosses this boundary: every failure reaches the host as a result code.
#include <new>

#include "extract/extract.h"
#include "plugin/host_conventions.h"
#include "plugin/slots.h"
#include "plugin/wcxapi.h"

#if defined(_WIN32)
#define KIV_EXPORT  // exported through the module definition file
#else
#define KIV_EXPORT __attribute__((visibility("default")))
#endif

using kiv::ArchiveSlot;

namespace {

kiv::ArchiveContext* openContext(void* handle) {
    ArchiveSlot* slot = kiv::slotFromHandle(handle);
    return slot && slot->busy ? slot->context.get() : nullptr;
}

}  // namespace

extern "C" {

KIV_EXPORT void* WCX_CALL OpenArchive(tOpenArchiveData* ArchiveData) {
    if (!ArchiveData) return nullptr;
    int result = E_UNKNOWN_FORMAT;
    ArchiveSlot* slot = nullptr;
    try {
        slot = kiv::openSlot(ArchiveData->ArcName, result);
    } catch (const std::bad_alloc&) {
        result = E_NO_MEMORY;
    } catch (...) {
        result = E_UNKNOWN_FORMAT;
    }
    ArchiveData->OpenResult = slot ? 0 : result;
    return slot;
}

KIV_EXPORT int WCX_CALL ReadHeader(void* hArcData, tHeaderData* HeaderData) {
    kiv::ArchiveContext* context = openContext(hArcData);
    if (!context || !context->listingCursor || !HeaderData) return E_END_ARCHIVE;
    const kiv::Entry* entry = context->listingCursor;
    do {
        entry = entry->next;
        if (!entry) {
            context->listingCursor = context->entries.head();
            return E_END_ARCHIVE;
        }
        context->listingCursor = const_cast<kiv::Entry*>(entry);
    } while (entry->attribute == kiv::kAttrHidden);

    const uint32_t stored = static_cast<uint32_t>(entry->storedSize);
    HeaderData->PackSize = static_cast<int>(stored != 0 ? stored : static_cast<uint32_t>(entry->size));
    HeaderData->UnpSize = static_cast<int>(static_cast<uint32_t>(entry->size));
    HeaderData->FileTime = kiv::host::fileTime(*entry);
    HeaderData->FileAttr = kiv::host::fileAttr(*entry);
    kiv::host::copyName(HeaderData->FileName, sizeof HeaderData->FileName, entry->path, entry->pathLength);
    return 0;
}

KIV_EXPORT int WCX_CALL ProcessFile(void* hArcData, int Operation, char* DestPath, char* DestName) {
    if (Operation != PK_TEST && Operation != PK_EXTRACT) return 0;
    kiv::ArchiveContext* context = openContext(hArcData);
    if (!context) return E_BAD_ARCHIVE;
    try {
        if (Operation == PK_TEST) return kiv::extractCurrentEntry(*context, nullptr, nullptr);
        return kiv::extractCurrentEntry(*context, DestPath, DestName);
    } catch (const std::bad_alloc&) {
        return E_NO_MEMORY;
    } catch (...) {
        return E_BAD_DATA;
    }
}

KIV_EXPORT int WCX_CALL CloseArchive(void* hArcData) {
    ArchiveSlot* slot = kiv::slotFromHandle(hArcData);
    if (!slot || !slot->busy) return 0;
    try {
        kiv::closeSlot(*slot);
    } catch (...) {
        slot->busy = 0;
    }
    return 0;
}

KIV_EXPORT void WCX_CALL SetChangeVolProc(void*, tChangeVolProc) {}

KIV_EXPORT void WCX_CALL SetProcessDataProc(void* hArcData, tProcessDataProc pProcessDataProc) {
    ArchiveSlot* slot = kiv::slotFromHandle(hArcData);
    if (!slot || !slot->context) return;
    slot->context->progressCallback = pProcessDataProc ? pProcessDataProc : kiv::defaultProgress;
}

KIV_EXPORT int WCX_CALL GetPackerCaps(void) { return PK_CAPS_MULTIPLE | PK_CAPS_SEARCHTEXT; }

}  // extern "C"

#if !defined(_WIN32)
#include <cstring>
#include <string>

#include "platform/platform.h"

extern "C" {

// The Linux file manager's start-up call: it hands over its input box,
// which the password prompt uses. The structure lives on the caller's
// stack, so only the function pointer is kept.
KIV_EXPORT void ExtensionInitialize(tExtensionStartupInfo* StartupInfo) {
    platform::setInputBox(StartupInfo ? StartupInfo->InputBox : nullptr);
    if (!StartupInfo) return;
    // The field may fill its whole room without a terminator.
    const char* dir = StartupInfo->PluginConfDir;
    platform::setConfigFolder(std::string(dir, strnlen(dir, sizeof StartupInfo->PluginConfDir)).c_str());
}

KIV_EXPORT void ExtensionFinalize(void*) {
    platform::setInputBox(nullptr);
    platform::setConfigFolder(nullptr);
}

}  // extern "C"
#endif
