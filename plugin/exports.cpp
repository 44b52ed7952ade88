// The functions the host calls. No exception and no message text ever
// crosses this boundary: every failure reaches the host as a result code.
#include <cstring>
#include <new>
#include <string>

#include "archive/entry_path.h"
#include "extract/extract.h"
#include "platform/platform.h"
#include "plugin/host_conventions.h"
#include "plugin/settings.h"
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

void* openWith(const platform::Path& path, int& openResult) {
    int result = E_UNKNOWN_FORMAT;
    ArchiveSlot* slot = nullptr;
    try {
        slot = kiv::openSlot(path, result);
    } catch (const std::bad_alloc&) {
        result = E_NO_MEMORY;
    } catch (...) {
        result = E_UNKNOWN_FORMAT;
    }
    openResult = slot ? 0 : result;
    return slot;
}

// The walk every header function shares: the entry after the listing
// cursor that is not hidden, made the cursor; null at the end, where the
// cursor goes back to the head.
const kiv::Entry* nextListed(void* handle) {
    kiv::ArchiveContext* context = openContext(handle);
    if (!context || !context->listingCursor) return nullptr;
    const kiv::Entry* entry = context->listingCursor;
    do {
        entry = entry->next;
        if (!entry) {
            context->listingCursor = context->entries.head();
            return nullptr;
        }
        context->listingCursor = const_cast<kiv::Entry*>(entry);
    } while (entry->attribute == kiv::kAttrHidden);
    return entry;
}

// FileName in the ANSI code page, converted here when the entry keeps UTF-8.
void copyAnsiName(char* field, size_t fieldSize, const kiv::Entry& entry) {
    if (entry.pathForm != kiv::kPathUtf8) {
        kiv::host::copyName(field, fieldSize, entry.path, entry.pathLength);
        return;
    }
    try {
        const std::string path = kiv::ansiPath(entry);
        kiv::host::copyName(field, fieldSize, path.data(), path.size());
    } catch (...) {
        // No memory for the conversion: the stored bytes, rather than nothing.
        kiv::host::copyName(field, fieldSize, entry.path, entry.pathLength);
    }
}

// The fields both Ex records share: whole sizes, time and attribute.
template <typename Record>
void fillExFields(Record& record, const kiv::Entry& entry) {
    const uint64_t packed = entry.storedSize != 0 ? entry.storedSize : entry.size;
    record.PackSize = static_cast<unsigned>(packed);
    record.PackSizeHigh = static_cast<unsigned>(packed >> 32);
    record.UnpSize = static_cast<unsigned>(entry.size);
    record.UnpSizeHigh = static_cast<unsigned>(entry.size >> 32);
    record.FileTime = kiv::host::fileTime(entry);
    record.FileAttr = kiv::host::fileAttr(entry);
}

}  // namespace

extern "C" {

KIV_EXPORT void* WCX_CALL OpenArchive(tOpenArchiveData* ArchiveData) {
    if (!ArchiveData) return nullptr;
    try {
        return openWith(platform::Path(ArchiveData->ArcName), ArchiveData->OpenResult);
    } catch (...) {  // no memory for the path's copy
        ArchiveData->OpenResult = E_NO_MEMORY;
        return nullptr;
    }
}

KIV_EXPORT int WCX_CALL ReadHeader(void* hArcData, tHeaderData* HeaderData) {
    if (!HeaderData) return E_END_ARCHIVE;
    const kiv::Entry* entry = nextListed(hArcData);
    if (!entry) return E_END_ARCHIVE;
    const uint32_t stored = static_cast<uint32_t>(entry->storedSize);
    HeaderData->PackSize = static_cast<int>(stored != 0 ? stored : static_cast<uint32_t>(entry->size));
    HeaderData->UnpSize = static_cast<int>(static_cast<uint32_t>(entry->size));
    HeaderData->FileTime = kiv::host::fileTime(*entry);
    HeaderData->FileAttr = kiv::host::fileAttr(*entry);
    copyAnsiName(HeaderData->FileName, sizeof HeaderData->FileName, *entry);
    return 0;
}

KIV_EXPORT int WCX_CALL ReadHeaderEx(void* hArcData, tHeaderDataEx* HeaderData) {
    if (!HeaderData) return E_END_ARCHIVE;
    const kiv::Entry* entry = nextListed(hArcData);
    if (!entry) return E_END_ARCHIVE;
    fillExFields(*HeaderData, *entry);
    copyAnsiName(HeaderData->FileName, sizeof HeaderData->FileName, *entry);
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
    // Only an open handle's: a parked context may be another thread's next.
    kiv::ArchiveContext* context = openContext(hArcData);
    if (!context) return;
    context->progressCallback = pProcessDataProc ? pProcessDataProc : kiv::defaultProgress;
}

KIV_EXPORT int WCX_CALL GetPackerCaps(void) { return PK_CAPS_MULTIPLE | PK_CAPS_SEARCHTEXT; }

// Called by both file managers right after loading: the ini file they
// suggest names the folder where they keep their plug-ins' settings, which
// is used when the folder beside the plug-in holds no kiv.ini.
KIV_EXPORT void WCX_CALL PackSetDefaultParams(PackDefaultParamStruct* dps) {
    // A record shorter than the published one may not hold the whole name.
    if (!dps || dps->size < static_cast<int>(sizeof *dps)) return;
    try {
        // The field may fill its whole room without a terminator.
        const char* name = dps->DefaultIniName;
        kiv::setDefaultIniName(std::string(name, strnlen(name, sizeof dps->DefaultIniName)).c_str());
    } catch (...) {
        // No memory for the name: the settings stay where they were looked for.
    }
}

// Calls for different handles may come from different threads at once, and
// each handle has its own context and callbacks: hosts may unpack on worker
// threads.
KIV_EXPORT int WCX_CALL GetBackgroundFlags(void) { return BACKGROUND_UNPACK; }

}  // extern "C"

