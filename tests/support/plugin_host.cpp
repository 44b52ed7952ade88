#include "tests/support/plugin_host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstring>
#include <memory>
#include <stdexcept>

namespace kivtest {

namespace {
std::string answer;
bool haveAnswer = false;
int prompts = 0;

int inputBox(char* caption, char* prompt, int masked, char* value, int maxLength) {
    ++prompts;
    if (std::strcmp(caption, "Password required!") != 0 || std::strcmp(prompt, "Password:") != 0 || !masked)
        return 0;
    if (!haveAnswer) return 0;
    const size_t n = std::min<size_t>(answer.size(), static_cast<size_t>(maxLength));
    std::memcpy(value, answer.data(), n);
    value[n] = 0;
    return 1;
}

void* findSymbol(void* lib, const char* name) {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
#else
    return dlsym(lib, name);
#endif
}

template <typename F>
F symbol(void* lib, const char* name) {
    void* p = findSymbol(lib, name);
    if (!p) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<F>(p);
}
}  // namespace

std::string builtPlugin() { return KIV_PLUGIN_PATH; }

PluginHost::PluginHost(const std::string& path) {
#if defined(_WIN32)
    library_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (!library_) throw std::runtime_error("cannot load " + path);
#else
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) throw std::runtime_error(std::string("cannot load ") + path + ": " + dlerror());
#endif
    OpenArchive = symbol<tOpenArchiveProc>(library_, "OpenArchive");
    ReadHeader = symbol<tReadHeaderProc>(library_, "ReadHeader");
    ProcessFile = symbol<tProcessFileProc>(library_, "ProcessFile");
    CloseArchive = symbol<tCloseArchiveProc>(library_, "CloseArchive");
    SetChangeVolProc = symbol<tSetChangeVolProcProc>(library_, "SetChangeVolProc");
    SetProcessDataProc = symbol<tSetProcessDataProcProc>(library_, "SetProcessDataProc");
    GetPackerCaps = symbol<tGetPackerCapsProc>(library_, "GetPackerCaps");
    ExtensionInitialize = reinterpret_cast<tExtensionInitializeProc>(findSymbol(library_, "ExtensionInitialize"));
    if (ExtensionInitialize) {
        auto info = std::make_unique<tExtensionStartupInfo>();
        std::memset(info.get(), 0, sizeof *info);
        info->StructSize = sizeof *info;
        info->InputBox = inputBox;
        ExtensionInitialize(info.get());
    }
    setPassword(nullptr);
    prompts = 0;
}

PluginHost::~PluginHost() {
#if defined(_WIN32)
    if (library_) FreeLibrary(static_cast<HMODULE>(library_));
#else
    if (library_) dlclose(library_);
#endif
}

void PluginHost::setPassword(const char* password) {
    haveAnswer = password != nullptr;
    answer = password ? password : "";
}

int PluginHost::passwordPrompts() const { return prompts; }

void* PluginHost::open(const std::string& archive, int& result) {
    tOpenArchiveData data{};
    std::string name = archive;
    data.ArcName = &name[0];
    data.OpenMode = PK_OM_LIST;
    data.OpenResult = -12345;
    void* h = OpenArchive(&data);
    result = data.OpenResult;
    return h;
}

std::vector<Listed> PluginHost::walk(void* handle, const std::function<void(const Listed&)>& each) {
    std::vector<Listed> out;
    tHeaderData header;
    for (;;) {
        std::memset(&header, 0, sizeof header);
        if (ReadHeader(handle, &header) != 0) break;
        Listed e;
        e.name = header.FileName;
        e.packSize = header.PackSize;
        e.unpSize = header.UnpSize;
        e.fileTime = header.FileTime;
        e.fileAttr = header.FileAttr;
        out.push_back(e);
        if (each) each(e);
        else ProcessFile(handle, PK_SKIP, nullptr, nullptr);
    }
    return out;
}

int PluginHost::list(const std::string& archive, std::vector<Listed>& out) {
    int result = 0;
    void* h = open(archive, result);
    if (!h) return result;
    out = walk(h);
    CloseArchive(h);
    return result;
}

}  // namespace kivtest
