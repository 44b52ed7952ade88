#include "archive.h"

#include <cstring>
#include <vector>

#include "entry_format.h"

namespace {
// No multi-volume support: any request for another volume is refused.
int WCX_CALL refuseVolumeChange(char*, int) { return 0; }

// The interface takes writable strings; give it private copies.
std::vector<char> writable(const std::string& s) {
    std::vector<char> buf(s.begin(), s.end());
    buf.push_back('\0');
    return buf;
}
}  // namespace

Archive::Archive(Plugin& plugin, const std::string& path, int openMode, tProcessDataProc progress)
    : plugin_(plugin) {
    std::vector<char> name = writable(path);
    tOpenArchiveData data;
    std::memset(&data, 0, sizeof data);
    data.ArcName = name.data();
    data.OpenMode = openMode;
    handle_ = plugin_.openArchive(&data);
    openResult_ = data.OpenResult;
    if (!handle_) {
        // A plug-in that fails without saying why still failed.
        if (openResult_ == 0) openResult_ = E_EOPEN;
        return;
    }
    if (plugin_.setChangeVolProc) plugin_.setChangeVolProc(handle_, refuseVolumeChange);
    if (plugin_.setProcessDataProc && progress) plugin_.setProcessDataProc(handle_, progress);
}

Archive::~Archive() { close(); }

int Archive::close() {
    if (!handle_) return 0;
    int rc = plugin_.closeArchive(handle_);
    handle_ = nullptr;
    return rc;
}

int Archive::readHeader(tHeaderData& header, bool raw) {
    std::memset(&header, 0, sizeof header);
    const int rc = plugin_.readHeader(handle_, &header);
    if (rc == 0 && !raw && plugin_.unixConventions) entry::toWindowsForm(header);
    return rc;
}

int Archive::skip() { return plugin_.processFile(handle_, PK_SKIP, nullptr, nullptr); }

int Archive::test() { return plugin_.processFile(handle_, PK_TEST, nullptr, nullptr); }

int Archive::extractTo(const std::string& target) {
    std::vector<char> name = writable(target);
    return plugin_.processFile(handle_, PK_EXTRACT, nullptr, name.data());
}

int Archive::extractSplit(const std::string& folder, const std::string& name) {
    std::vector<char> dir = writable(folder);
    std::vector<char> file = writable(name);
    return plugin_.processFile(handle_, PK_EXTRACT, dir.data(), file.data());
}
