// Loads kiv.wcx64 or kiv.wcx the way the file manager does (LoadLibraryA and the plain
// export names) and drives it through a few archives written here byte by
// byte. Run under Wine with TZ=UTC:
//   kiv_win_smoke.exe BUILT_PLUGIN SCRATCH_DIR
// The plug-in is copied into SCRATCH_DIR\plugin\ and loaded from there, so
// its kiv.ini is written into a folder of its own.
// Exit code: the number of failed checks.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <cwchar>
#include <vector>

#include "plugin/wcxapi.h"

namespace {

int g_failures = 0;

#define CHECK(cond)                                                          \
    do {                                                                     \
        if (!(cond)) {                                                       \
            std::printf("FAILED line %d: %s\n", __LINE__, #cond);            \
            ++g_failures;                                                    \
        }                                                                    \
    } while (0)

#define CHECK_EQ_INT(actual, expected)                                       \
    do {                                                                     \
        long long a_ = (actual), e_ = (expected);                            \
        if (a_ != e_) {                                                      \
            std::printf("FAILED line %d: %s is %lld, expected %lld\n",       \
                        __LINE__, #actual, a_, e_);                          \
            ++g_failures;                                                    \
        }                                                                    \
    } while (0)

using Bytes = std::vector<uint8_t>;

// Archive integer with a 4-byte value: width byte 80, then big-endian value.
void putNumber(Bytes& b, uint32_t v) {
    b.push_back(0x80);
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(uint8_t(v >> shift));
}
// With an 8-byte value: width byte 40.
void putNumber64(Bytes& b, uint64_t v) {
    b.push_back(0x40);
    for (int shift = 56; shift >= 0; shift -= 8) b.push_back(uint8_t(v >> shift));
}
void putText(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
}

struct FileDesc {
    std::string name;  // bytes as stored in the catalogue
    std::string data;
    uint32_t time;
    uint64_t listedSize = 0;  // non-zero: the catalogue gives this size instead
};

// An uncompressed, unscrambled archive: slice header, archive header, the
// files' data, the catalogue (root plus one `f` record per file) and a
// terminator whose count byte C0 puts the catalogue offset 8 bytes back.
Bytes makeArchive(const std::string& version, const std::vector<FileDesc>& files) {
    Bytes b = {0, 0, 0, 0x7B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'T', 0};
    putText(b, version);
    b.push_back('n');
    putText(b, "");  // header string
    b.push_back(0);  // flags: not scrambled
    std::vector<uint32_t> offsets;
    for (const FileDesc& f : files) {
        offsets.push_back(uint32_t(b.size() - 16));
        b.insert(b.end(), f.data.begin(), f.data.end());
    }
    uint32_t catalogue = uint32_t(b.size() - 16);
    b.push_back('d');
    putText(b, "");
    b.insert(b.end(), 7, 0);
    putNumber(b, 0);
    putNumber(b, 0);
    for (size_t i = 0; i < files.size(); ++i) {
        const FileDesc& f = files[i];
        b.push_back('f');
        putText(b, f.name);
        b.push_back(0);              // tail code: no tail
        b.insert(b.end(), 6, 0);     // six uninterpreted bytes
        putNumber(b, 0);             // first time
        putNumber(b, f.time);        // entry time
        if (f.listedSize) putNumber64(b, f.listedSize);
        else putNumber(b, uint32_t(f.data.size()));
        putNumber(b, offsets[i]);
        putNumber(b, 0);             // stored size 0: kept uncompressed
        uint8_t even = 0, odd = 0;
        for (size_t k = 0; k < f.data.size(); ++k) (k % 2 ? odd : even) ^= uint8_t(f.data[k]);
        b.push_back(even);
        b.push_back(odd);
    }
    b.push_back('z');
    putNumber(b, catalogue);
    b.insert(b.end(), 3, 0);
    b.push_back(0xC0);
    return b;
}

bool writeFile(const std::string& path, const Bytes& b) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

bool readFile(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return true;
}

struct Plugin {
    HMODULE module = nullptr;
    tOpenArchiveProc open = nullptr;
    tReadHeaderProc readHeader = nullptr;
    tProcessFileProc processFile = nullptr;
    tCloseArchiveProc close = nullptr;
    tSetChangeVolProcProc setChangeVol = nullptr;
    tSetProcessDataProcProc setProcessData = nullptr;
    tGetPackerCapsProc caps = nullptr;
    tOpenArchiveWProc openW = nullptr;
    tReadHeaderExProc readHeaderEx = nullptr;
    tReadHeaderExWProc readHeaderExW = nullptr;
    tProcessFileWProc processFileW = nullptr;
    tSetChangeVolProcWProc setChangeVolW = nullptr;
    tSetProcessDataProcWProc setProcessDataW = nullptr;
    tPackSetDefaultParamsProc setDefaultParams = nullptr;
    tGetBackgroundFlagsProc backgroundFlags = nullptr;
};

template <typename T>
void lookUp(HMODULE m, const char* name, T& out) {
    out = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
    if (!out) std::printf("FAILED: export %s missing\n", name);
    CHECK(out != nullptr);
}

// Loads the plug-in at `path` and looks up every export; false when it
// cannot be loaded.
bool load(Plugin& p, const std::string& path) {
    p = Plugin();
    p.module = LoadLibraryA(path.c_str());
    if (!p.module) {
        std::printf("FAILED: LoadLibraryA(%s) error %lu\n", path.c_str(), GetLastError());
        return false;
    }
    lookUp(p.module, "OpenArchive", p.open);
    lookUp(p.module, "ReadHeader", p.readHeader);
    lookUp(p.module, "ProcessFile", p.processFile);
    lookUp(p.module, "CloseArchive", p.close);
    lookUp(p.module, "SetChangeVolProc", p.setChangeVol);
    lookUp(p.module, "SetProcessDataProc", p.setProcessData);
    lookUp(p.module, "GetPackerCaps", p.caps);
    lookUp(p.module, "OpenArchiveW", p.openW);
    lookUp(p.module, "ReadHeaderEx", p.readHeaderEx);
    lookUp(p.module, "ReadHeaderExW", p.readHeaderExW);
    lookUp(p.module, "ProcessFileW", p.processFileW);
    lookUp(p.module, "SetChangeVolProcW", p.setChangeVolW);
    lookUp(p.module, "SetProcessDataProcW", p.setProcessDataW);
    lookUp(p.module, "PackSetDefaultParams", p.setDefaultParams);
    lookUp(p.module, "GetBackgroundFlags", p.backgroundFlags);
    return true;
}

void* openArchive(Plugin& p, const std::string& path, int& result) {
    tOpenArchiveData d = {};
    d.ArcName = const_cast<char*>(path.c_str());
    d.OpenResult = -1;
    void* h = p.open(&d);
    result = d.OpenResult;
    return h;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Removes the files (not the folders) of a scratch folder from earlier runs.
void clearFolder(const std::string& folder) {
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA((folder + fd.cFileName).c_str());
    } while (FindNextFileA(find, &fd));
    FindClose(find);
}

int g_progressCalls = 0;
int WCX_CALL countProgress(char*, int) {
    ++g_progressCalls;
    return 1;
}

std::wstring g_wideProgressName;
int g_wideProgressCalls = 0;
int WCX_CALL wideProgress(WCHAR* name, int) {
    ++g_wideProgressCalls;
    g_wideProgressName = name;
    return 1;
}

std::wstring widen(const std::string& ansi) {
    wchar_t buf[MAX_PATH];
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, buf, MAX_PATH);
    return n > 0 ? std::wstring(buf) : std::wstring();
}

bool writeFileW(const std::wstring& path, const Bytes& b) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

bool readFileW(const std::wstring& path, std::string& out) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    out.clear();
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return true;
}

void* openArchiveW(Plugin& p, const std::wstring& path, int& result) {
    tOpenArchiveDataW d = {};
    std::wstring name = path;
    d.ArcName = &name[0];
    d.OpenResult = -1;
    void* h = p.openW(&d);
    result = d.OpenResult;
    return h;
}

std::wstring wideName(const tHeaderDataExW& h) {
    size_t n = 0;
    while (n < 1024 && h.FileName[n]) ++n;
    return std::wstring(h.FileName, n);
}

bool writeText(const std::string& path, const std::string& text) {
    return writeFile(path, Bytes(text.begin(), text.end()));
}

// Names an archive lists, read through ReadHeaderExW and through ReadHeader.
struct Listing {
    int result = -1;
    std::vector<std::wstring> wide;
    std::vector<std::string> ansi;
};

Listing listBoth(Plugin& p, const std::string& path) {
    Listing l;
    void* h = openArchive(p, path, l.result);
    if (!h) return l;
    static tHeaderDataExW w;
    while (p.readHeaderExW(h, &w) == 0) l.wide.push_back(wideName(w));
    CHECK_EQ_INT(p.close(h), 0);
    h = openArchive(p, path, l.result);
    if (!h) return l;
    tHeaderData hd;
    while (p.readHeader(h, &hd) == 0) l.ansi.push_back(hd.FileName);
    CHECK_EQ_INT(p.close(h), 0);
    return l;
}

void setDefaultIni(Plugin& p, const std::string& iniName) {
    PackDefaultParamStruct dps = {};
    dps.size = sizeof dps;
    dps.PluginInterfaceVersionLow = 22;
    dps.PluginInterfaceVersionHi = 2;
    std::snprintf(dps.DefaultIniName, sizeof dps.DefaultIniName, "%s", iniName.c_str());
    p.setDefaultParams(&dps);
}

const char kDefaultIni[] =
    "flatArchive=0\r\nhideEmptyDirs=0\r\nhideStoredFiles=0\r\nhideStoredLinks=0\r\n"
    "showDeletedFiles=0\r\nshowReferenceFiles=0\r\nshowReferenceLinks=0\r\n";

// Names of format version 3 are bytes of a Windows code page: the ANSI
// functions report them as stored, the wide ones convert them with
// legacyCodePage when kiv.ini names one, else with the ANSI code page
// (1252 under Wine). Then where kiv.ini is found: beside the plug-in, else
// in the folder of the ini file the host suggests through
// PackSetDefaultParams; the default file goes beside the plug-in, and into
// the host's folder only where it cannot be created beside it.
void legacyNamesAndSettingsPlaces(Plugin& p, const std::string& scratch, const std::string& built,
                                  const std::string& fileName) {
    const std::string arcs = scratch + "legacy\\";
    CreateDirectoryA(arcs.c_str(), nullptr);
    clearFolder(arcs);
    const std::string hostDir = scratch + "host\\";
    CreateDirectoryA(hostDir.c_str(), nullptr);
    clearFolder(hostDir);
    const std::string hostIni = hostDir + "kiv.ini";
    const std::string besideIni = scratch + "plugin\\kiv.ini";

    // The same archives as the real-host test's: names made in code page
    // 1252 and in 1251, one of them with a folder in its path.
    const std::vector<FileDesc> western = {{"caf\xE9.txt", "1252", 0}, {"d\xFCr\\gr\xF6\xDF" "e.txt", "x", 0}};
    const std::vector<FileDesc> cyrillic = {{"\xEF\xF0\xE8\xE2\xE5\xF2.txt", "1251", 0},
                                            {"\xE4\xEE\xEA\\\xF4\xE0\xE9\xEB.txt", "y", 0}};
    const std::vector<std::wstring> westernWide = {L"caf\x00E9.txt", L"d\x00FCr\\gr\x00F6\x00DF" L"e.txt"};
    const std::vector<std::wstring> cyrillicIn1251 = {L"\x043F\x0440\x0438\x0432\x0435\x0442.txt",
                                                      L"\x0434\x043E\x043A\\\x0444\x0430\x0439\x043B.txt"};
    const std::vector<std::wstring> cyrillicIn1252 = {L"\x00EF\x00F0\x00E8\x00E2\x00E5\x00F2.txt",
                                                      L"\x00E4\x00EE\x00EA\\\x00F4\x00E0\x00E9\x00EB.txt"};
    const std::vector<std::wstring> cyrillicIn1253 = {L"\x03BF\x03C0\x03B8\x03B2\x03B5\x03C2.txt",
                                                      L"\x03B4\x03BE\x03BA\\\x03C4\x03B0\x03B9\x03BB.txt"};
    std::vector<std::string> cyrillicBytes, westernBytes;
    for (const FileDesc& f : cyrillic) cyrillicBytes.push_back(f.name);
    for (const FileDesc& f : western) westernBytes.push_back(f.name);

    // Each listing gets an archive file of its own, so that no context kept
    // from an earlier listing, with the settings it was read with, is reused.
    int serial = 0;
    const auto listed = [&](Plugin& plugin, const std::vector<FileDesc>& files) {
        const std::string path = arcs + "arc" + std::to_string(++serial) + ".kiv";
        CHECK(writeFile(path, makeArchive("03", files)));
        Listing l = listBoth(plugin, path);
        CHECK_EQ_INT(l.result, 0);
        return l;
    };

    // The default file that earlier closes wrote names no code page.
    {
        Listing w = listed(p, western), c = listed(p, cyrillic);
        CHECK(w.wide == westernWide);
        CHECK(c.wide == cyrillicIn1252);
        CHECK(w.ansi == westernBytes);
        CHECK(c.ansi == cyrillicBytes);
    }
    // legacyCodePage=1251: the wide names in Cyrillic, the ANSI ones as stored.
    CHECK(writeText(besideIni, "legacyCodePage=1251\n"));
    {
        Listing w = listed(p, western), c = listed(p, cyrillic);
        CHECK(c.wide == cyrillicIn1251);
        CHECK(c.ansi == cyrillicBytes);
        CHECK(w.wide[0] == L"caf\x0439.txt");
        CHECK(w.ansi == westernBytes);
        // The progress name of a test is the entry's wide path.
        int result = 0;
        void* h = openArchive(p, arcs + "arc" + std::to_string(serial) + ".kiv", result);
        if (h) {
            p.setProcessDataW(h, wideProgress);
            static tHeaderDataExW x;
            CHECK_EQ_INT(p.readHeaderExW(h, &x), 0);
            CHECK_EQ_INT(p.processFileW(h, PK_TEST, nullptr, nullptr), 0);
            CHECK(g_wideProgressName == cyrillicIn1251[0]);
            CHECK_EQ_INT(p.close(h), 0);
        }
    }
    // A number the system does not know keeps the ANSI code page.
    CHECK(writeText(besideIni, "legacyCodePage=12345\n"));
    CHECK(listed(p, cyrillic).wide == cyrillicIn1252);

    // The host's folder. Beside the plug-in there is a file: it wins.
    setDefaultIni(p, hostDir + "pkplugin.ini");
    CHECK(writeText(besideIni, "legacyCodePage=1251\n"));
    CHECK(writeText(hostIni, "legacyCodePage=1253\n"));
    CHECK(listed(p, cyrillic).wide == cyrillicIn1251);
    // Without it the host's file is read, and no default file is written beside.
    DeleteFileA(besideIni.c_str());
    CHECK(listed(p, cyrillic).wide == cyrillicIn1253);
    CHECK(GetFileAttributesA(besideIni.c_str()) == INVALID_FILE_ATTRIBUTES);
    // With neither, the default file goes beside the plug-in, whose folder
    // takes new files; the host's folder gets none.
    DeleteFileA(hostIni.c_str());
    CHECK(listed(p, cyrillic).wide == cyrillicIn1252);
    std::string text;
    CHECK(readFile(besideIni, text) && text == kDefaultIni);
    CHECK(GetFileAttributesA(hostIni.c_str()) == INVALID_FILE_ATTRIBUTES);
    FreeLibrary(p.module);
    p = Plugin();

    // A plug-in folder where kiv.ini cannot be created: a folder holds the
    // name. (Wine runs as root here, so permissions would not stop it.)
    const std::string blocked = scratch + "blocked\\";
    CreateDirectoryA(blocked.c_str(), nullptr);
    CreateDirectoryA((blocked + "kiv.ini").c_str(), nullptr);
    CHECK((GetFileAttributesA((blocked + "kiv.ini").c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
    const std::string blockedPlugin = blocked + fileName;
    CHECK(CopyFileA(built.c_str(), blockedPlugin.c_str(), FALSE));
    Plugin b;
    if (!load(b, blockedPlugin)) {
        ++g_failures;
        return;
    }
    // No host folder named yet: nothing can be written, and the closes
    // still succeed (listBoth checks them).
    CHECK(listed(b, cyrillic).wide == cyrillicIn1252);
    CHECK(GetFileAttributesA(hostIni.c_str()) == INVALID_FILE_ATTRIBUTES);
    // The host's file is read, and never rewritten...
    setDefaultIni(b, hostDir + "pkplugin.ini");
    CHECK(writeText(hostIni, "legacyCodePage=1253\n"));
    CHECK(listed(b, cyrillic).wide == cyrillicIn1253);
    CHECK(readFile(hostIni, text) && text == "legacyCodePage=1253\n");
    // ...and where there is none, the default file is written there.
    DeleteFileA(hostIni.c_str());
    CHECK(listed(b, cyrillic).wide == cyrillicIn1252);
    CHECK(readFile(hostIni, text) && text == kDefaultIni);
    FreeLibrary(b.module);
}

// More archives open at once than the two slots hold, as background
// unpacking opens them: narrow and wide opens beyond the slots get
// contexts of their own, each calling its own callbacks; closing them
// leaves the slots' kept contexts as they were.
void backgroundContexts(Plugin& p, const std::string& scratch) {
    const uint32_t t = 1000000000;
    int result = 0;
    const std::string slotArc = scratch + "slot.kiv";
    CHECK(writeFile(slotArc, makeArchive("08", {{"kept.txt", "kept", t}})));
    int r0 = -1, r1 = -1;
    void* slot0 = openArchive(p, slotArc, r0);
    void* slot1 = openArchiveW(p, widen(slotArc), r1);
    CHECK(slot0 != nullptr && slot1 != nullptr && slot0 != slot1);
    struct Extra {
        std::string path, name, data;
        bool wide;
        void* handle = nullptr;
    };
    std::vector<Extra> extras;
    for (int i = 0; i < 3; ++i) {
        Extra e{scratch + "extra" + std::to_string(i) + ".kiv", "e" + std::to_string(i) + ".txt",
                std::string(5000 + 3000 * i, char('a' + i)), i != 1};
        CHECK(writeFile(e.path, makeArchive("08", {{e.name, e.data, t}})));
        e.handle = e.wide ? openArchiveW(p, widen(e.path), result) : openArchive(p, e.path, result);
        CHECK_EQ_INT(result, 0);
        CHECK(e.handle != nullptr && e.handle != slot0 && e.handle != slot1);
        for (const Extra& other : extras) CHECK(e.handle != other.handle);
        extras.push_back(e);
    }
    g_progressCalls = 0;
    g_wideProgressCalls = 0;
    for (Extra& e : extras) {
        if (!e.handle) continue;
        const std::string dest = scratch + "out-" + e.name;
        if (e.wide) {
            p.setProcessDataW(e.handle, wideProgress);
            static tHeaderDataExW w;
            CHECK_EQ_INT(p.readHeaderExW(e.handle, &w), 0);
            CHECK(wideName(w) == widen(e.name));
            std::wstring wideDest = widen(dest);
            CHECK_EQ_INT(p.processFileW(e.handle, PK_EXTRACT, nullptr, &wideDest[0]), 0);
            CHECK(g_wideProgressName == wideDest);
        } else {
            p.setProcessData(e.handle, countProgress);
            tHeaderData hd = {};
            CHECK_EQ_INT(p.readHeader(e.handle, &hd), 0);
            CHECK(std::string(hd.FileName) == e.name);
            CHECK_EQ_INT(p.processFile(e.handle, PK_EXTRACT, nullptr, const_cast<char*>(dest.c_str())), 0);
        }
        std::string text;
        CHECK(readFile(dest, text) && text == e.data);
    }
    CHECK_EQ_INT(g_progressCalls, 2);      // 8000 bytes: one call per 4 KiB started
    CHECK_EQ_INT(g_wideProgressCalls, 5);  // 5000 and 11000 bytes
    for (Extra& e : extras)
        if (e.handle) CHECK_EQ_INT(p.close(e.handle), 0);
    // A closed extra context is gone, not parked.
    tHeaderData hd = {};
    if (extras[0].handle) CHECK_EQ_INT(p.readHeader(extras[0].handle, &hd), 10);
    CHECK_EQ_INT(p.readHeader(slot0, &hd), 0);
    CHECK(std::string(hd.FileName) == "kept.txt");
    p.close(slot0);
    p.close(slot1);
    CHECK(openArchive(p, slotArc, result) == slot0);
    CHECK(openArchiveW(p, widen(slotArc), result) == slot1);
    // At most 32 open at once; the 33rd is refused with 11.
    std::vector<void*> many = {slot0, slot1};
    for (int i = 0; i < 30; ++i) {
        many.push_back(openArchive(p, slotArc, result));
        CHECK(many.back() != nullptr);
    }
    CHECK(openArchive(p, slotArc, result) == nullptr);
    CHECK_EQ_INT(result, 11);
    for (void* handle : many)
        if (handle) p.close(handle);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: %s PLUGIN SCRATCH_DIR\n", argv[0]);
        return 100;
    }
    // Unix paths from the test runner become drive paths here.
    char full[MAX_PATH];
    GetFullPathNameA(argv[2], MAX_PATH, full, nullptr);
    std::string scratch = std::string(full) + "\\";
    CreateDirectoryA(scratch.c_str(), nullptr);
    clearFolder(scratch);
    // The plug-in gets a folder of its own, so kiv.ini is looked for there.
    const std::string pluginDir = scratch + "plugin\\";
    CreateDirectoryA(pluginDir.c_str(), nullptr);
    char* builtName = nullptr;
    GetFullPathNameA(argv[1], MAX_PATH, full, &builtName);
    const std::string pluginPath = pluginDir + (builtName ? builtName : "kiv.wcx64");
    if (!CopyFileA(full, pluginPath.c_str(), FALSE)) {
        std::printf("FAILED: cannot copy %s to %s\n", full, pluginPath.c_str());
        return 101;
    }
    const std::string ini = pluginDir + "kiv.ini";
    DeleteFileA(ini.c_str());

    Plugin p;
    if (!load(p, pluginPath)) return 102;
    if (g_failures) return g_failures;

    CHECK_EQ_INT(p.caps(), 132);
    CHECK_EQ_INT(p.backgroundFlags(), BACKGROUND_UNPACK);

    // A path that does not exist.
    int result = 0;
    void* h = openArchive(p, scratch + "missing.kiv", result);
    CHECK(h == nullptr);
    CHECK_EQ_INT(result, 15);

    // The 51-byte minimal archive: opens, lists nothing.
    {
        Bytes minimal = makeArchive("08", {});
        CHECK_EQ_INT(minimal.size(), 51);
        std::string path = scratch + "minimal.kiv";
        CHECK(writeFile(path, minimal));
        h = openArchive(p, path, result);
        CHECK(h != nullptr);
        CHECK_EQ_INT(result, 0);
        if (h) {
            tHeaderData hd;
            std::memset(&hd, 0x5A, sizeof hd);
            CHECK_EQ_INT(p.readHeader(h, &hd), 10);
            CHECK_EQ_INT(uint8_t(hd.FileName[0]), 0x5A);  // untouched at the end
            CHECK_EQ_INT(p.close(h), 0);
        }
    }

    // The settings file appears beside the plug-in (not beside this program)
    // on close, in text mode: CRLF line ends.
    {
        std::string text;
        CHECK(readFile(ini, text));
        CHECK(text ==
              "flatArchive=0\r\nhideEmptyDirs=0\r\nhideStoredFiles=0\r\nhideStoredLinks=0\r\n"
              "showDeletedFiles=0\r\nshowReferenceFiles=0\r\nshowReferenceLinks=0\r\n");
        if (!text.empty()) std::printf("kiv.ini: %zu bytes at %s\n", text.size(), ini.c_str());
    }

    // UTF-8 names from format version 4 on are shown in the ANSI code page;
    // version 3 names pass unchanged. Times become local DOS times (TZ=UTC).
    const std::string utf8Name = "gr\xC3\xBC\xC3\x9F" "e.txt";  // "grüße.txt"
    const uint32_t t = 1000000000;  // 2001-09-09 01:46:40 UTC
    const uint32_t dosTime = (21u << 25) | (9u << 21) | (9u << 16) | (1u << 11) | (46u << 5) | 20u;
    for (const char* version : {"08", "03"}) {
        std::string path = scratch + "names" + version + ".kiv";
        CHECK(writeFile(path, makeArchive(version, {{utf8Name, "abc", t}})));
        h = openArchive(p, path, result);
        CHECK_EQ_INT(result, 0);
        if (!h) continue;
        tHeaderData hd = {};
        CHECK_EQ_INT(p.readHeader(h, &hd), 0);
        std::string expected = utf8Name;
        if (std::strcmp(version, "08") == 0) {
            CHECK_EQ_INT(GetACP(), 1252);
            expected = "gr\xFC\xDF" "e.txt";  // the same name in code page 1252
        }
        CHECK(std::string(hd.FileName) == expected);
        CHECK_EQ_INT(uint32_t(hd.FileTime), dosTime);
        CHECK_EQ_INT(hd.UnpSize, 3);
        CHECK_EQ_INT(hd.PackSize, 3);
        CHECK_EQ_INT(hd.FileAttr, 0x20);
        CHECK_EQ_INT(p.readHeader(h, &hd), 10);
        CHECK_EQ_INT(p.close(h), 0);
    }

    // Extraction to a Windows path, once to a new file and once over an
    // existing one, which must be replaced.
    {
        std::string path = scratch + "extract.kiv";
        CHECK(writeFile(path, makeArchive("08", {{"a.txt", "abc", t}, {"b.txt", "hello", t}})));
        std::string dest = scratch + "out-b.txt";
        CHECK(writeFile(dest, Bytes(100, 'x')));  // longer than the entry
        for (int round = 0; round < 2; ++round) {
            h = openArchive(p, path, result);
            CHECK_EQ_INT(result, 0);
            if (!h) break;
            g_progressCalls = 0;
            p.setProcessData(h, countProgress);
            tHeaderData hd = {};
            CHECK_EQ_INT(p.readHeader(h, &hd), 0);
            std::string destA = scratch + "out-a.txt";
            if (round == 0) DeleteFileA(destA.c_str());
            CHECK_EQ_INT(p.processFile(h, PK_EXTRACT, nullptr, const_cast<char*>(destA.c_str())), 0);
            CHECK_EQ_INT(p.readHeader(h, &hd), 0);
            CHECK(std::string(hd.FileName) == "b.txt");
            CHECK_EQ_INT(p.processFile(h, PK_EXTRACT, nullptr, const_cast<char*>(dest.c_str())), 0);
            CHECK_EQ_INT(p.processFile(h, PK_TEST, nullptr, nullptr), 0);
            CHECK(g_progressCalls >= 3);
            CHECK_EQ_INT(p.close(h), 0);
            std::string text;
            CHECK(readFile(destA, text) && text == "abc");
            CHECK(readFile(dest, text) && text == "hello");
        }
        // No temporary file is left beside the destinations.
        WIN32_FIND_DATAA fd;
        HANDLE find = FindFirstFileA((scratch + "*").c_str(), &fd);
        int files = 0;
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
            } while (FindNextFileA(find, &fd));
            FindClose(find);
        }
        // minimal, names08, names03, extract, out-a, out-b
        CHECK_EQ_INT(files, 6);
    }

    // The newer functions: names exactly in UTF-16, whole sizes, long paths,
    // wide archive paths and destinations.
    {
        const std::string nihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";  // 日本語.txt
        const std::string nihon = "\xE6\x97\xA5\xE6\x9C\xAC.txt";                 // 日本.txt
        const std::string chuubun = "\xE4\xB8\xAD\xE6\x96\x87.txt";               // 中文.txt
        const std::string smile = "\xF0\x9F\x98\x80" "x";                           // U+1F600, then x
        const std::string broken = std::string("a\xC3") + "b";                        // a truncated sequence
        const std::string longName(600, 'L');
        // 1024 UTF-16 units whose cut at 1023 would split the pair after '\'.
        const std::string cutPair = std::string(1021, 's') + "\\" + smile;
        const std::wstring folder = widen(scratch) + L"\x6863\x6848\\";               // 档案: not in code page 1252
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring arc = folder + L"\x65E5.kiv";
        CHECK(writeFileW(arc, makeArchive("08", {{nihongo, "abc", t},
                                                 {nihon, "one", t},
                                                 {chuubun, "two", t},
                                                 {smile, "", t},
                                                 {broken, "", t},
                                                 {"big", "", t, 5368709120ULL},
                                                 {longName, "", t},
                                                 {cutPair, "", t}})));
        const std::vector<std::wstring> wideNames = {L"\x65E5\x672C\x8A9E.txt", L"\x65E5\x672C.txt",
                                                     L"\x4E2D\x6587.txt", L"\xD83D\xDE00x", L"a\xFFFD" L"b",
                                                     L"big", std::wstring(600, L'L'),
                                                     std::wstring(1021, L's') + L"\\_"};
        const std::vector<std::string> ansiNames = {"???.txt", "??.txt", "??.txt", "??x", "a?b", "big",
                                                    std::string(259, 'L'), std::string(259, 's')};
        const std::vector<std::string> exNames = {"???.txt", "??.txt", "??.txt", "??x", "a?b", "big",
                                                  longName, std::string(1021, 's') + "\\?"};
        // The narrow open cannot spell the path; the wide one opens it.
        h = openArchiveW(p, arc, result);
        CHECK_EQ_INT(result, 0);
        if (h) {
            static tHeaderDataExW w;
            for (size_t i = 0; i < wideNames.size(); ++i) {
                std::memset(&w, 0, sizeof w);
                CHECK_EQ_INT(p.readHeaderExW(h, &w), 0);
                CHECK(wideName(w) == wideNames[i]);
                if (i == 5) {
                    CHECK_EQ_INT(w.UnpSize, 1073741824u);
                    CHECK_EQ_INT(w.UnpSizeHigh, 1u);
                    CHECK_EQ_INT(w.PackSize, 1073741824u);
                    CHECK_EQ_INT(w.PackSizeHigh, 1u);
                }
                CHECK_EQ_INT(uint32_t(w.FileTime), dosTime);
                CHECK_EQ_INT(w.FileAttr, 0x20);
            }
            CHECK_EQ_INT(p.readHeaderExW(h, &w), 10);
            CHECK_EQ_INT(p.close(h), 0);
        }
        // The same archive copied to a narrow path: ReadHeader keeps the '?'
        // form and 32-bit sizes; ReadHeaderEx whole sizes and 600 bytes.
        const std::string narrowArc = scratch + "wide-names.kiv";
        CHECK(CopyFileW(arc.c_str(), widen(narrowArc).c_str(), FALSE));
        for (int round = 0; round < 2; ++round) {
            h = openArchive(p, narrowArc, result);
            CHECK_EQ_INT(result, 0);
            if (!h) break;
            for (size_t i = 0; i < ansiNames.size(); ++i) {
                if (round == 0) {
                    tHeaderData hd = {};
                    CHECK_EQ_INT(p.readHeader(h, &hd), 0);
                    CHECK(std::string(hd.FileName) == ansiNames[i]);
                    if (i == 5) CHECK_EQ_INT(uint32_t(hd.UnpSize), 1073741824u);
                } else {
                    static tHeaderDataEx x;
                    std::memset(&x, 0, sizeof x);
                    CHECK_EQ_INT(p.readHeaderEx(h, &x), 0);
                    CHECK(std::string(x.FileName) == exNames[i]);
                    if (i == 5) CHECK_EQ_INT((uint64_t(x.UnpSizeHigh) << 32) | x.UnpSize, 5368709120ULL);
                }
            }
            CHECK_EQ_INT(p.close(h), 0);
        }
        // Extraction through ProcessFileW into a folder with a CJK name: the
        // names that collapse in ANSI stay two files. The wide callback hears
        // of the wide destination.
        const std::wstring out = folder + L"\x51FA\x529B\\";  // 出力
        CreateDirectoryW(out.c_str(), nullptr);
        h = openArchiveW(p, arc, result);
        CHECK_EQ_INT(result, 0);
        if (h) {
            g_progressCalls = 0;
            g_wideProgressCalls = 0;
            p.setProcessData(h, countProgress);
            p.setProcessDataW(h, wideProgress);
            static tHeaderDataExW w;
            for (int i = 0; i < 3; ++i) {
                CHECK_EQ_INT(p.readHeaderExW(h, &w), 0);
                // The third folder comes without its separator: one is put between.
                std::wstring dir = i == 2 ? out.substr(0, out.size() - 1) : out, name = wideName(w);
                CHECK_EQ_INT(p.processFileW(h, PK_EXTRACT, &dir[0], &name[0]), 0);
                if (i == 0) CHECK(g_wideProgressName == out + wideNames[0]);
                if (i == 2) CHECK(g_wideProgressName == out + wideNames[2]);
                // A second extraction replaces the file through a temporary one.
                if (i == 1) CHECK_EQ_INT(p.processFileW(h, PK_EXTRACT, &dir[0], &name[0]), 0);
            }
            // A destination past MAX_PATH, and one past 1023 characters.
            const std::wstring deep = out + std::wstring(200, L'd') + L"\\" + std::wstring(200, L'e') + L"\\";
            CreateDirectoryW((L"\\\\?\\" + out + std::wstring(200, L'd')).c_str(), nullptr);
            CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
            std::wstring deepDir = deep, deepName = wideNames[2];
            CHECK_EQ_INT(p.processFileW(h, PK_EXTRACT, &deepDir[0], &deepName[0]), 0);
            std::string deepText;
            CHECK(readFileW(L"\\\\?\\" + deep + wideNames[2], deepText) && deepText == "two");
            std::wstring tooLong = deep + std::wstring(1024 - deep.size(), L'n');
            CHECK_EQ_INT(p.processFileW(h, PK_EXTRACT, nullptr, &tooLong[0]), 16);
            CHECK_EQ_INT(p.processFileW(h, PK_TEST, nullptr, nullptr), 0);
            CHECK(g_wideProgressName == wideNames[2]);  // in test mode the entry's path
            CHECK_EQ_INT(g_progressCalls, 0);
            CHECK(g_wideProgressCalls >= 6);
            CHECK_EQ_INT(p.close(h), 0);
            std::string text;
            CHECK(readFileW(out + wideNames[0], text) && text == "abc");
            CHECK(readFileW(out + wideNames[1], text) && text == "one");
            CHECK(readFileW(out + wideNames[2], text) && text == "two");
            WIN32_FIND_DATAW fd;
            HANDLE find = FindFirstFileW((out + L"*").c_str(), &fd);
            int files = 0;
            if (find != INVALID_HANDLE_VALUE) {
                do {
                    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
                } while (FindNextFileW(find, &fd));
                FindClose(find);
            }
            CHECK_EQ_INT(files, 3);  // no temporary file left
        }
        // A wide open finds its kept context again by its wide path, beside
        // a narrow one kept in the other slot.
        void* wideHandle = openArchiveW(p, arc, result);
        void* narrowHandle = openArchive(p, narrowArc, result);
        CHECK(wideHandle != nullptr && narrowHandle != nullptr && wideHandle != narrowHandle);
        if (wideHandle) p.close(wideHandle);
        if (narrowHandle) p.close(narrowHandle);
        CHECK(openArchive(p, narrowArc, result) == narrowHandle);
        CHECK(openArchiveW(p, arc, result) == wideHandle);
        if (wideHandle) p.close(wideHandle);
        if (narrowHandle) p.close(narrowHandle);
    }

    backgroundContexts(p, scratch);
    legacyNamesAndSettingsPlaces(p, scratch, full, builtName ? builtName : "kiv.wcx64");
    std::printf("%s: %d failed checks\n", g_failures ? "FAIL" : "PASS", g_failures);
    return g_failures;
}
