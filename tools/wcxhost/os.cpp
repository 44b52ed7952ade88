// POSIX and Windows implementations of os.h, side by side so the rest of the
// tool never needs a system header.
#include "os.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <conio.h>
#include <direct.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace os {

// Portable: UTF-16 and UTF-8 of the tool's own texts. Unpaired surrogates
// and invalid bytes become U+FFFD.
std::string utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        size_t len = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        uint32_t v = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            ok = (s[i + k] & 0xC0) == 0x80;
            v = (v << 6) | (s[i + k] & 0x3F);
        }
        if (ok && ((len == 3 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) || (len == 4 && (v < 0x10000 || v > 0x10FFFF))))
            ok = false;
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (v >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(v);
        }
        i += len;
    }
    return out;
}

#ifdef _WIN32

namespace {
std::wstring wide(const std::string& utf8) {
    const std::u16string w = utf8ToUtf16(utf8);
    return std::wstring(w.begin(), w.end());
}
std::string fromWide(const wchar_t* text, size_t n) {
    return utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text), n));
}
}  // namespace

bool narrowIsUtf8() { return false; }

std::string ansiToUtf8(const std::string& ansi) {
    if (ansi.empty()) return ansi;
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (n <= 0) return std::string();
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &w[0], n);
    return fromWide(w.data(), w.size());
}

std::string utf8ToAnsi(const std::string& utf8) {
    const std::wstring w = wide(utf8);
    if (w.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::vector<std::string> arguments(int argc, char** argv) {
    std::vector<std::string> out;
    int n = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &n);
    if (args && n == argc) {
        for (int i = 0; i < n; ++i) out.push_back(fromWide(args[i], wcslen(args[i])));
    } else {
        for (int i = 0; i < argc; ++i) out.push_back(ansiToUtf8(argv[i]));
    }
    if (args) LocalFree(args);
    return out;
}

namespace {
// The system's text for an error code, in UTF-8, without the line end.
std::string systemMessage(DWORD code) {
    wchar_t buf[512] = {0};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                             sizeof buf / sizeof buf[0], nullptr);
    while (n > 0 && (buf[n - 1] == L'\n' || buf[n - 1] == L'\r' || buf[n - 1] == L' ')) --n;
    return n ? fromWide(buf, n) : "error " + std::to_string(static_cast<unsigned long>(code));
}

std::string lastErrorText() {
    DWORD code = GetLastError();
    return systemMessage(code) + " (" + std::to_string(static_cast<unsigned long>(code)) + ")";
}

// The system's text for the last error, as the end of a sentence.
std::string lastErrorReason() {
    std::string text = systemMessage(GetLastError());
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}
}  // namespace

