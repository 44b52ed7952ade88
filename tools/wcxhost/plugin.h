// A loaded packer plug-in: the library handle, its exports looked up by
// name, and the optional start-up/shut-down calls of POSIX hosts.
#pragma once

#include <memory>
#include <string>

#include "plugin/wcxapi.h"

class Plugin {
public:
    // Loads the library at `path` and looks up its exports. Null with a
    // readable reason in `error` when it cannot be loaded or lacks one of
    // the four exports every host needs.
    static std::unique_ptr<Plugin> load(const std::string& path, std::string& error);
    // Calls ExtensionFinalize (when ExtensionInitialize was called) and
    // unloads the library.
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Whether the plug-in exports ExtensionInitialize.
    bool takesStartupInfo() const { return extensionInitialize_ != nullptr; }
    // Calls ExtensionInitialize once, if the plug-in exports it, handing it
    // the plug-in's folder, `configFolder` as its configuration folder ("" or
    // one too long for the record: none) and `inputBox`. Returns whether it
    // was called.
    bool initializeExtension(tInputBoxProc inputBox, const std::string& configFolder);

    const std::string& path() const { return path_; }
    // Whether the plug-in fills header records with the Linux file manager's
    // conventions rather than the Windows ones (the platform's by default).
#if defined(_WIN32)
    bool unixConventions = false;
#else
    bool unixConventions = true;
#endif
    // The plug-in's folder, with a trailing separator.
    const std::string& folder() const { return folder_; }

    // Required.
    tOpenArchiveProc openArchive = nullptr;
    tReadHeaderProc readHeader = nullptr;
    tProcessFileProc processFile = nullptr;
    tCloseArchiveProc closeArchive = nullptr;
    // Optional: called when present.
    tSetChangeVolProcProc setChangeVolProc = nullptr;
    tSetProcessDataProcProc setProcessDataProc = nullptr;
    tGetPackerCapsProc getPackerCaps = nullptr;
    // The newer functions, used when present: the wide family (all of
    // OpenArchiveW, ReadHeaderExW and ProcessFileW), else ReadHeaderEx.
    tReadHeaderExProc readHeaderEx = nullptr;
    tOpenArchiveWProc openArchiveW = nullptr;
    tReadHeaderExWProc readHeaderExW = nullptr;
    tProcessFileWProc processFileW = nullptr;
    tSetChangeVolProcWProc setChangeVolProcW = nullptr;
    tSetProcessDataProcWProc setProcessDataProcW = nullptr;

    // Which functions the host calls: the newest the plug-in offers.
    enum class Family { Seven, Ex, Wide };
    Family family() const {
        if (forceSeven) return Family::Seven;
        if (openArchiveW && readHeaderExW && processFileW) return Family::Wide;
        return readHeaderEx ? Family::Ex : Family::Seven;
    }
    // --ansi: only the seven, as an older host would call.
    bool forceSeven = false;

private:
    Plugin() = default;

    void* library_ = nullptr;
    std::string path_;
    std::string folder_;
    tExtensionInitializeProc extensionInitialize_ = nullptr;
    tExtensionFinalizeProc extensionFinalize_ = nullptr;
    // Kept until after ExtensionFinalize, in case the plug-in holds on to it.
    std::unique_ptr<tExtensionStartupInfo> startupInfo_;
};
