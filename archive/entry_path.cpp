#include "archive/entry_path.h"

#include "archive/names.h"
#include "platform/platform.h"

namespace kiv {

std::string ansiPath(const Entry& e) {
    return safeName(platform::utf8ToHost(std::string(e.path, e.pathLength)));
}

std::u16string widePath(const Entry& e, unsigned legacyCodePage) {
    if (e.pathForm == kPathUtf8) return safeName(utf8ToUtf16(e.path, e.pathLength));
    std::string bytes(e.path, e.pathLength);
    if (isAscii(bytes)) return std::u16string(bytes.begin(), bytes.end());
#if defined(_WIN32)
    return safeName(platform::ansiToUtf16(bytes, legacyCodePage));
#else
    // The host code page of POSIX hosts is UTF-8.
    (void)legacyCodePage;
    return safeName(utf8ToUtf16(bytes.data(), bytes.size()));
#endif
}

}  // namespace kiv
