// Opens archives through the plug-in's exports, as the file manager does:
//   kiv_open_probe.exe PLUGIN ARCHIVE [--twice]
// Prints open=<OpenResult>, then entry=<name> and test=<code> for every
// listed entry. --twice closes and opens the same archive again (an
// unchanged kept archive must not prompt a second time).
// Exit code: the last OpenResult.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "plugin/wcxapi.h"

namespace {

template <typename T>
T lookUp(HMODULE m, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: %s PLUGIN ARCHIVE [--twice]\n", argv[0]);
        return 100;
    }
    bool twice = argc > 3 && std::strcmp(argv[3], "--twice") == 0;
    // Unix paths from the test script become drive paths, as a host has them.
    char plugin[MAX_PATH], archive[MAX_PATH];
    GetFullPathNameA(argv[1], MAX_PATH, plugin, nullptr);
    GetFullPathNameA(argv[2], MAX_PATH, archive, nullptr);
    HMODULE m = LoadLibraryA(plugin);
    if (!m) {
        std::printf("load failed: %lu\n", GetLastError());
        return 101;
    }
    auto open = lookUp<tOpenArchiveProc>(m, "OpenArchive");
    auto readHeader = lookUp<tReadHeaderProc>(m, "ReadHeader");
    auto processFile = lookUp<tProcessFileProc>(m, "ProcessFile");
    auto close = lookUp<tCloseArchiveProc>(m, "CloseArchive");
    if (!open || !readHeader || !processFile || !close) return 102;

    int result = -1;
    for (int round = 0; round < (twice ? 2 : 1); ++round) {
        tOpenArchiveData d = {};
        d.ArcName = archive;
        d.OpenResult = -1;
        void* h = open(&d);
        result = d.OpenResult;
        std::printf("open=%d\n", result);
        std::fflush(stdout);
        if (!h) break;
        tHeaderData hd;
        while (std::memset(&hd, 0, sizeof hd), readHeader(h, &hd) == 0) {
            std::printf("entry=%s\n", hd.FileName);
            std::printf("test=%d\n", processFile(h, PK_TEST, nullptr, nullptr));
        }
        close(h);
    }
    FreeLibrary(m);
    return result;
}
