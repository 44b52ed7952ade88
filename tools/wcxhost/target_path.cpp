#include "target_path.h"

#include <cctype>

#include "os.h"

namespace target {

namespace {
bool isDotsAndSpaces(const std::string& part) {
    for (char c : part)
        if (c != '.' && c != ' ') return false;
    return true;
}
}  // namespace

bool split(const std::string& reported, std::vector<std::string>& parts, std::string& why) {
    parts.clear();
    auto sep = [](char c) { return c == '\\' || c == '/' || os::isSeparator(c); };
    if (reported.empty()) {
        why = "empty path";
        return false;
    }
    if (sep(reported[0])) {
        why = "absolute path";
        return false;
    }
    if (reported.size() >= 2 && reported[1] == ':' && std::isalpha(static_cast<unsigned char>(reported[0]))) {
        why = "path with a drive letter";
        return false;
    }
    size_t start = 0;
    while (start <= reported.size()) {
        size_t end = start;
        while (end < reported.size() && !sep(reported[end])) ++end;
        std::string part = reported.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            why = "path with a \"..\" component";
            return false;
        }
        // Windows drops trailing dots and spaces, which would turn ". ." or
        // "..." into a way up; such names are refused everywhere.
        if (isDotsAndSpaces(part)) {
            why = "path component of dots and spaces only";
            return false;
        }
        if (!os::colonAllowedInNames() && part.find(':') != std::string::npos) {
            why = "path with ':' in a name";
            return false;
        }
        parts.push_back(part);
    }
    if (parts.empty()) {
        why = "empty path";
        return false;
    }
    return true;
}

std::string join(const std::string& dest, const std::vector<std::string>& parts, size_t count) {
    std::string path = dest;
    for (size_t i = 0; i < count && i < parts.size(); ++i) {
        if (!path.empty() && !os::isSeparator(path.back())) path += os::separator();
        path += parts[i];
    }
    return path;
}

bool checkExisting(const std::string& dest, const std::vector<std::string>& parts, std::string& why) {
    for (size_t i = 1; i <= parts.size(); ++i) {
        std::string path = join(dest, parts, i);
        os::PathState state = os::pathState(path);
        bool last = i == parts.size();
        switch (state) {
            case os::PathState::Missing:
                return true;
            case os::PathState::Link:
                why = "refusing to write through the symbolic link " + path;
                return false;
            case os::PathState::Directory:
                break;
            case os::PathState::File:
                if (!last) {
                    why = path + " is a file, not a folder";
                    return false;
                }
                break;
            case os::PathState::Other:
                why = path + " is neither a file nor a folder";
                return false;
        }
    }
    return true;
}

bool makeFolders(const std::string& dest, const std::vector<std::string>& parts, size_t count, std::string& why) {
    for (size_t i = 1; i <= count && i <= parts.size(); ++i) {
        std::string path = join(dest, parts, i);
        std::string reason;
        if (!os::makeDirectory(path, &reason)) {
            why = "cannot create folder " + path + ": " + reason;
            return false;
        }
    }
    return true;
}

bool makePath(const std::string& path, std::string& why) {
    // The user named this path: a symbolic link to a folder on the way, or
    // as the path itself, is used like the folder (unlike links below it).
    if (os::isFolder(path)) return true;
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && !os::isSeparator(path[i])) continue;
        std::string prefix = path.substr(0, i);
        // Roots ("/", "C:\") and drive names ("C:") exist already.
        if (prefix.empty() || os::isSeparator(prefix.back()) || prefix.back() == ':') continue;
        if (os::isFolder(prefix)) continue;
        std::string reason;
        if (!os::makeDirectory(prefix, &reason)) {
            why = "cannot create folder '" + prefix + "': " + reason;
            return false;
        }
    }
    return true;
}

}  // namespace target
