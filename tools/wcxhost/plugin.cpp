#include "plugin.h"

#include <cstring>

#include "os.h"

namespace {
template <typename Fn>
Fn lookup(void* library, const char* name) {
    return reinterpret_cast<Fn>(os::findSymbol(library, name));
}

std::string folderOf(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (os::isSeparator(path[i - 1])) return path.substr(0, i);
    return std::string(".") + os::separator();
}
}  // namespace

std::unique_ptr<Plugin> Plugin::load(const std::string& path, std::string& error) {
    std::unique_ptr<Plugin> plugin(new Plugin());
    // An absolute path keeps the loader from searching its library folders
    // for a bare name, and gives the plug-in a meaningful folder.
    plugin->path_ = os::absolutePath(path);
    bool hasFolder = false;
    for (char c : plugin->path_) hasFolder = hasFolder || os::isSeparator(c);
    if (!hasFolder) plugin->path_ = std::string(".") + os::separator() + plugin->path_;
    plugin->folder_ = folderOf(plugin->path_);
    std::string why;
    plugin->library_ = os::loadLibrary(plugin->path_, why);
    if (!plugin->library_) {
        error = "cannot load plug-in " + path + ": " + why;
        return nullptr;
    }
    void* lib = plugin->library_;
    plugin->openArchive = lookup<tOpenArchiveProc>(lib, "OpenArchive");
    plugin->readHeader = lookup<tReadHeaderProc>(lib, "ReadHeader");
    plugin->processFile = lookup<tProcessFileProc>(lib, "ProcessFile");
    plugin->closeArchive = lookup<tCloseArchiveProc>(lib, "CloseArchive");
    plugin->setChangeVolProc = lookup<tSetChangeVolProcProc>(lib, "SetChangeVolProc");
    plugin->setProcessDataProc = lookup<tSetProcessDataProcProc>(lib, "SetProcessDataProc");
    plugin->getPackerCaps = lookup<tGetPackerCapsProc>(lib, "GetPackerCaps");
    plugin->readHeaderEx = lookup<tReadHeaderExProc>(lib, "ReadHeaderEx");
    plugin->openArchiveW = lookup<tOpenArchiveWProc>(lib, "OpenArchiveW");
    plugin->readHeaderExW = lookup<tReadHeaderExWProc>(lib, "ReadHeaderExW");
    plugin->processFileW = lookup<tProcessFileWProc>(lib, "ProcessFileW");
    plugin->setChangeVolProcW = lookup<tSetChangeVolProcWProc>(lib, "SetChangeVolProcW");
    plugin->setProcessDataProcW = lookup<tSetProcessDataProcWProc>(lib, "SetProcessDataProcW");
    plugin->extensionInitialize_ = lookup<tExtensionInitializeProc>(lib, "ExtensionInitialize");
    plugin->extensionFinalize_ = lookup<tExtensionFinalizeProc>(lib, "ExtensionFinalize");

    const char* missing = !plugin->openArchive    ? "OpenArchive"
                          : !plugin->readHeader   ? "ReadHeader"
                          : !plugin->processFile  ? "ProcessFile"
                          : !plugin->closeArchive ? "CloseArchive"
                                                  : nullptr;
    if (missing) {
        error = "cannot use plug-in " + path + ": it does not export " + missing;
        return nullptr;  // the destructor unloads the library
    }
    return plugin;
}

bool Plugin::initializeExtension(tInputBoxProc inputBox, const std::string& configFolder) {
    if (!extensionInitialize_ || startupInfo_) return false;
    // Heap-allocated and zeroed: the record is 32 KiB and every service the
    // host does not offer must read as absent.
    startupInfo_.reset(new tExtensionStartupInfo);
    std::memset(startupInfo_.get(), 0, sizeof(tExtensionStartupInfo));
    startupInfo_->StructSize = sizeof(tExtensionStartupInfo);
    std::strncpy(startupInfo_->PluginDir, folder_.c_str(), sizeof(startupInfo_->PluginDir) - 1);
    // A cut path would name another folder.
    if (configFolder.size() < sizeof(startupInfo_->PluginConfDir))
        std::memcpy(startupInfo_->PluginConfDir, configFolder.c_str(), configFolder.size() + 1);
    startupInfo_->InputBox = inputBox;
    extensionInitialize_(startupInfo_.get());
    return true;
}

Plugin::~Plugin() {
    if (startupInfo_ && extensionFinalize_) extensionFinalize_(nullptr);
    os::unloadLibrary(library_);
}
