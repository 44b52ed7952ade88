// Win32 implementation of the platform interface: the module's own path,
// ANSI names, msvcrt streams and times, the beep and the password dialog.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/platform.h"

namespace platform {

static_assert(sizeof(fpos_t) == 8, "stream positions must be 64-bit");

namespace {

// Module-wide values are read by calls on any of the host's threads.
std::atomic<HMODULE> g_module{nullptr};
std::atomic<unsigned> g_beeps{0};

// Owner of the password dialog. Kept across searches: a search that finds
// nothing reuses the window an earlier one found.
std::atomic<HWND> g_owner{nullptr};
// Where the dialog puts the password. DialogBoxParamA gets 0 as its initial
// parameter, so the procedure finds the buffer here. The dialog procedure
// runs on the thread that shows the dialog, and dialogs for archives opened
// on different threads may be shown at once: one target per thread.
thread_local char* g_passwordTarget = nullptr;

const int kPasswordBytes = 80;
const int kPasswordEdit = 1000;
const WORD kPasswordDialog = 101;

}  // namespace

Path& Path::appendComponent(const Path& name) {
    if (isWide_) {
        if (!wide_.empty() && wide_.back() != u'\\' && wide_.back() != u'/') wide_ += u'\\';
        return *this += name;
    }
    // In a double-byte ANSI code page the last byte may be the second half
    // of a character, which is no separator even when it is 5C.
    bool endsInSeparator = false;
    for (size_t i = 0; i < narrow_.size(); ++i) {
        const char c = narrow_[i];
        endsInSeparator = c == '\\' || c == '/';
        if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < narrow_.size()) ++i;
    }
    if (!narrow_.empty() && !endsInSeparator) narrow_ += '\\';
    return *this += name;
}

void setModuleHandle(void* handle) { g_module.store(static_cast<HMODULE>(handle)); }

void* moduleHandle() { return g_module.load(); }

std::string modulePath() {
    char name[MAX_PATH];
    DWORD n = GetModuleFileNameA(g_module.load(), name, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();  // failed or cut short
    return std::string(name, n);
}

std::string besideModule(const char* name) {
    // The two path buffers belong to the call: several threads may form the
    // settings path at once.
    char moduleName[MAX_PATH];
    char fullPath[MAX_PATH];
    DWORD n = GetModuleFileNameA(g_module.load(), moduleName, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    char* filePart = nullptr;
    DWORD full = GetFullPathNameA(moduleName, MAX_PATH, fullPath, &filePart);
    if (full == 0 || full >= MAX_PATH || filePart == nullptr) return std::string();
    // lstrcpyA does not check room; the file name must fit in what is left.
    if (static_cast<size_t>(filePart - fullPath) + std::strlen(name) >= MAX_PATH)
        return std::string();
    lstrcpyA(filePart, name);
    return std::string(fullPath);
}

std::string utf8ToHost(std::string utf8) {
    // Plain ASCII is the same in every ANSI code page: no conversion needed.
    bool ascii = true;
    for (unsigned char c : utf8) ascii = ascii && c < 0x80 && c != 0;
    if (ascii) return utf8;
    int len = static_cast<int>(utf8.size());
    int wideLen = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, nullptr, 0);
    if (wideLen <= 0) return std::string();
    std::vector<wchar_t> wide(static_cast<size_t>(wideLen));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, wide.data(), wideLen);
    int ansiLen = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLen, nullptr, 0, nullptr, nullptr);
    if (ansiLen <= 0) return std::string();
    std::vector<char> ansi(static_cast<size_t>(ansiLen));
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLen, ansi.data(), ansiLen, nullptr, nullptr);
    // The name ends at its first NUL, as a C string would.
    return std::string(ansi.data(), strnlen(ansi.data(), ansi.size()));
}

// The runtime keeps localtime's result in a structure of the calling
// thread, so calls from several threads do not share it.
void cutAtHostTerminator(std::string& utf8) {
    const size_t nul = utf8.find('\0');
    if (nul != std::string::npos) utf8.resize(nul);
}

