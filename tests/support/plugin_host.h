// Loads a built plug-in by path and drives its exports the way the file
// manager does, for end-to-end tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plugin/wcxapi.h"

namespace kivtest {

struct Listed {
    std::string name;
    int packSize = 0;
    int unpSize = 0;
    int fileTime = 0;
    int fileAttr = 0;
    // Whole sizes, from ReadHeaderEx (the low halves otherwise).
    uint64_t packSize64 = 0;
    uint64_t unpSize64 = 0;
};

class PluginHost {
public:
    // Loads the library at `path` (each distinct path is its own instance).
    explicit PluginHost(const std::string& path);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    tOpenArchiveProc OpenArchive;
    tReadHeaderProc ReadHeader;
    tProcessFileProc ProcessFile;
    tCloseArchiveProc CloseArchive;
    tSetChangeVolProcProc SetChangeVolProc;
    tSetProcessDataProcProc SetProcessDataProc;
    tGetPackerCapsProc GetPackerCaps;
    tExtensionInitializeProc ExtensionInitialize = nullptr;  // POSIX builds only
    tReadHeaderExProc ReadHeaderEx = nullptr;                // null when not exported
    tPackSetDefaultParamsProc PackSetDefaultParams = nullptr;  // looked up; tests call it themselves
    tGetBackgroundFlagsProc GetBackgroundFlags = nullptr;      // null when not exported
    // Whether walk() reads headers through ReadHeaderEx.
    bool useEx = false;

    // Opens; the handle or null with the code in result.
    void* open(const std::string& archive, int& result);
    // Lists a whole archive (open, read every header, close). Returns the
    // open result; entries go to `out`.
    int list(const std::string& archive, std::vector<Listed>& out);
    // Reads all headers of an open archive, applying `each` (which returns
    // the ProcessFile result to record, or skips) to every entry.
    std::vector<Listed> walk(void* handle, const std::function<void(const Listed&)>& each = {});

    // Answers for the input box (POSIX) or the password dialog (Windows)
    // the plug-in asks for a password; null = the host has none (Cancel).
    void setPassword(const char* password);
    int passwordPrompts() const;

private:
    void* library_ = nullptr;
    std::shared_ptr<void> answerer_;  // Windows: answers the plug-in's dialog
};

// Path of the plug-in built by this tree with the Windows conventions of
// the header record, which the end-to-end suite checks.
std::string builtPlugin();
// The build's own plug-in, and whether it fills the record with the Unix
// conventions of the Linux file manager (then it is not builtPlugin()).
std::string hostPlugin();
constexpr bool kHostUnixConventions = KIV_HOST_UNIX != 0;

}  // namespace kivtest
