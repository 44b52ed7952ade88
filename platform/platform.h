// The one place that touches the operating system. platform_posix.cpp and
// platform_win32.cpp implement this same small interface; nothing else in
// the plug-in includes a system header beyond the C and C++ libraries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace platform {

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

// --- Time ------------------------------------------------------------------
// Local time of a signed 32-bit count of seconds since 1970. False when the
// count cannot be converted (negative counts on every platform).
bool localTime(int32_t seconds, std::tm& out);

// --- Files -----------------------------------------------------------------
// Modification time in whole seconds, as the file-status call gives it.
bool fileModTime(const char* path, int64_t& mtime);
// Binary read-only stream of a plain file, or null. Anything else (a pipe,
// a terminal, a device) is refused: opening or reading it could wait for
// input for ever and hold the host with it.
std::FILE* openRead(const char* path);
// 64-bit absolute positioning of a stream; true on success.
bool seekFile(std::FILE* f, int64_t pos);
// Length of the file behind the stream (flushes it first), -1 on failure.
int64_t fileLength(std::FILE* f);

// --- Extracted files -------------------------------------------------------
// Every function here names a destination the same way (a path in the
// host's code page), so another form of name needs only these functions
// again. The streams they open are unbuffered: extraction hands them whole
// blocks, which a second buffer would only copy.

// How a destination path is currently occupied.
enum class PathKind { Missing, Regular, Other };
PathKind pathKind(const char* path);
// A new, empty file at `path`, created only when nothing is there, not even
// a dangling link; it gets the mode a plain create would give. Null when it
// cannot be created; `exists` then tells whether something was in the way.
std::FILE* createNew(const char* path, bool& exists);
// `path` opened for writing as it is, truncated ("wb"): for destinations
// that are not plain files, and plain files in folders that take no new file.
std::FILE* openTruncated(const char* path);
// A new, empty file beside `dest` (same folder), with the mode of `dest`
// when it exists; its name goes to tempPath. Null when it cannot be created.
std::FILE* createTempBeside(const std::string& dest, std::string& tempPath);
// Sets the modification time (and the access time) of the open file to
// `unixSeconds` since 1970, UTC. False when the system refuses.
bool setFileTime(std::FILE* f, int64_t unixSeconds);
// Moves `from` over `to`, replacing an existing `to`. True on success.
bool replaceFile(const char* from, const char* to);
void removeFile(const char* path);
// Longest destination path the platform accepts, terminator included.
size_t maxPathBytes();

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
// The folder a Linux file manager keeps its plug-ins' settings in, as its
// start-up call passes it; "" when none was passed.
void setConfigFolder(const char* folder);
std::string configFolder();
#endif

}  // namespace platform
