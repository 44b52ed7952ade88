// The one place that touches the operating system. platform_posix.cpp and
// platform_win32.cpp implement this same small interface; nothing else in
// the plug-in includes a system header beyond the C and C++ libraries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace platform {

// --- Paths -----------------------------------------------------------------
// A file path as the host named it: text of the host's ANSI code page, or
// UTF-16 from the wide exports (Win32 hosts). The file functions below take
// either form and call the system in the same form, so a path the code page
// cannot spell still opens.
class Path {
public:
    Path() = default;
    Path(const char* narrow) : narrow_(narrow ? narrow : "") {}
    Path(std::string narrow) : narrow_(std::move(narrow)) {}
    static Path wide(std::u16string units) {
        Path p;
        p.wide_ = std::move(units);
        p.isWide_ = true;
        return p;
    }

    bool isWide() const { return isWide_; }
    const std::string& narrow() const { return narrow_; }  // empty for a wide path
    const std::u16string& units() const { return wide_; }  // empty for a narrow path
    // In characters of its form (bytes or UTF-16 units).
    size_t length() const { return isWide_ ? wide_.size() : narrow_.size(); }
    bool empty() const { return length() == 0; }
    // The same form and the same text, unit for unit: a narrow and a wide
    // path are never equal, even when they name the same file.
    bool operator==(const Path& other) const {
        return isWide_ == other.isWide_ && narrow_ == other.narrow_ && wide_ == other.wide_;
    }
    bool operator!=(const Path& other) const { return !(*this == other); }
    // Appends `tail`, which must have this path's form.
    Path& operator+=(const Path& tail) {
        narrow_ += tail.narrow_;
        wide_ += tail.wide_;
        return *this;
    }
    // Appends `name` (of this path's form) as a name inside this folder: the
    // platform's separator goes between unless this path is empty or ends
    // in a separator already.
    Path& appendComponent(const Path& name);
    // Up to and including the last '\' or '/'; empty when there is none.
    Path folder() const {
        Path p = *this;
        if (isWide_) p.wide_.resize(cutAfterSeparator(wide_));
        else p.narrow_.resize(cutAfterSeparator(narrow_));
        return p;
    }
    // Plain ASCII text appended in this path's form.
    Path& appendAscii(const char* text) {
        for (; *text; ++text) {
            if (isWide_) wide_ += static_cast<char16_t>(*text);
            else narrow_ += *text;
        }
        return *this;
    }

private:
    template <typename Text>
    static size_t cutAfterSeparator(const Text& t) {
        for (size_t i = t.size(); i > 0; --i)
            if (t[i - 1] == '\\' || t[i - 1] == '/') return i;
        return 0;
    }

    std::string narrow_;
    std::u16string wide_;
    bool isWide_ = false;
};

// --- The loaded module ---------------------------------------------------
// The module handle the load handler stores (HINSTANCE on Win32; unused on
// POSIX, where the module is found from its own code address).
void setModuleHandle(void* handle);
void* moduleHandle();
// Full path of the plug-in's own file, or "" when it cannot be found.
std::string modulePath();
// The library's folder followed by `name` (the settings file lives there).
// "" when the module path cannot be found or is too long for the platform.
std::string besideModule(const char* name);

// --- Names -----------------------------------------------------------------
// UTF-8 entry names to the host's code page. On POSIX the host code page is
// UTF-8: valid text passes unchanged and each byte of an invalid sequence
// becomes '?'. On Win32 the ANSI code page, through UTF-16.
std::string utf8ToHost(std::string utf8);
// Where the host's conversion of a UTF-8 name ends it: Win32 ends it at its
// first NUL (the converted text is a C string); POSIX keeps every byte.
void cutAtHostTerminator(std::string& utf8);
#if defined(_WIN32)
// Text of Windows code page `codePage` (0: the ANSI code page) in UTF-16.
std::u16string ansiToUtf16(const std::string& ansi, unsigned codePage = 0);
// UTF-16 in the ANSI code page, '?' for what it cannot hold.
std::string utf16ToAnsi(const std::u16string& wide);
#endif

