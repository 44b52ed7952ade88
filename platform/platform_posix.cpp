// POSIX implementation of the platform interface (Linux file managers load
// the same plug-in from a shared object).
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <sched.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "plugin/load.h"

namespace platform {

namespace {
// Module-wide values are read by calls on any of the host's threads.
std::atomic<void*> module{nullptr};
std::atomic<unsigned> beeps{0};
std::atomic<InputBoxFunction> inputBox{nullptr};
// One terminal, one question at a time: two prompts reading it at once
// would split the typed line between them, and the second would save the
// first one's echo-off state and restore it. Only terminal prompts wait
// here; the input box is asked without a lock.
std::mutex terminalLock;

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}
}  // namespace

// POSIX names only '/' a separator: '\\' is a character of file names.
Path& Path::appendComponent(const Path& name) {
    if (!narrow_.empty() && narrow_.back() != '/') narrow_ += '/';
    return *this += name;
}

void setModuleHandle(void* handle) { module.store(handle); }
void* moduleHandle() { return module.load(); }

std::string modulePath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&modulePath), &info) || !info.dli_fname) return std::string();
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
}

std::string besideModule(const char* name) {
    const std::string path = modulePath();
    if (path.empty()) return path;
    const std::string result = folderOf(path) + name;
    return result.size() < PATH_MAX ? result : std::string();
}

// Valid UTF-8 passes unchanged; every byte of an invalid sequence (stray
// continuation bytes, overlong forms, surrogates, values past U+10FFFF,
// truncated sequences) becomes '?'.
void cutAtHostTerminator(std::string&) {}

