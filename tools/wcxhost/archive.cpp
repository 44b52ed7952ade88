#include "archive.h"

#include <cstring>
#include <vector>

#include "os.h"

namespace {
// No multi-volume support: any request for another volume is refused.
int WCX_CALL refuseVolumeChange(char*, int) { return 0; }
int WCX_CALL refuseVolumeChangeW(WCHAR*, int) { return 0; }

// The interface takes writable strings; give it private copies, in the
// form of the functions in use.
std::vector<char> writable(const std::string& utf8) {
    const std::string s = os::narrowIsUtf8() ? utf8 : os::utf8ToAnsi(utf8);
    std::vector<char> buf(s.begin(), s.end());
    buf.push_back('\0');
    return buf;
}
std::vector<WCHAR> writableWide(const std::string& utf8) {
    const std::u16string s = os::utf8ToUtf16(utf8);
    std::vector<WCHAR> buf(s.begin(), s.end());
    buf.push_back(0);
    return buf;
}

// The Ex records are kilobytes: every field is cleared but the names past
// their first character, so a plug-in that leaves a field alone leaves a 0.
template <typename Record>
void clearHigh(Record& r) {
    r.ArcName[0] = 0;
    r.FileName[0] = 0;
    r.Flags = r.HostOS = r.FileCRC = r.FileTime = r.UnpVer = r.Method = r.FileAttr = 0;
    r.PackSize = r.UnpSize = r.PackSizeHigh = r.UnpSizeHigh = 0;
}
}  // namespace

Archive::Archive(Plugin& plugin, const std::string& path, int openMode, tProcessDataProc progress,
                 tProcessDataProcW progressW)
    : plugin_(plugin), family_(plugin.family()) {
    if (family_ == Plugin::Family::Wide) {
        std::vector<WCHAR> name = writableWide(path);
        tOpenArchiveDataW data;
        std::memset(&data, 0, sizeof data);
        data.ArcName = name.data();
        data.OpenMode = openMode;
        handle_ = plugin_.openArchiveW(&data);
        openResult_ = data.OpenResult;
    } else {
        std::vector<char> name = writable(path);
        tOpenArchiveData data;
        std::memset(&data, 0, sizeof data);
        data.ArcName = name.data();
        data.OpenMode = openMode;
        handle_ = plugin_.openArchive(&data);
        openResult_ = data.OpenResult;
    }
    if (!handle_) {
        // A plug-in that fails without saying why still failed.
        if (openResult_ == 0) openResult_ = E_EOPEN;
        return;
    }
    if (plugin_.setChangeVolProc) plugin_.setChangeVolProc(handle_, refuseVolumeChange);
    if (plugin_.setProcessDataProc && progress) plugin_.setProcessDataProc(handle_, progress);
    if (family_ == Plugin::Family::Wide) {
        if (plugin_.setChangeVolProcW) plugin_.setChangeVolProcW(handle_, refuseVolumeChangeW);
        if (plugin_.setProcessDataProcW && progressW) plugin_.setProcessDataProcW(handle_, progressW);
    }
}

Archive::~Archive() { close(); }

int Archive::close() {
    if (!handle_) return 0;
    int rc = plugin_.closeArchive(handle_);
    handle_ = nullptr;
    return rc;
}

int Archive::readHeader(entry::Header& header, bool raw) {
    int rc;
    switch (family_) {
        case Plugin::Family::Wide:
            if (!wide_) wide_.reset(new tHeaderDataExW());
            clearHigh(*wide_);
            rc = plugin_.readHeaderExW(handle_, wide_.get());
            if (rc == 0) entry::fromRecord(*wide_, header);
            break;
        case Plugin::Family::Ex:
            if (!ex_) ex_.reset(new tHeaderDataEx());
            clearHigh(*ex_);
            rc = plugin_.readHeaderEx(handle_, ex_.get());
            if (rc == 0) entry::fromRecord(*ex_, header);
            break;
        default:
            if (!seven_) seven_.reset(new tHeaderData());
            std::memset(seven_.get(), 0, sizeof *seven_);  // small: the whole record
            rc = plugin_.readHeader(handle_, seven_.get());
            if (rc == 0) entry::fromRecord(*seven_, header);
            break;
    }
    if (rc == 0 && !raw) {
        if (plugin_.unixConventions) entry::toWindowsForm(header);
        entry::useSeparator(header, os::separator());
    }
    return rc;
}

int Archive::skip() {
    if (family_ == Plugin::Family::Wide) return plugin_.processFileW(handle_, PK_SKIP, nullptr, nullptr);
    return plugin_.processFile(handle_, PK_SKIP, nullptr, nullptr);
}

int Archive::test() {
    if (family_ == Plugin::Family::Wide) return plugin_.processFileW(handle_, PK_TEST, nullptr, nullptr);
    return plugin_.processFile(handle_, PK_TEST, nullptr, nullptr);
}

int Archive::extract(const std::string* folder, const std::string& name) {
    if (family_ == Plugin::Family::Wide) {
        std::vector<WCHAR> dir = folder ? writableWide(*folder) : std::vector<WCHAR>();
        std::vector<WCHAR> file = writableWide(name);
        return plugin_.processFileW(handle_, PK_EXTRACT, folder ? dir.data() : nullptr, file.data());
    }
    std::vector<char> dir = folder ? writable(*folder) : std::vector<char>();
    std::vector<char> file = writable(name);
    return plugin_.processFile(handle_, PK_EXTRACT, folder ? dir.data() : nullptr, file.data());
}

int Archive::extractTo(const std::string& target) { return extract(nullptr, target); }

int Archive::extractSplit(const std::string& folder, const std::string& name) { return extract(&folder, name); }
