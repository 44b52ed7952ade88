#include "fuzz/plugin_driver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/wcxapi.h"

extern "C" {
void* OpenArchive(tOpenArchiveData*);
int ReadHeader(void*, tHeaderData*);
int ReadHeaderEx(void*, tHeaderDataEx*);
int ProcessFile(void*, int, char*, char*);
int CloseArchive(void*);
void SetProcessDataProc(void*, tProcessDataProc);
void ExtensionInitialize(tExtensionStartupInfo*);
}

namespace kivfuzz {

namespace fs = std::filesystem;

namespace {

// Entries tested and extracted per input, and data bytes per input after
// which the progress callback cancels, as a host's Cancel button would: a
// few megabytes of a bomb show the behaviour, gigabytes only cost time.
constexpr int kEntriesPerPass = 24;
constexpr long kDataBudget = 4 << 20;
constexpr double kCallSeconds = 10.0;

const char* promptAnswer = nullptr;
long dataLeft = 0;

[[noreturn]] void breach(const char* what, int value) {
    std::fprintf(stderr, "limit breached: %s (%d)\n", what, value);
    std::abort();
}

bool interfaceCode(int code) { return code == 0 || (code >= E_END_ARCHIVE && code <= E_NOT_SUPPORTED); }

int inputBox(char*, char*, int, char* value, int maxLength) {
    if (!promptAnswer) return 0;
    std::snprintf(value, static_cast<size_t>(maxLength), "%s", promptAnswer);
    return 1;
}

int progress(char*, int size) {
    if (size < 0) breach("negative progress", size);
    dataLeft -= size;
    return dataLeft > 0;
}

// Runs one export call and enforces the time limit on it.
template <typename Call>
auto timed(const char* what, Call call) {
    const auto start = std::chrono::steady_clock::now();
    auto result = call();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() > kCallSeconds) breach(what, static_cast<int>(took.count()));
    return result;
}

struct Workspace {
    fs::path root;
    fs::path outputs;
    Workspace() {
        // One folder per process: several fuzzers may run at once.
        root = fs::temp_directory_path() /
               ("kivfuzz-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        outputs = root / "out";
        fs::create_directories(outputs);
        static tExtensionStartupInfo info;  // large: not on the stack
        info.StructSize = sizeof info;
        info.InputBox = inputBox;
        ExtensionInitialize(&info);
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void* openArchive(const std::string& path) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    data.OpenMode = PK_OM_EXTRACT;
    void* handle = timed("OpenArchive", [&] { return OpenArchive(&data); });
    if (!interfaceCode(data.OpenResult)) breach("open result", data.OpenResult);
    if ((handle == nullptr) == (data.OpenResult == 0)) breach("handle and result disagree", data.OpenResult);
    if (handle) SetProcessDataProc(handle, progress);
    return handle;
}

// What a walk saw of each entry. The packed sizes may differ: the 64-bit
// rule falls back to the size only when the whole stored size is 0.
struct Seen {
    uint32_t packSize, unpSize;
};

// Reads every header, through ReadHeaderEx when `ex` is set; on each of the
// first entries applies `each`. Returns the sizes seen.
template <typename Each>
std::vector<Seen> walk(void* handle, bool ex, Each each) {
    static tHeaderDataEx exHeader;
    tHeaderData header;
    std::vector<Seen> seen;
    for (int index = 0;; ++index) {
        int r;
        if (ex) {
            std::memset(&exHeader, 0x5A, sizeof exHeader);
            r = timed("ReadHeaderEx", [&] { return ReadHeaderEx(handle, &exHeader); });
            if (r == 0 && std::memchr(exHeader.FileName, 0, sizeof exHeader.FileName) == nullptr)
                breach("unterminated Ex name", index);
            if (r == 0) seen.push_back({exHeader.PackSize, exHeader.UnpSize});
        } else {
            std::memset(&header, 0x5A, sizeof header);
            r = timed("ReadHeader", [&] { return ReadHeader(handle, &header); });
            if (r == 0 && std::memchr(header.FileName, 0, sizeof header.FileName) == nullptr)
                breach("unterminated name", index);
            if (r == 0) seen.push_back({uint32_t(header.PackSize), uint32_t(header.UnpSize)});
        }
        if (r == E_END_ARCHIVE) return seen;
        if (r != 0) breach("ReadHeader result", r);
        if (index < kEntriesPerPass) each();
    }
}

void checkOutputs(const fs::path& outputs, const fs::path& named) {
    for (const auto& item : fs::directory_iterator(outputs))
        if (item.path() != named) breach("stray file beside the destination", 0);
}

}  // namespace

void runThroughExports(const uint8_t* data, size_t size, const char* password) {
    static Workspace workspace;
    static unsigned long counter = 0;
    promptAnswer = password;
    dataLeft = kDataBudget;

    // A new name per input: the plug-in keeps a context per archive path and
    // would otherwise take a same-length input written within the same
    // clock tick for the previous one.
    const std::string archive = (workspace.root / ("in-" + std::to_string(counter++) + ".kiv")).string();
    {
        std::ofstream out(archive, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    // Pass 1 lists, pass 2 tests, pass 3 (a reopen of the unchanged archive)
    // extracts over an existing file, and pass 4 lists again through
    // ReadHeaderEx, which must walk the same entries with the same low halves.
    std::vector<Seen> first;
    for (int pass = 0; pass < 4; ++pass) {
        void* handle = openArchive(archive);
        if (!handle) break;
        const std::vector<Seen> seen = walk(handle, pass == 3, [&]() {
            if (pass == 1) {
                const int r = timed("ProcessFile test", [&] { return ProcessFile(handle, PK_TEST, nullptr, nullptr); });
                if (!interfaceCode(r)) breach("test result", r);
            } else if (pass == 2) {
                const fs::path target = workspace.outputs / "entry";
                { std::ofstream(target, std::ios::binary) << "existing"; }
                std::string dest = target.string();
                const int r = timed("ProcessFile extract",
                                    [&] { return ProcessFile(handle, PK_EXTRACT, nullptr, dest.data()); });
                if (!interfaceCode(r)) breach("extract result", r);
                if (r != 0 && readAll(target) != "existing") breach("failed extraction changed the file", r);
                checkOutputs(workspace.outputs, target);
            } else {
                const int r = ProcessFile(handle, PK_SKIP, nullptr, nullptr);
                if (r != 0) breach("skip result", r);
            }
        });
        const int r = CloseArchive(handle);
        if (r != 0) breach("close result", r);
        if (pass == 0) first = seen;
        if (pass == 3) {
            if (seen.size() != first.size()) breach("Ex walk length", static_cast<int>(seen.size()));
            for (size_t i = 0; i < seen.size(); ++i)
                if (seen[i].unpSize != first[i].unpSize) breach("Ex sizes differ", static_cast<int>(i));
        }
    }
    std::error_code ignored;
    fs::remove(archive, ignored);
}

}  // namespace kivfuzz
