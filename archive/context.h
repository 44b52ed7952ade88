// The state of one archive, kept in a slot between a close and a reopen.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "archive/entry_list.h"
#include "plugin/wcxapi.h"
#include "readers/decoder_choice.h"
#include "readers/reader.h"
#include "readers/secret.h"

namespace kiv {

// Labels come from the archive, so their hash is keyed with a value drawn
// once per process: labels cannot be chosen to fall into one bucket and turn
// every lookup into a walk over all of them.
struct LabelHash {
    size_t operator()(uint64_t label) const noexcept;
};

// Labels of files that later hard links refer to. Only the most recent
// entry of a label can ever be found, so a map keeps exactly that, and a
// catalogue of many links resolves in linear time.
using HardLinkLabels = std::unordered_map<uint64_t, Entry*, LabelHash>;

// The progress callback used until the host sets its own: always go on.
int WCX_CALL defaultProgress(char* name, int size);

struct ArchiveContext {
    ArchiveContext() = default;
    ~ArchiveContext();
    ArchiveContext(const ArchiveContext&) = delete;
    ArchiveContext& operator=(const ArchiveContext&) = delete;

    // The catalogue reader reads through the primary reader, so it goes
    // first; the decoders' kept memory goes with them.
    void releaseReaders();
    // Leading decimal number of the format version, as atoi reads it.
    int versionNumber() const;
    bool scrambled() const { return (headerFlags & 0x20) != 0; }

    std::unique_ptr<Reader> primaryReader;
    std::unique_ptr<Reader> catalogueReader;
    DecoderCache decoderCache;
    uint8_t sliceHeader[16] = {};
    std::string formatVersion;
    uint8_t compressionCode = 0;
    std::string headerString;
    uint8_t headerFlags = 0;
    Secret password;
    uint64_t dataStartPosition = 0;
    uint64_t catalogueStart = 0;
    int64_t recordedModificationTime = 0;
    uint64_t recordedLength = 0;
    EntryList entries;
    Entry* listingCursor = nullptr;
    HardLinkLabels hardLinkLabels;
    tProcessDataProc progressCallback = defaultProgress;
    // The wide callback, when the host set one; extraction then calls it
    // instead of progressCallback.
    tProcessDataProcW progressCallbackW = nullptr;
    uint8_t flatArchive = 0;
    uint8_t hideEmptyDirs = 0;
    uint8_t hideStoredFiles = 0;
    uint8_t hideStoredLinks = 0;
    uint8_t showDeletedFiles = 0;
    uint8_t showReferenceFiles = 0;
    uint8_t showReferenceLinks = 0;
    // The Windows code page of names in archives of format version 3 and
    // below, as the settings name it; 0 when they name none the platform
    // knows (POSIX then reads code page 1252, Win32 the ANSI code page).
    unsigned legacyCodePage = 0;
};

// atoi without its undefined overflow: leading blanks, a sign, digits.
int leadingNumber(const std::string& text);

}  // namespace kiv
