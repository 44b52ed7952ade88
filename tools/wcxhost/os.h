// The few operating-system services the host needs. os.cpp is the only file
// of the tool that includes system headers; everything else stays portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace os {

// --- Text ------------------------------------------------------------------
// The tool keeps every text in UTF-8. Whether the narrow (ANSI) texts of
// the system and the plug-in's seven functions are UTF-8 too: true on
// POSIX; on Windows they are the ANSI code page, converted here.
bool narrowIsUtf8();
std::string ansiToUtf8(const std::string& ansi);
std::string utf8ToAnsi(const std::string& utf8);
std::string utf16ToUtf8(const std::u16string& text);
std::u16string utf8ToUtf16(const std::string& text);
// The command line's arguments in UTF-8 (on Windows from the wide command
// line, so that names the code page cannot spell survive).
std::vector<std::string> arguments(int argc, char** argv);

// --- Dynamic libraries -----------------------------------------------------
// Loads a library by path; null with a readable reason in `error` on failure.
void* loadLibrary(const std::string& path, std::string& error);
// Address of an exported symbol, or null.
void* findSymbol(void* library, const char* name);
void unloadLibrary(void* library);

// --- Paths -----------------------------------------------------------------
// The platform's preferred separator for paths the host builds.
char separator();
// True for every character the platform accepts as a separator.
bool isSeparator(char c);
// Whether ':' may appear inside a file name (not on Windows, where it would
// name a drive or an alternate data stream).
bool colonAllowedInNames();
// Folder of the running executable, with a trailing separator; "" if unknown.
std::string executableDir();
// Absolute form of `path`, or `path` itself when it cannot be resolved.
std::string absolutePath(const std::string& path);

// --- The user's configuration --------------------------------------------
// Folders that per-user configuration lives under, most preferred first,
// without a trailing separator. POSIX: $XDG_CONFIG_HOME when it is an
// absolute path, then $HOME/.config (the account's home from the user
// database when HOME is unset or empty). Windows: none, as plug-ins
// there take no configuration folder through ExtensionInitialize.
std::vector<std::string> configHomes();

// --- Files and folders ---------------------------------------------------
// What a path currently is, without following a final symbolic link (or
// reparse point on Windows).
enum class PathState { Missing, Directory, File, Link, Other };
PathState pathState(const std::string& path);
// Whether `path` is a folder, following symbolic links (reparse points).
bool isFolder(const std::string& path);
// Why `path` cannot be read as a regular file: the system's own words
// ("No such file or directory", "Permission denied", "Is a directory" for
// a folder), or "not a regular file" for a device, pipe or socket. "" when
// it is a regular file that opens for reading; `size` is its length then.
std::string whyUnreadable(const std::string& path, uint64_t& size);
// Creates one folder; true when it was created or already is a folder
// (not a link to one). Otherwise `why`, when given, gets the system's reason.
bool makeDirectory(const std::string& path, std::string* why = nullptr);

// --- Terminal --------------------------------------------------------------
bool stderrIsTerminal();
// Width of the terminal behind stderr, or 80 when unknown.
int terminalColumns();
// Shows `prompt` on the controlling terminal and reads one line from it,
// with echo off when `masked`: Line, Ended when the input ended (or Ctrl-C
// came) before a line was entered, NoTerminal when there is none to ask on.
enum class TerminalRead { Line, Ended, NoTerminal };
TerminalRead readTerminalLine(const std::string& prompt, bool masked, std::string& line);

// --- Interrupts ------------------------------------------------------------
// Calls `handler` on Ctrl-C (SIGINT). A terminal prompt that is waiting for
// input is interrupted by it rather than resumed.
void onInterrupt(void (*handler)(int));

}  // namespace os
