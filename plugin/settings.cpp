#include "plugin/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace kiv {

namespace {

struct Key {
    const char* name;
    uint8_t ArchiveContext::*flag;
};

const Key kKeys[] = {
    {"flatArchive", &ArchiveContext::flatArchive},
    {"hideEmptyDirs", &ArchiveContext::hideEmptyDirs},
    {"hideStoredFiles", &ArchiveContext::hideStoredFiles},
    {"hideStoredLinks", &ArchiveContext::hideStoredLinks},
    {"showDeletedFiles", &ArchiveContext::showDeletedFiles},
    {"showReferenceFiles", &ArchiveContext::showReferenceFiles},
    {"showReferenceLinks", &ArchiveContext::showReferenceLinks},
};

std::string settingsPath() {
    std::string beside = platform::besideModule("kiv.ini");
#if !defined(_WIN32)
    // A plug-in installed for all users sits in a folder the user cannot
    // write. A kiv.ini beside it still wins (a portable install); otherwise
    // the one in the host's configuration folder, where it can be edited.
    if (!beside.empty() && platform::pathKind(beside.c_str()) != platform::PathKind::Missing) return beside;
    std::string folder = platform::configFolder();
    if (!folder.empty()) {
        if (folder.back() != '/') folder += '/';
        return folder + "kiv.ini";
    }
#endif
    return beside;
}

}  // namespace

void readSettings(ArchiveContext& context) {
    const std::string path = settingsPath();
    if (path.empty()) return;
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return;
    bool codePageNamed = false;
    int codePage = 0;
    // Pieces of at most 79 characters; each piece counts as a line of its own.
    char piece[80];
    while (std::fgets(piece, sizeof piece, f)) {
        char* eq = std::strchr(piece, '=');
        if (!eq) continue;
        *eq = 0;
        if (std::strcmp(piece, "legacyCodePage") == 0) {
            codePageNamed = true;
            codePage = leadingNumber(eq + 1);
            continue;
        }
        for (const Key& key : kKeys) {
            if (std::strcmp(piece, key.name) == 0) {
                context.*key.flag = std::atoi(eq + 1) != 0 ? 1 : 0;
                break;
            }
        }
    }
    std::fclose(f);
    // A number the platform cannot convert keeps the default: the archive
    // still opens, its names read as they would without the line.
    if (codePageNamed)
        context.legacyCodePage =
            codePage > 0 && platform::knowsCodePage(static_cast<unsigned>(codePage)) ? static_cast<unsigned>(codePage) : 0;
}

void writeDefaultSettings() {
    const std::string path = settingsPath();
    if (path.empty()) return;
    // Closes on other threads would otherwise both find the file missing and
    // both write it. The check is a single open, so the lock is brief.
    static std::mutex writing;
    std::lock_guard<std::mutex> lock(writing);
    if (std::FILE* existing = std::fopen(path.c_str(), "r")) {
        std::fclose(existing);
        return;
    }
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    for (const Key& key : kKeys) std::fprintf(f, "%s=0\n", key.name);
    std::fclose(f);
}

}  // namespace kiv
