// One listed entry of an archive, as the host is shown it and as extraction
// needs it. Entries form a singly linked list in catalogue order.
#pragma once

#include <cstdint>

namespace kiv {

// Attribute byte values.
enum : uint8_t {
    kAttrReadOnly = 0x01,
    kAttrDeleted = 0x02,   // deleted entries, when listed
    kAttrSpecial = 0x04,   // devices, special entries; initial value of named entries
    kAttrDirectory = 0x10,
    kAttrFile = 0x20,      // files and symbolic links
    kAttrHidden = 0x40,    // the hidden mark: kept in the list, never reported
    kAttrRoot = 0x72       // the root placeholder at the head of the list
};

// How an entry's path is spelled. UTF-8 paths with characters beyond ASCII
// keep the archive's own bytes, so that the wide functions can report them
// without loss; the ANSI functions convert them when they report them.
enum : uint8_t {
    kPathHost = 0,  // bytes of the host's code page (or plain ASCII): reported as they are
    kPathUtf8 = 1   // UTF-8 from the archive, not yet converted for an ANSI host
};

struct Entry {
    uint32_t time = 0;        // MS-DOS packed date and time
    uint8_t attribute = 0;
    uint8_t pathForm = kPathHost;  // in the byte the alignment leaves free
    uint16_t checksum = 0;
    uint16_t pathLength = 0;     // paths and content texts are capped near 4 KiB,
    uint16_t contentLength = 0;  // which keeps a record within 64 bytes
    int32_t unixTime = 0;     // the same time as signed seconds since 1970; 0 without a time
    const char* path = "";    // NUL-terminated; storage owned by the entry list
    const char* content = ""; // text standing in for the data of links and devices
    uint64_t size = 0;
    uint64_t storedSize = 0;  // 0: stored without compression
    uint64_t dataOffset = 0;  // relative to the data start; 0: no stored data
    Entry* next = nullptr;
};

}  // namespace kiv
