#include "archive/entry_list.h"

#include <cstring>
#include <new>

namespace kiv {

void EntryList::charge(size_t bytes) {
    if (bytes > byteLimit_ - bytesUsed_) throw std::bad_alloc();
    bytesUsed_ += bytes;
}

Entry* EntryList::allocate() {
    if (entriesLeft_ == 0) {
        charge(kEntriesPerBlock * sizeof(Entry));
        entryBlocks_.emplace_back(new Entry[kEntriesPerBlock]);
        entriesLeft_ = kEntriesPerBlock;
    }
    return &entryBlocks_.back()[kEntriesPerBlock - entriesLeft_--];
}

Entry* EntryList::createRoot() {
    clear();
    Entry* root = allocate();
    root->attribute = kAttrRoot;
    head_ = tail_ = root;
    return root;
}

Entry* EntryList::append() {
    Entry* e = allocate();
    if (tail_) tail_->next = e;
    else head_ = e;
    tail_ = e;
    return e;
}

const char* EntryList::store(const char* text, size_t n) {
    if (n == 0) return "";
    if (n + 1 > textLeft_) {
        // Long texts get a block of their own so the current block is not wasted.
        if (n + 1 > kTextBlock / 4) {
            charge(n + 1);
            textBlocks_.emplace_back(new char[n + 1]);
            char* p = textBlocks_.back().get();
            std::memcpy(p, text, n);
            p[n] = 0;
            return p;
        }
        charge(kTextBlock);
        textBlocks_.emplace_back(new char[kTextBlock]);
        textCursor_ = textBlocks_.back().get();
        textLeft_ = kTextBlock;
    }
    char* p = textCursor_;
    std::memcpy(p, text, n);
    p[n] = 0;
    textCursor_ += n + 1;
    textLeft_ -= n + 1;
    return p;
}

void EntryList::clear() {
    entryBlocks_.clear();
    entriesLeft_ = 0;
    textBlocks_.clear();
    textCursor_ = nullptr;
    textLeft_ = 0;
    head_ = tail_ = nullptr;
    bytesUsed_ = 0;
}

}  // namespace kiv