void* loadLibrary(const std::string& path, std::string& error) {
    HMODULE h = LoadLibraryW(wide(path).c_str());
    if (!h) error = lastErrorText();
    return reinterpret_cast<void*>(h);
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void unloadLibrary(void* library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

char separator() { return '\\'; }
bool isSeparator(char c) { return c == '\\' || c == '/'; }
bool colonAllowedInNames() { return false; }

std::string executableDir() {
    wchar_t buf[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "";
    std::string path = fromWide(buf, n);
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string absolutePath(const std::string& path) {
    wchar_t buf[1025] = {0};
    DWORD n = GetFullPathNameW(wide(path).c_str(), 1024, buf, nullptr);
    if (n == 0 || n >= 1024) return path;
    return fromWide(buf, n);
}

std::vector<std::string> configHomes() { return {}; }

PathState pathState(const std::string& path) {
    DWORD attr = GetFileAttributesW(wide(path).c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return PathState::Missing;
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) return PathState::Link;
    if (attr & FILE_ATTRIBUTE_DIRECTORY) return PathState::Directory;
    return PathState::File;
}

bool isFolder(const std::string& path) {
    DWORD attr = GetFileAttributesW(wide(path).c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string whyUnreadable(const std::string& path, uint64_t& size) {
    const std::wstring name = wide(path);
    DWORD attr = GetFileAttributesW(name.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return lastErrorReason();
    if (attr & FILE_ATTRIBUTE_DIRECTORY) return "Is a directory";
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastErrorReason();
    std::string why;
    LARGE_INTEGER length;
    if (GetFileType(h) != FILE_TYPE_DISK)
        why = "not a regular file";
    else if (GetFileSizeEx(h, &length))
        size = static_cast<uint64_t>(length.QuadPart);
    else
        why = lastErrorReason();
    CloseHandle(h);
    return why;
}

bool makeDirectory(const std::string& path, std::string* why) {
    if (CreateDirectoryW(wide(path).c_str(), nullptr)) return true;
    const std::string reason = lastErrorReason();
    if (pathState(path) == PathState::Directory) return true;
    if (why) *why = reason;
    return false;
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

int terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        int cols = info.srWindow.Right - info.srWindow.Left + 1;
        if (cols > 10) return cols;
    }
    return 80;
}

TerminalRead readTerminalLine(const std::string& prompt, bool masked, std::string& line) {
    HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return TerminalRead::NoTerminal;
    HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    if (out != INVALID_HANDLE_VALUE) WriteConsoleA(out, prompt.data(), static_cast<DWORD>(prompt.size()), &written, nullptr);
    DWORD oldMode = 0;
    GetConsoleMode(in, &oldMode);
    DWORD mode = oldMode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
    if (masked) mode &= ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
    SetConsoleMode(in, mode);
    line.clear();
    bool gotLine = false;
    char c;
    DWORD got = 0;
    while (ReadFile(in, &c, 1, &got, nullptr) && got == 1) {
        if (c == '\n') {
            gotLine = true;
            break;
        }
        if (c != '\r') line.push_back(c);
    }
    SetConsoleMode(in, oldMode);
    if (out != INVALID_HANDLE_VALUE) {
        if (masked) WriteConsoleA(out, "\r\n", 2, &written, nullptr);
        CloseHandle(out);
    }
    CloseHandle(in);
    return gotLine ? TerminalRead::Line : TerminalRead::Ended;
}

void onInterrupt(void (*handler)(int)) { signal(SIGINT, handler); }

#else  // POSIX

bool narrowIsUtf8() { return true; }
std::string ansiToUtf8(const std::string& ansi) { return ansi; }
std::string utf8ToAnsi(const std::string& utf8) { return utf8; }

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void* loadLibrary(const std::string& path, std::string& error) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* why = dlerror();
        error = why ? why : "cannot load";
    }
    return h;
}

void* findSymbol(void* library, const char* name) { return dlsym(library, name); }

void unloadLibrary(void* library) {
    if (library) dlclose(library);
}

char separator() { return '/'; }
bool isSeparator(char c) { return c == '/'; }
bool colonAllowedInNames() { return true; }

std::string executableDir() {
    char buf[PATH_MAX + 1] = {0};
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return "";
    std::string path(buf, static_cast<size_t>(n));
    size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string absolutePath(const std::string& path) {
    char buf[PATH_MAX + 1] = {0};
    if (realpath(path.c_str(), buf)) return buf;
    return path;
}

std::vector<std::string> configHomes() {
    std::vector<std::string> homes;
    auto add = [&homes](std::string folder) {
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        if (homes.empty() || homes.front() != folder) homes.push_back(folder);
    };
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') add(xdg);  // a relative value is to be ignored
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const struct passwd* account = getpwuid(getuid());
        home = account ? account->pw_dir : nullptr;
    }
    if (home && *home) add(std::string(home) + "/.config");
    return homes;
}

PathState pathState(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return PathState::Missing;
    if (S_ISLNK(st.st_mode)) return PathState::Link;
    if (S_ISDIR(st.st_mode)) return PathState::Directory;
    if (S_ISREG(st.st_mode)) return PathState::File;
    return PathState::Other;
}

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string whyUnreadable(const std::string& path, uint64_t& size) {
    // Judged before opening: opening a pipe for reading would wait for a writer.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::strerror(errno);
    close(fd);
    size = static_cast<uint64_t>(st.st_size);
    return "";
}

bool makeDirectory(const std::string& path, std::string* why) {
    if (mkdir(path.c_str(), 0777) == 0) return true;
    const int error = errno;
    if (error == EEXIST && pathState(path) == PathState::Directory) return true;
    if (why) *why = error == EEXIST ? "it exists and is not a folder" : std::strerror(error);
    return false;
}

bool stderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

int terminalColumns() {
    struct winsize ws;
    if (ioctl(fileno(stderr), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 10) return ws.ws_col;
    return 80;
}

namespace {
// Puts the terminal's echo back however the prompt is left.
class EchoGuard {
public:
    EchoGuard(int fd, bool masked) : fd_(fd) {
        if (masked && tcgetattr(fd, &saved_) == 0) {
            struct termios quiet = saved_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            quiet.c_lflag |= ECHONL;
            active_ = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~EchoGuard() {
        if (active_) tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    EchoGuard(const EchoGuard&) = delete;
    EchoGuard& operator=(const EchoGuard&) = delete;

private:
    int fd_;
    struct termios saved_ {};
    bool active_ = false;
};
}  // namespace

TerminalRead readTerminalLine(const std::string& prompt, bool masked, std::string& line) {
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return TerminalRead::NoTerminal;
    bool gotLine = false;
    {
        EchoGuard guard(fd, masked);
        if (write(fd, prompt.data(), prompt.size()) < 0) { /* the answer can still be read */ }
        line.clear();
        char c;
        for (;;) {
            ssize_t n = read(fd, &c, 1);
            // An interrupt (Ctrl-C) ends the prompt like end of input: cancel.
            if (n != 1) break;
            if (c == '\n') {
                gotLine = true;
                break;
            }
            if (c != '\r') line.push_back(c);
        }
    }
    close(fd);
    return gotLine ? TerminalRead::Line : TerminalRead::Ended;
}

void onInterrupt(void (*handler)(int)) {
    // Without SA_RESTART, so that a terminal prompt waiting for input returns.
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
}

#endif

}  // namespace os
