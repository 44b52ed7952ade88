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

// A Windows program folder (Program Files) and a Linux system folder take no
// new file from an ordinary user: the host then names a folder of its own.
std::mutex hostFolderLock;
std::string startupFolder;      // ExtensionInitialize
std::string defaultIniFolder;   // PackSetDefaultParams

struct Places {
    std::string beside;  // "" when the module's path cannot be formed
    std::string host;    // "" when the host named no folder
};

Places places() {
    Places p;
    p.beside = platform::besideModule("kiv.ini");
    std::string folder;
    {
        std::lock_guard<std::mutex> hold(hostFolderLock);
        folder = startupFolder.empty() ? defaultIniFolder : startupFolder;
    }
    if (!folder.empty()) {
#if defined(_WIN32)
        if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
#else
        if (folder.back() != '/') folder += '/';
#endif
        p.host = folder + "kiv.ini";
    }
    return p;
}

// A kiv.ini "exists" only as a file: a folder or a device of that name is
// none (and cannot be read as one).
bool isFile(const std::string& path) {
    return !path.empty() && platform::pathKind(platform::Path(path)) == platform::PathKind::Regular;
}

// The file to read, or "" when neither exists.
std::string existing(const Places& p) {
    if (isFile(p.beside)) return p.beside;
    if (isFile(p.host)) return p.host;
    return std::string();
}

// False only when the file cannot be created at all.
bool createDefault(const std::string& path) {
    if (path.empty()) return false;
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    for (const Key& key : kKeys) std::fprintf(f, "%s=0\n", key.name);
    std::fclose(f);
    return true;
}

}  // namespace

void readSettings(ArchiveContext& context) {
    const std::string path = existing(places());
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
    const Places p = places();
    // Closes on other threads would otherwise both find the file missing and
    // both write it. The check looks at two paths, so the lock is brief.
    static std::mutex writing;
    std::lock_guard<std::mutex> lock(writing);
    if (!existing(p).empty()) return;
#if defined(_WIN32)
    if (!createDefault(p.beside)) createDefault(p.host);
#else
    createDefault(p.host.empty() ? p.beside : p.host);
#endif
}

void setStartupSettingsFolder(const char* folder) {
    std::lock_guard<std::mutex> hold(hostFolderLock);
    startupFolder = folder ? folder : "";
}

void setDefaultIniName(const char* iniName) {
#if defined(_WIN32)
    std::string folder = platform::Path(iniName).folder().narrow();
#else
    // Only '/' separates: the folder ends at the last one.
    std::string folder = iniName ? iniName : "";
    folder.resize(folder.rfind('/') == std::string::npos ? 0 : folder.rfind('/') + 1);
#endif
    std::lock_guard<std::mutex> hold(hostFolderLock);
    defaultIniFolder = std::move(folder);
}

}  // namespace kiv
