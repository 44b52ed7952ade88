#include "tests/support/plugin_host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#if defined(_WIN32)
#include <thread>
#endif

namespace kivtest {

namespace {
// The host's answer, read by the input box or the dialog answerer.
std::mutex answerLock;
std::string answer;
bool haveAnswer = false;
std::atomic<int> prompts{0};

int inputBox(char* caption, char* prompt, int masked, char* value, int maxLength) {
    ++prompts;
    std::lock_guard<std::mutex> lock(answerLock);
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
#if defined(_WIN32)
// On Windows the plug-in asks with its own modal dialog. This thread plays
// the user for as long as the plug-in is loaded: every "Password required!"
// dialog of this process is answered with the host's password and OK, or
// with Cancel when the host has none. It needs a display (Xvfb under Wine);
// without one the dialog cannot be shown and the plug-in sees Cancel.
class DialogAnswerer {
public:
    DialogAnswerer() : thread_([this] { run(); }) {}
    ~DialogAnswerer() {
        stop_ = true;
        thread_.join();
    }

private:
    // FindWindowEx compares the stored titles; it sends no message, which
    // could wait for the main thread while it is not in the dialog.
    static HWND ourDialog() {
        HWND h = nullptr;
        while ((h = FindWindowExA(nullptr, h, nullptr, "Password required!")) != nullptr) {
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid == GetCurrentProcessId()) return h;
        }
        return nullptr;
    }

    void run() {
        while (!stop_) {
            if (HWND dialog = ourDialog()) respond(dialog);
            Sleep(5);
        }
    }

    void respond(HWND dialog) {
        // The controls exist once the dialog is created; the posted command
        // is handled by its modal loop, after the dialog's initialisation.
        HWND edit = nullptr;
        for (int i = 0; i < 400 && IsWindow(dialog) && !edit; ++i) {
            edit = FindWindowExA(dialog, nullptr, "Edit", nullptr);
            if (!edit) Sleep(5);
        }
        ++prompts;
        bool ok;
        {
            std::lock_guard<std::mutex> lock(answerLock);
            ok = haveAnswer;
            if (ok) SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(answer.c_str()));
        }
        PostMessageA(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
        // The same dialog must not be answered twice.
        for (int i = 0; i < 2000 && IsWindow(dialog); ++i) Sleep(5);
    }

    std::atomic<bool> stop_{false};
    std::thread thread_;
};
#endif

}  // namespace

std::string builtPlugin() { return KIV_PLUGIN_PATH; }
std::string hostPlugin() { return KIV_HOST_PLUGIN_PATH; }

PluginHost::PluginHost(const std::string& path) {
#if defined(_WIN32)
    library_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (!library_) throw std::runtime_error("cannot load " + path);
    answerer_ = std::make_shared<DialogAnswerer>();
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
    ReadHeaderEx = reinterpret_cast<tReadHeaderExProc>(findSymbol(library_, "ReadHeaderEx"));
    GetBackgroundFlags = reinterpret_cast<tGetBackgroundFlagsProc>(findSymbol(library_, "GetBackgroundFlags"));
    ExtensionInitialize = reinterpret_cast<tExtensionInitializeProc>(findSymbol(library_, "ExtensionInitialize"));
    PackSetDefaultParams = reinterpret_cast<tPackSetDefaultParamsProc>(findSymbol(library_, "PackSetDefaultParams"));
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
    answerer_.reset();
    if (library_) FreeLibrary(static_cast<HMODULE>(library_));
#else
    if (library_) dlclose(library_);
#endif
}

void PluginHost::setPassword(const char* password) {
    std::lock_guard<std::mutex> lock(answerLock);
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
    std::unique_ptr<tHeaderDataEx> ex(new tHeaderDataEx);
    for (;;) {
        Listed e;
        if (useEx) {
            std::memset(ex.get(), 0, sizeof *ex);
            if (!ReadHeaderEx || ReadHeaderEx(handle, ex.get()) != 0) break;
            e.name = std::string(ex->FileName, strnlen(ex->FileName, sizeof ex->FileName));
            e.packSize = static_cast<int>(ex->PackSize);
            e.unpSize = static_cast<int>(ex->UnpSize);
            e.packSize64 = (uint64_t(ex->PackSizeHigh) << 32) | ex->PackSize;
            e.unpSize64 = (uint64_t(ex->UnpSizeHigh) << 32) | ex->UnpSize;
            e.fileTime = ex->FileTime;
            e.fileAttr = ex->FileAttr;
        } else {
            std::memset(&header, 0, sizeof header);
            if (ReadHeader(handle, &header) != 0) break;
            e.name = header.FileName;
            e.packSize = header.PackSize;
            e.unpSize = header.UnpSize;
            e.packSize64 = static_cast<uint32_t>(header.PackSize);
            e.unpSize64 = static_cast<uint32_t>(header.UnpSize);
            e.fileTime = header.FileTime;
            e.fileAttr = header.FileAttr;
        }
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
