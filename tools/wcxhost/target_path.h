// Where an entry goes below the destination folder, and the checks that
// keep every write inside it: no absolute paths, drive letters or ".."
// components, and no writing through a symbolic link already present there.
#pragma once

#include <string>
#include <vector>

namespace target {

// Splits the path the plug-in reported (either separator) into the names
// of its components, dropping empty and "." ones. False, with the reason
// in `why`, when the path would lead outside the destination.
bool split(const std::string& reported, std::vector<std::string>& parts, std::string& why);

// dest joined with the first `count` parts by the platform's separator.
std::string join(const std::string& dest, const std::vector<std::string>& parts, size_t count);

// Walks every existing component of dest/parts... and refuses symbolic links
// (and anything but folders on the way, and anything but a regular file or
// folder at the end). Parts below the first missing one cannot be links.
bool checkExisting(const std::string& dest, const std::vector<std::string>& parts, std::string& why);

// Creates the folders dest/parts[0] ... dest/parts[0..count).
bool makeFolders(const std::string& dest, const std::vector<std::string>& parts, size_t count, std::string& why);

// Creates `path` and any missing parents (for the destination itself, so
// folders on the way, and `path` itself, may be symbolic links to folders).
bool makePath(const std::string& path, std::string& why);

}  // namespace target