#if defined(_WIN32)
// The wide family: the same slots, walk and extraction, with UTF-16 texts.
namespace {
std::u16string wideText(const WCHAR* text) {
    std::u16string out;
    if (text)
        for (; *text; ++text) out += static_cast<char16_t>(*text);
    return out;
}
}  // namespace

extern "C" {

KIV_EXPORT void* WCX_CALL OpenArchiveW(tOpenArchiveDataW* ArchiveData) {
    if (!ArchiveData) return nullptr;
    try {
        return openWith(platform::Path::wide(wideText(ArchiveData->ArcName)), ArchiveData->OpenResult);
    } catch (...) {
        ArchiveData->OpenResult = E_NO_MEMORY;
        return nullptr;
    }
}

KIV_EXPORT int WCX_CALL ReadHeaderExW(void* hArcData, tHeaderDataExW* HeaderData) {
    if (!HeaderData) return E_END_ARCHIVE;
    const kiv::Entry* entry = nextListed(hArcData);
    if (!entry) return E_END_ARCHIVE;
    fillExFields(*HeaderData, *entry);
    try {
        kiv::host::copyWideName(HeaderData->FileName, sizeof HeaderData->FileName / sizeof(WCHAR),
                                kiv::widePath(*entry, openContext(hArcData)->legacyCodePage));
    } catch (...) {
        return E_NO_MEMORY;
    }
    return 0;
}

KIV_EXPORT int WCX_CALL ProcessFileW(void* hArcData, int Operation, WCHAR* DestPath, WCHAR* DestName) {
    if (Operation != PK_TEST && Operation != PK_EXTRACT) return 0;
    kiv::ArchiveContext* context = openContext(hArcData);
    if (!context) return E_BAD_ARCHIVE;
    try {
        if (Operation == PK_TEST || !DestName) return kiv::extractCurrentEntry(*context, nullptr);
        // Joined as the narrow function joins them.
        platform::Path destination = platform::Path::wide(wideText(DestPath));
        return kiv::extractCurrentEntry(*context, destination.appendComponent(platform::Path::wide(wideText(DestName))));
    } catch (const std::bad_alloc&) {
        return E_NO_MEMORY;
    } catch (...) {
        return E_BAD_DATA;
    }
}

KIV_EXPORT void WCX_CALL SetChangeVolProcW(void*, tChangeVolProcW) {}

KIV_EXPORT void WCX_CALL SetProcessDataProcW(void* hArcData, tProcessDataProcW pProcessDataProc) {
    kiv::ArchiveContext* context = openContext(hArcData);
    if (!context) return;
    context->progressCallbackW = pProcessDataProc;
}

}  // extern "C"
#endif

#if !defined(_WIN32)
extern "C" {

// The Linux file manager's start-up call: it hands over its input box,
// which the password prompt uses. The structure lives on the caller's
// stack, so only the function pointer is kept.
KIV_EXPORT void ExtensionInitialize(tExtensionStartupInfo* StartupInfo) {
    platform::setInputBox(StartupInfo ? StartupInfo->InputBox : nullptr);
    if (!StartupInfo) return;
    // The field may fill its whole room without a terminator.
    const char* dir = StartupInfo->PluginConfDir;
    kiv::setStartupSettingsFolder(std::string(dir, strnlen(dir, sizeof StartupInfo->PluginConfDir)).c_str());
}

KIV_EXPORT void ExtensionFinalize(void*) {
    platform::setInputBox(nullptr);
    kiv::setStartupSettingsFolder(nullptr);
}

}  // extern "C"
#endif
