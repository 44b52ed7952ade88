// The entry list owns its entries and their texts in large blocks: a
// catalogue of a million entries costs a few thousand allocations and about
// 64 bytes per entry plus its path. Its memory is capped, so a crafted
// catalogue fails the open instead of exhausting the host's memory.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "archive/entry.h"

namespace kiv {

// Most memory one archive's entry list may take: about 15 million entries
// with short paths, far beyond real archives.
constexpr size_t kMaxEntryListBytes = size_t(1) << 30;

class EntryList {
public:
    EntryList() = default;
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;

    Entry* head() const { return head_; }
    Entry* tail() const { return tail_; }

    // Starts a new list with the root placeholder. Throws std::bad_alloc.
    Entry* createRoot();
    // A new entry with initial values linked after the tail. Throws std::bad_alloc.
    Entry* append();
    // A NUL-terminated copy of n bytes kept as long as the list.
    const char* store(const char* text, size_t n);

    // Counts `bytes` more against the cap (for memory kept beside the list,
    // such as hard-link labels). Throws std::bad_alloc past the cap.
    void charge(size_t bytes);
    size_t bytesUsed() const { return bytesUsed_; }
    void setByteLimit(size_t bytes) { byteLimit_ = bytes; }

    // Frees every entry and text.
    void clear();

private:
    Entry* allocate();

    static constexpr size_t kEntriesPerBlock = 4096;
    static constexpr size_t kTextBlock = 256 * 1024;

    std::vector<std::unique_ptr<Entry[]>> entryBlocks_;
    size_t entriesLeft_ = 0;
    std::vector<std::unique_ptr<char[]>> textBlocks_;
    char* textCursor_ = nullptr;
    size_t textLeft_ = 0;
    Entry* head_ = nullptr;
    Entry* tail_ = nullptr;
    size_t bytesUsed_ = 0;
    size_t byteLimit_ = kMaxEntryListBytes;
};

}  // namespace kiv
