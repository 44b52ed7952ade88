#include "archive/entry_builder.h"

#include <cstdint>
#include <cstdio>

#include "archive/dos_time.h"
#include "archive/names.h"
#include "readers/reader.h"
#include "platform/platform.h"

namespace kiv {

EntryBuilder::EntryBuilder(ArchiveContext& context)
    : context_(context), utf8Names_(context.versionNumber() > 3) {
#if !defined(_WIN32)
    if (!utf8Names_)
        legacyNames_ = std::make_unique<platform::LegacyNames>(
            context.legacyCodePage != 0 ? context.legacyCodePage : platform::kDefaultLegacyCodePage);
#endif
    context_.entries.createRoot();
    context_.listingCursor = context_.entries.head();
}

Entry* EntryBuilder::appendNamed(Reader& catalogue) {
    Entry* e = context_.entries.append();
    context_.listingCursor = e;
    e->attribute = kAttrSpecial;
    std::string name = catalogue.readString();
    // UTF-8 names keep their own bytes; the ANSI functions convert the
    // whole path when they report it (entry_path.h).
    bool utf8 = false;
    bool wholeCharacters = false;  // the name is UTF-8: a cut keeps whole characters
    if (utf8Names_) {
        platform::cutAtHostTerminator(name);
        utf8 = !isAscii(name);
        wholeCharacters = utf8;
    }
#if !defined(_WIN32)
    // Converted as a whole before it is made safe, so that a second byte 5C
    // of a double-byte character is never taken for a separator. The result
    // is UTF-8, the host's own code page, so it is reported as it is.
    if (legacyNames_) {
        name = legacyNames_->toUtf8(name);
        wholeCharacters = true;
    }
#endif
    name = safeName(std::move(name));
    // A path at the cap is cut: not inside a character, whose first bytes
    // alone would read as invalid, and leaving no fresh "." or "..".
    const size_t room = kMaxPathBytes > prefix_.size() ? kMaxPathBytes - prefix_.size() : 0;
    if (name.size() > room) name.resize(cutPath(name.data(), name.size(), room, wholeCharacters, name.data()));
    // The prefix is kept in path_, so only the name is copied per entry.
    path_.resize(prefix_.size());
    path_ += name;
    e->path = context_.entries.store(path_.data(), path_.size());
    e->pathLength = static_cast<uint16_t>(path_.size());
    e->pathForm = utf8 || prefixUtf8_ ? kPathUtf8 : kPathHost;
    return e;
}

void EntryBuilder::setTime(Entry& e, uint64_t entryTime) {
    e.time = times_.pack(entryTime);
    e.unixTime = static_cast<int32_t>(static_cast<uint32_t>(entryTime));
}

void EntryBuilder::completeDirectory(Entry& e) {
    e.attribute = context_.hideEmptyDirs ? kAttrHidden : kAttrDirectory;
}

void EntryBuilder::completeFile(Entry& e, bool reference, uint64_t size, uint64_t dataOffset, uint64_t storedSize,
                                uint16_t checksum) {
    e.checksum = checksum;
    if (reference) {
        e.attribute = context_.showReferenceFiles ? kAttrFile : kAttrHidden;
        return;
    }
    e.size = size;
    e.dataOffset = dataOffset;
    e.storedSize = storedSize;
    e.attribute = context_.hideStoredFiles ? kAttrHidden : kAttrFile;
}

void EntryBuilder::completeLink(Entry& e, bool reference, const std::string* target) {
    e.attribute = kAttrFile;
    if (reference) {
        if (context_.showReferenceLinks) setContent(e, "Link: (file not stored in this archive)");
        else e.attribute = kAttrHidden;
    } else if (context_.hideStoredLinks || !target) {
        e.attribute = kAttrHidden;
    } else {
        setContent(e, "Link: (" + *target + ")");
    }
}

void EntryBuilder::completeDevice(Entry& e, char kind, bool reference, int first, int second) {
    e.attribute = kAttrSpecial;
    if (reference) {
        if (context_.showReferenceLinks) setContent(e, "(unknown) device");
        else e.attribute = kAttrHidden;
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "(%c) device: (%d) (%d)", kind, first, second);
    setContent(e, text);
}

void EntryBuilder::completeSpecial(Entry& e) { e.attribute = kAttrSpecial; }

void EntryBuilder::completeDeleted(Entry& e) { e.attribute = kAttrDeleted; }

void EntryBuilder::addLabel(uint64_t label, Entry& e) {
    // A label's map node and bucket count against the entry list's cap like
    // the entries.
    constexpr size_t kLabelBytes = 64;
    auto inserted = context_.hardLinkLabels.try_emplace(label, &e);
    if (inserted.second) context_.entries.charge(kLabelBytes);
    else inserted.first->second = &e;
}

void EntryBuilder::resolveHardLink(Entry& e, uint64_t label) {
    auto it = context_.hardLinkLabels.find(label);
    if (it == context_.hardLinkLabels.end()) return;
    const Entry& target = *it->second;
    e.attribute = target.attribute;
    e.checksum = target.checksum;
    e.size = target.size;
    e.storedSize = target.storedSize;
    e.dataOffset = target.dataOffset;
    e.content = target.content;
    e.contentLength = target.contentLength;
    e.time = target.time;
    e.unixTime = target.unixTime;
}

size_t EntryBuilder::enterDirectory(const Entry& directory) {
    const size_t saved = prefix_.size();
    if (!context_.flatArchive) {
        prefix_.assign(directory.path, directory.pathLength);
        if (prefix_.size() < kMaxPathBytes) prefix_ += '\\';
        path_ = prefix_;
        prefixUtf8_ = directory.pathForm == kPathUtf8;
    }
    return saved;
}

void EntryBuilder::leaveDirectory(size_t saved) {
    prefix_.resize(saved);
    path_ = prefix_;
    prefixUtf8_ = utf8Names_ && !isAscii(prefix_);
}

void EntryBuilder::setContent(Entry& e, const std::string& text) {
    e.content = context_.entries.store(text.data(), text.size());
    // A link text is "Link: (" + a target of at most kMaxStringBytes + ")".
    static_assert(kMaxStringBytes + 16 <= UINT16_MAX && kMaxPathBytes <= UINT16_MAX, "lengths fit the entry");
    e.contentLength = static_cast<uint16_t>(text.size());
}

}  // namespace kiv
