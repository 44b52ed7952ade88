#include "archive/context.h"

#include <climits>

namespace kiv {

int WCX_CALL defaultProgress(char*, int) { return 1; }

ArchiveContext::~ArchiveContext() {
    releaseReaders();
    hardLinkLabels.clear();
    entries.clear();
    password.clear();
}

void ArchiveContext::releaseReaders() {
    catalogueReader.reset();
    primaryReader.reset();
}

int ArchiveContext::versionNumber() const { return leadingNumber(formatVersion); }

int leadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > INT_MAX) v = INT_MAX;  // saturate: only "greater than 3/6" matters
    }
    return static_cast<int>(negative ? -v : v);
}

}  // namespace kiv