std::u16string ansiToUtf16(const std::string& ansi, unsigned codePage) {
    const int len = static_cast<int>(ansi.size());
    if (len == 0) return std::u16string();
    const UINT cp = codePage != 0 ? codePage : CP_ACP;
    const int wideLen = MultiByteToWideChar(cp, 0, ansi.data(), len, nullptr, 0);
    if (wideLen <= 0) return std::u16string();
    std::wstring wide(static_cast<size_t>(wideLen), L'\0');
    MultiByteToWideChar(cp, 0, ansi.data(), len, &wide[0], wideLen);
    return std::u16string(wide.begin(), wide.end());
}

bool knowsCodePage(unsigned codePage) {
    return codePage != 0 && codePage <= 65535 && IsValidCodePage(codePage) != 0;
}

std::string utf16ToAnsi(const std::u16string& text) {
    const std::wstring wide(text.begin(), text.end());
    const int len = static_cast<int>(wide.size());
    if (len == 0) return std::string();
    const int ansiLen = WideCharToMultiByte(CP_ACP, 0, wide.data(), len, nullptr, 0, nullptr, nullptr);
    if (ansiLen <= 0) return std::string();
    std::string ansi(static_cast<size_t>(ansiLen), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), len, &ansi[0], ansiLen, nullptr, nullptr);
    return ansi;
}

bool localTime(int32_t seconds, std::tm& out) {
    if (seconds < 0) return false;
    __time32_t t = seconds;
    std::tm* tm = _localtime32(&t);
    if (tm == nullptr) return false;
    out = *tm;
    return true;
}

namespace {

// A wide path as the system's wide calls take it. Past MAX_PATH they need
// the extended form, which turns off the system's own parsing of the text,
// so it is given only to absolute paths, with '/' spelled '\\'.
std::wstring systemWide(const Path& path) {
    std::wstring w(path.units().begin(), path.units().end());
    if (w.size() + 12 < MAX_PATH) return w;
    for (wchar_t& c : w)
        if (c == L'/') c = L'\\';
    if (w.size() > 2 && w[1] == L':' && w[2] == L'\\') return L"\\\\?\\" + w;
    if (w.size() > 2 && w[0] == L'\\' && w[1] == L'\\' && w[2] != L'?' && w[2] != L'.')
        return L"\\\\?\\UNC\\" + w.substr(2);
    return w;
}

int openFile(const Path& path, int flags) {
    if (path.isWide()) return _wopen(systemWide(path).c_str(), flags, _S_IREAD | _S_IWRITE);
    return _open(path.narrow().c_str(), flags, _S_IREAD | _S_IWRITE);
}

std::FILE* openStream(const Path& path, bool write) {
    if (path.isWide()) return _wfopen(systemWide(path).c_str(), write ? L"wb" : L"rb");
    return std::fopen(path.narrow().c_str(), write ? "wb" : "rb");
}

void removePath(const Path& path) {
    if (path.isWide()) _wremove(systemWide(path).c_str());
    else std::remove(path.narrow().c_str());
}

}  // namespace

bool fileModTime(const Path& path, int64_t& mtime) {
    struct _stat64 st;
    const int rc = path.isWide() ? _wstat64(systemWide(path).c_str(), &st) : _stat64(path.narrow().c_str(), &st);
    if (rc != 0) return false;
    mtime = static_cast<int64_t>(st.st_mtime);
    return true;
}