std::string utf8ToHost(std::string in) {
    // Most names are valid: check first, and copy only when something must change.
    {
        const auto* s = reinterpret_cast<const unsigned char*>(in.data());
        size_t i = 0;
        while (i < in.size() && s[i] < 0x80) ++i;
        if (i == in.size()) return in;
    }
    std::string out;
    out.reserve(in.size());
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (c < 0x80) len = 1;
        else if (c >= 0xC2 && c <= 0xDF) len = 2;
        else if (c == 0xE0) len = 3, lo = 0xA0;
        else if (c >= 0xE1 && c <= 0xEC) len = 3;
        else if (c == 0xED) len = 3, hi = 0x9F;
        else if (c >= 0xEE && c <= 0xEF) len = 3;
        else if (c == 0xF0) len = 4, lo = 0x90;
        else if (c >= 0xF1 && c <= 0xF3) len = 4;
        else if (c == 0xF4) len = 4, hi = 0x8F;
        bool valid = len != 0 && i + len <= n;
        if (valid && len > 1) {
            valid = s[i + 1] >= lo && s[i + 1] <= hi;
            for (size_t k = 2; valid && k < len; ++k) valid = s[i + k] >= 0x80 && s[i + k] <= 0xBF;
        }
        if (valid) {
            out.append(in, i, len);
            i += len;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

namespace {
// The C library's name of a Windows code page: "CP1252", "CP932", ..., and
// the few Windows numbers of other character sets that it names otherwise.
std::string iconvName(unsigned codePage) {
    if (codePage == 65001) return "UTF-8";
    if (codePage == 20127) return "ASCII";
    if (codePage == 20866) return "KOI8-R";
    if (codePage == 21866) return "KOI8-U";
    if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
    return "CP" + std::to_string(codePage);
}

iconv_t openConverter(unsigned codePage) {
    if (codePage == 0 || codePage > 65535) return reinterpret_cast<iconv_t>(-1);
    return iconv_open("UTF-8", iconvName(codePage).c_str());
}

bool opened(iconv_t cd) { return cd != reinterpret_cast<iconv_t>(-1); }

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
}  // namespace

bool knowsCodePage(unsigned codePage) {
    const iconv_t cd = openConverter(codePage);
    if (!opened(cd)) return false;
    iconv_close(cd);
    return true;
}

LegacyNames::LegacyNames(unsigned codePage) {
    iconv_t cd = openConverter(codePage);
    if (!opened(cd)) cd = openConverter(kDefaultLegacyCodePage);
    converter_ = cd;
    if (!opened(cd)) return;
    // Checked once: ASCII names then need no conversion at all.
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
    asciiAsItIs_ = toUtf8(ascii) == ascii;
}

LegacyNames::~LegacyNames() {
    if (opened(static_cast<iconv_t>(converter_))) iconv_close(static_cast<iconv_t>(converter_));
}

std::string LegacyNames::toUtf8(const std::string& bytes) {
    const iconv_t cd = static_cast<iconv_t>(converter_);
    if (asciiAsItIs_) {
        size_t i = 0;
        while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
        if (i == bytes.size()) return bytes;
    }
    std::string out;
    if (!opened(cd)) {
        // No converter at all: whatever is not ASCII cannot be read.
        for (unsigned char c : bytes) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : kReplacement;
        return out;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // the initial shift state
    // Three bytes of UTF-8 per byte is enough for every Windows code page;
    // more room is made should a converter need it.
    out.resize(bytes.size() * 3 + 16);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    size_t used = 0;
    const auto put = [&](const char* text, size_t n) {
        if (out.size() - used < n) out.resize(out.size() * 2 + n);
        std::memcpy(&out[used], text, n);
        used += n;
    };
    for (;;) {
        // Once the input is used up the converter is flushed: the stateful
        // ones (the combining code pages 1255 and 1258) may hold back a last
        // character until then.
        const bool flushing = inLeft == 0;
        char* to = &out[used];
        size_t toLeft = out.size() - used;
        const size_t rc = flushing ? iconv(cd, nullptr, nullptr, &to, &toLeft) : iconv(cd, &in, &inLeft, &to, &toLeft);
        const int error = errno;
        used = out.size() - toLeft;
        if (rc != static_cast<size_t>(-1)) {
            if (flushing) break;
        } else if (error == E2BIG) {
            out.resize(out.size() * 2 + 16);
        } else if (flushing) {
            break;
        } else if (error == EILSEQ) {
            // One byte the code page cannot map. The rest is read afresh
            // after it, so a lead byte of a double-byte code page with a
            // trail byte it does not pair with leaves that byte to stand alone.
            put(kReplacement, 3);
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else {
            // A character cut off at the end (EINVAL): nothing more to read.
            put(kReplacement, 3);
            inLeft = 0;
        }
    }
    out.resize(used);
    return out;
}

bool localTime(int32_t seconds, std::tm& out) {
    if (seconds < 0) return false;
    const time_t t = seconds;
    return localtime_r(&t, &out) != nullptr;
}

// POSIX hosts name files narrowly only (their code page is UTF-8), so
// every path here is used in its narrow form.
bool fileModTime(const Path& path, int64_t& mtime) {
    struct stat st;
    if (stat(path.narrow().c_str(), &st) != 0) return false;
    mtime = static_cast<int64_t>(st.st_mtime);
    return true;
}

std::FILE* openRead(const Path& path) {
    // Not blocking, so that a pipe without a writer cannot hold the open.
    const int fd = open(path.narrow().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = fdopen(fd, "rb");
    if (!f) close(fd);
    return f;
}

bool seekFile(std::FILE* f, int64_t pos) { return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0; }

int64_t fileLength(std::FILE* f) {
    std::fflush(f);
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

PathKind pathKind(const Path& path) {
    struct stat st;
    if (stat(path.narrow().c_str(), &st) != 0) return PathKind::Missing;
    return S_ISREG(st.st_mode) ? PathKind::Regular : PathKind::Other;
}

namespace {
std::FILE* unbufferedStream(int fd) {
    std::FILE* f = fdopen(fd, "wb");
    if (!f) return nullptr;
    std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}
}  // namespace

std::FILE* createNew(const Path& path, bool& exists) {
    exists = false;
    const int fd = open(path.narrow().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* f = unbufferedStream(fd);
    if (!f) {
        close(fd);
        unlink(path.narrow().c_str());
    }
    return f;
}

std::FILE* openTruncated(const Path& path) {
    std::FILE* f = std::fopen(path.narrow().c_str(), "wb");
    if (f) std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

bool setFileTime(std::FILE* f, int64_t unixSeconds) {
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixSeconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return futimens(fileno(f), times) == 0;
}

std::FILE* createTempBeside(const std::string& dest, std::string& tempPath) {
    const std::string prefix = (dest.find('/') == std::string::npos ? std::string() : folderOf(dest)) + ".kiv-";
    // The file gets the mode a plain create (or the file it replaces) would
    // have. Creating it with 0666 lets the kernel apply the umask; reading
    // the umask would mean setting it, for every thread of the host at once.
    struct stat st;
    const bool replacing = stat(dest.c_str(), &st) == 0;
    static std::atomic<uint64_t> serial{0};
    const uint64_t seed = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull;
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Six letters or digits, different for every call and attempt in
        // this process and unlikely to match another process's names.
        uint64_t z = seed ^ (++serial * 0xBF58476D1CE4E5B9ull) ^
                     static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        z = (z ^ (z >> 31)) * 0x94D049BB133111EBull;
        z ^= z >> 29;
        std::string candidate = prefix;
        static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (int i = 0; i < 6; ++i, z /= 62) candidate += kChars[z % 62];
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        if (replacing) fchmod(fd, st.st_mode & 07777);
        std::FILE* f = unbufferedStream(fd);
        if (!f) {
            close(fd);
            unlink(candidate.c_str());
            return nullptr;
        }
        tempPath = candidate;
        return f;
    }
    return nullptr;
}

std::FILE* createTempBeside(const Path& dest, Path& tempPath) {
    std::string temp;
    std::FILE* f = createTempBeside(dest.narrow(), temp);
    if (f) tempPath = Path(temp);
    return f;
}

bool replaceFile(const Path& from, const Path& to) { return std::rename(from.narrow().c_str(), to.narrow().c_str()) == 0; }

void removeFile(const Path& path) { std::remove(path.narrow().c_str()); }

size_t maxPathBytes() { return PATH_MAX; }

unsigned processorCount() {
#if defined(__linux__)
    // The processors this process may run on, which a container or a
    // pinned host may keep below those online.
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1u;
}

void beep() { ++beeps; }
unsigned beepCount() { return beeps.load(); }

void setInputBox(InputBoxFunction box) { inputBox.store(box); }

void clearOwnerWindow() {}

namespace {
// Asks on the controlling terminal with echo off. 1 for a line, 2 otherwise.
int promptOnTerminal(char* buffer) {
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return 2;
    // Echo goes off before the prompt appears, so nothing typed in answer
    // to the prompt is ever shown or flushed away.
    termios saved{};
    const bool haveTerm = tcgetattr(fd, &saved) == 0;
    if (haveTerm) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    const char prompt[] = "Password required!\nPassword: ";
    (void)!write(fd, prompt, sizeof prompt - 1);
    std::string line;
    line.reserve(128);  // never reallocated, so no copy is left behind unwiped
    bool gotLine = false;
    char c;
    while (read(fd, &c, 1) == 1) {
        if (c == '\n' || c == '\r') {
            gotLine = true;
            break;
        }
        if (line.size() < 79) line.push_back(c);
    }
    if (haveTerm) tcsetattr(fd, TCSAFLUSH, &saved);
    (void)!write(fd, "\n", 1);
    close(fd);
    if (!gotLine) return 2;
    std::memcpy(buffer, line.data(), line.size());
    buffer[line.size()] = 0;
    std::memset(&line[0], 0, line.size());
    return 1;
}
}  // namespace

int promptPassword(char* buffer) {
    if (const InputBoxFunction box = inputBox.load()) {
        char value[80] = {0};
        char caption[] = "Password required!";
        char prompt[] = "Password:";
        const int ok = box(caption, prompt, 1, value, 79);
        value[79] = 0;
        if (!ok) return 2;
        std::memcpy(buffer, value, 80);
        std::memset(value, 0, sizeof value);
        return 1;
    }
    std::lock_guard<std::mutex> lock(terminalLock);
    return promptOnTerminal(buffer);
}

}  // namespace platform

// The shared object's constructor and destructor are its load and unload
// handler.
__attribute__((constructor)) static void kivLoad() {
    kiv::libraryEntry(platform::moduleHandle(), kiv::kProcessAttach, nullptr);
}
__attribute__((destructor)) static void kivUnload() {
    kiv::libraryEntry(platform::moduleHandle(), kiv::kProcessDetach, nullptr);
}