// --- Names of older archives ------------------------------------------------
// Archives of format version 3 and below store names as bytes of the Windows
// code page of the machine that made them. True when this platform can
// convert text of Windows code page `codePage` (POSIX: the C library's
// iconv has a converter for it; Win32: the system has the code page).
bool knowsCodePage(unsigned codePage);
#if !defined(_WIN32)
// The code page assumed when the settings name none.
constexpr unsigned kDefaultLegacyCodePage = 1252;
// Converts names of one Windows code page to UTF-8 with iconv. Owned by one
// catalogue reading, so by one thread at a time.
class LegacyNames {
public:
    // A code page the C library does not know gives kDefaultLegacyCodePage.
    explicit LegacyNames(unsigned codePage);
    ~LegacyNames();
    LegacyNames(const LegacyNames&) = delete;
    LegacyNames& operator=(const LegacyNames&) = delete;

    // `bytes` (one name, without NUL) in UTF-8. Each byte sequence the code
    // page cannot map, and a character cut off at the end, becomes U+FFFD.
    // Pure ASCII comes back unchanged when the code page agrees with ASCII,
    // as every code page of Windows file names does. Throws std::bad_alloc.
    std::string toUtf8(const std::string& bytes);

private:
    void* converter_;      // iconv_t; (iconv_t)-1 when none could be opened
    bool asciiAsItIs_ = false;
};
#endif

// --- Time ------------------------------------------------------------------
// Local time of a signed 32-bit count of seconds since 1970. False when the
// count cannot be converted (negative counts on every platform).
bool localTime(int32_t seconds, std::tm& out);

// --- Files -----------------------------------------------------------------
// Modification time in whole seconds, as the file-status call gives it.
bool fileModTime(const Path& path, int64_t& mtime);
// Binary read-only stream of a plain file, or null. Anything else (a pipe,
// a terminal, a device) is refused: opening or reading it could wait for
// input for ever and hold the host with it.
std::FILE* openRead(const Path& path);
// 64-bit absolute positioning of a stream; true on success.
bool seekFile(std::FILE* f, int64_t pos);
// Length of the file behind the stream (flushes it first), -1 on failure.
int64_t fileLength(std::FILE* f);

// --- Extracted files -------------------------------------------------------
// Every function here names a destination as a Path, narrow or wide, and
// calls the system in that form. The streams they open are unbuffered: extraction hands them whole
// blocks, which a second buffer would only copy.

// How a destination path is currently occupied.
enum class PathKind { Missing, Regular, Other };
PathKind pathKind(const Path& path);
// A new, empty file at `path`, created only when nothing is there, not even
// a dangling link; it gets the mode a plain create would give. Null when it
// cannot be created; `exists` then tells whether something was in the way.
std::FILE* createNew(const Path& path, bool& exists);
// `path` opened for writing as it is, truncated ("wb"): for destinations
// that are not plain files, and plain files in folders that take no new file.
std::FILE* openTruncated(const Path& path);
// A new, empty file beside `dest` (same folder), with the mode of `dest`
// when it exists; its name goes to tempPath. Null when it cannot be created.
std::FILE* createTempBeside(const Path& dest, Path& tempPath);
std::FILE* createTempBeside(const std::string& dest, std::string& tempPath);
// Sets the modification time (and the access time) of the open file to
// `unixSeconds` since 1970, UTC. False when the system refuses.
bool setFileTime(std::FILE* f, int64_t unixSeconds);
// Moves `from` over `to`, replacing an existing `to`. True on success.
bool replaceFile(const Path& from, const Path& to);
void removeFile(const Path& path);
// Longest destination path the platform accepts, terminator included:
// bytes for a narrow path; a wide path may have up to kMaxWidePath units.
size_t maxPathBytes();
constexpr size_t kMaxWidePath = 1024;

// --- Processors ------------------------------------------------------------
// Processors the system runs this process on (at least 1): how many decoding
// threads can work at once.
unsigned processorCount();

// --- Beep ------------------------------------------------------------------
// A simple beep. On POSIX it is silent; tests observe it through the count.
void beep();
unsigned beepCount();

// --- Password prompt ------------------------------------------------------
// Shows the platform's password prompt. Fills buffer (80 bytes, at most 79
// characters and a terminator) on OK. Returns the dialog result: 1 for OK,
// 2 for Cancel, 0 or -1 when no prompt could be shown.
int promptPassword(char* buffer);
// The owner window of the prompt is module-wide; cleared at load and unload.
void clearOwnerWindow();

#if !defined(_WIN32)
// The input box a Linux file manager hands its plug-ins at start-up (UTF-8
// texts; non-zero for OK). When set, the prompt asks it; otherwise the
// controlling terminal; otherwise the answer is Cancel.
using InputBoxFunction = int (*)(char* caption, char* prompt, int masked, char* value, int valueMaxLength);
void setInputBox(InputBoxFunction box);
#endif

}  // namespace platform