std::FILE* openRead(const Path& path) {
    std::FILE* f = openStream(path, false);
    if (f && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != FILE_TYPE_DISK) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

bool seekFile(std::FILE* f, int64_t pos) {
    fpos_t p = pos;
    return std::fsetpos(f, &p) == 0;
}

int64_t fileLength(std::FILE* f) {
    std::fflush(f);
    __int64 len = _filelengthi64(_fileno(f));
    return len < 0 ? -1 : static_cast<int64_t>(len);
}

PathKind pathKind(const Path& path) {
    DWORD attr = path.isWide() ? GetFileAttributesW(systemWide(path).c_str()) : GetFileAttributesA(path.narrow().c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return PathKind::Missing;
        return PathKind::Other;
    }
    if (attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return PathKind::Other;
    return PathKind::Regular;
}

std::FILE* createNew(const Path& path, bool& exists) {
    exists = false;
    const int fd = openFile(path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "wb");
    if (f == nullptr) {
        _close(fd);
        removePath(path);
        return nullptr;
    }
    std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

std::FILE* openTruncated(const Path& path) {
    std::FILE* f = openStream(path, true);
    if (f) std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

bool setFileTime(std::FILE* f, int64_t unixSeconds) {
    std::fflush(f);
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    if (h == INVALID_HANDLE_VALUE) return false;
    // 100-nanosecond intervals since 1601-01-01.
    const uint64_t ticks = static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return SetFileTime(h, nullptr, &ft, &ft) != 0;
}

std::FILE* createTempBeside(const Path& dest, Path& tempPath) {
    const Path folder = dest.folder();
    static std::atomic<unsigned> counter{0};
    char name[64];
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::snprintf(name, sizeof name, "~kiv%lx-%u.tmp",
                      static_cast<unsigned long>(GetCurrentProcessId()), ++counter);
        Path candidate = folder;
        candidate.appendAscii(name);
        // Exclusive create, so a file that appeared meanwhile is never taken over.
        int fd = openFile(candidate, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        std::FILE* f = _fdopen(fd, "wb");
        if (f == nullptr) {
            _close(fd);
            removePath(candidate);
            return nullptr;
        }
        std::setvbuf(f, nullptr, _IONBF, 0);
        tempPath = candidate;
        return f;
    }
    return nullptr;
}

std::FILE* createTempBeside(const std::string& dest, std::string& tempPath) {
    Path temp;
    std::FILE* f = createTempBeside(Path(dest), temp);
    if (f) tempPath = temp.narrow();
    return f;
}

bool replaceFile(const Path& from, const Path& to) {
    if (from.isWide() != to.isWide()) return false;
    if (from.isWide())
        return MoveFileExW(systemWide(from).c_str(), systemWide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    return MoveFileExA(from.narrow().c_str(), to.narrow().c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void removeFile(const Path& path) { removePath(path); }

size_t maxPathBytes() { return MAX_PATH; }

unsigned processorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<unsigned>(info.dwNumberOfProcessors) : 1u;
}

void beep() {
    MessageBeep(0xFFFFFFFF);
    ++g_beeps;
}

unsigned beepCount() { return g_beeps.load(); }

namespace {

// First top-level window of this process whose title names the file manager.
BOOL CALLBACK findOwner(HWND hwnd, LPARAM processId) {
    DWORD pid = 0;
    if (GetWindowThreadProcessId(hwnd, &pid) == 0 || pid != static_cast<DWORD>(processId))
        return TRUE;
    char title[256];
    GetWindowTextA(hwnd, title, sizeof title);
    if (std::strstr(title, "Total Commander") != nullptr) {
        g_owner.store(hwnd);
        return FALSE;
    }
    return TRUE;
}

INT_PTR CALLBACK passwordDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        int x = GetSystemMetrics(SM_CXSCREEN) / 2 - 185;
        int y = GetSystemMetrics(SM_CYSCREEN) / 2 - 100;
        SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE);
        SetActiveWindow(hwnd);
        SetFocus(GetDlgItem(hwnd, kPasswordEdit));
        return 0;  // the focus is set already; keep the dialog manager off it
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (GetDlgItemTextA(hwnd, kPasswordEdit, g_passwordTarget, kPasswordBytes) == 0)
                g_passwordTarget[0] = 0;
            EndDialog(hwnd, static_cast<INT_PTR>(wParam));
            return 1;
        case IDCANCEL:
            EndDialog(hwnd, static_cast<INT_PTR>(wParam));
            return 1;
        default:
            return 0;
        }
    default:
        return 0;
    }
}

}  // namespace

int promptPassword(char* buffer) {
    EnumWindows(findOwner, static_cast<LPARAM>(GetCurrentProcessId()));
    g_passwordTarget = buffer;
    INT_PTR result = DialogBoxParamA(g_module.load(), MAKEINTRESOURCEA(kPasswordDialog), g_owner.load(),
                                     passwordDialogProc, 0);
    g_passwordTarget = nullptr;
    return static_cast<int>(result);
}

void clearOwnerWindow() { g_owner.store(nullptr); }

}  // namespace platform
