// Turns catalogue records into entries: names and paths, times, attribute
// bytes, content texts, hard links, and the hidden mark the display flags
// put on entries that are not to be shown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/context.h"
#include "archive/dos_time.h"
#include "platform/platform.h"

namespace kiv {

class EntryBuilder {
public:
    // Starts a fresh list in the context. Throws std::bad_alloc.
    explicit EntryBuilder(ArchiveContext& context);

    // Reads a name from the catalogue reader and appends an entry for it
    // (attribute 0x04). Throws std::bad_alloc.
    Entry* appendNamed(Reader& catalogue);
    void setTime(Entry& e, uint64_t entryTime);

    void completeDirectory(Entry& e);
    void completeFile(Entry& e, bool reference, uint64_t size, uint64_t dataOffset, uint64_t storedSize,
                      uint16_t checksum);
    // target is null for a reference link, and for a stored link whose
    // target is hidden with it.
    void completeLink(Entry& e, bool reference, const std::string* target);
    void completeDevice(Entry& e, char kind, bool reference, int first, int second);
    void completeSpecial(Entry& e);
    void completeDeleted(Entry& e);
    void addLabel(uint64_t label, Entry& e);
    void resolveHardLink(Entry& e, uint64_t label);

    // Directory nesting: the saved prefix length is the whole state.
    size_t enterDirectory(const Entry& directory);
    void leaveDirectory(size_t saved);

    bool hidesStoredLinks() const { return context_.hideStoredLinks != 0; }
    bool showsDeleted() const { return context_.showDeletedFiles != 0; }

private:
    void setContent(Entry& e, const std::string& text);

    ArchiveContext& context_;
    std::string prefix_;  // the current directory's path and separator
    std::string path_;    // starts with prefix_; the entry's name is appended
    bool utf8Names_;
    bool prefixUtf8_ = false;  // prefix_ holds UTF-8 beyond ASCII
#if !defined(_WIN32)
    // Names of older archives are code-page bytes; POSIX hosts read UTF-8.
    std::unique_ptr<platform::LegacyNames> legacyNames_;
#endif
    DosTimeConverter times_;
};

}  // namespace kiv
