// kivreopen ARCHIVE [--plugin PATH] [--repeat N]
// Times what a host pays to open an archive through the plug-in the first
// time (the catalogue is read) and again after closing it while the file is
// unchanged (the kept context is used), next to the cost of just opening the
// file. Prints key=value lines for bench/run.sh.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "plugin.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Bytes this process has read through system calls so far; shows whether an
// open went back to the catalogue.
long long bytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

struct Pass {
    double openMs = 0;
    double listMs = 0;
    long long openBytes = 0;
    long entries = 0;
    int result = 0;
};

int WCX_CALL keepGoing(char*, int) { return 1; }

Pass openAndList(Plugin& plugin, const std::string& archive) {
    Pass pass;
    std::vector<char> name(archive.begin(), archive.end());
    name.push_back(0);
    tOpenArchiveData data{};
    data.ArcName = name.data();
    data.OpenMode = PK_OM_LIST;

    const long long before = bytesRead();
    const auto start = Clock::now();
    void* handle = plugin.openArchive(&data);
    pass.openMs = msSince(start);
    pass.openBytes = bytesRead() - before;
    if (!handle) {
        pass.result = data.OpenResult ? data.OpenResult : E_EOPEN;
        return pass;
    }
    // The file manager's order after opening.
    const auto listStart = Clock::now();
    if (plugin.setChangeVolProc) plugin.setChangeVolProc(handle, nullptr);
    if (plugin.setProcessDataProc) plugin.setProcessDataProc(handle, keepGoing);
    tHeaderData header{};
    int rc;
    while ((rc = plugin.readHeader(handle, &header)) == 0) {
        ++pass.entries;
        if (plugin.processFile(handle, PK_SKIP, nullptr, nullptr) != 0) break;
    }
    pass.listMs = msSince(listStart);
    if (rc != E_END_ARCHIVE) pass.result = rc;
    plugin.closeArchive(handle);
    return pass;
}

double fileOpenMs(const std::string& archive) {
    const auto start = Clock::now();
    FILE* f = std::fopen(archive.c_str(), "rb");
    struct stat st;
    if (!f || fstat(fileno(f), &st) != 0) {
        if (f) std::fclose(f);
        return -1;
    }
    std::fclose(f);
    return msSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    std::string archive, pluginPath;
    int repeat = 20;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--plugin") && i + 1 < argc)
            pluginPath = argv[++i];
        else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (archive.empty() && argv[i][0] != '-')
            archive = argv[i];
        else {
            std::fprintf(stderr, "usage: kivreopen ARCHIVE [--plugin PATH] [--repeat N]\n");
            return 2;
        }
    }
    if (archive.empty() || pluginPath.empty()) {
        std::fprintf(stderr, "usage: kivreopen ARCHIVE --plugin PATH [--repeat N]\n");
        return 2;
    }
    std::string error;
    auto plugin = Plugin::load(pluginPath, error);
    if (!plugin) {
        std::fprintf(stderr, "kivreopen: %s\n", error.c_str());
        return 2;
    }

    std::vector<double> fileOpen;
    for (int i = 0; i < repeat; ++i) fileOpen.push_back(fileOpenMs(archive));

    const Pass first = openAndList(*plugin, archive);
    if (first.result) {
        std::fprintf(stderr, "kivreopen: first open/list failed with code %d\n", first.result);
        return 1;
    }
    std::vector<double> reopen, relist;
    long long reopenBytes = 0;
    for (int i = 0; i < repeat; ++i) {
        const Pass again = openAndList(*plugin, archive);
        if (again.result || again.entries != first.entries) {
            std::fprintf(stderr, "kivreopen: reopen %d gave code %d, %ld entries (first: %ld)\n", i,
                         again.result, again.entries, first.entries);
            return 1;
        }
        reopen.push_back(again.openMs);
        relist.push_back(again.listMs);
        reopenBytes = std::max(reopenBytes, again.openBytes);
    }
    std::printf("entries=%ld\n", first.entries);
    std::printf("file_open_ms=%.4f\n", median(fileOpen));
    std::printf("first_open_ms=%.4f\n", first.openMs);
    std::printf("first_list_ms=%.4f\n", first.listMs);
    std::printf("first_open_read_bytes=%lld\n", first.openBytes);
    std::printf("reopen_ms=%.4f\n", median(reopen));
    std::printf("reopen_max_ms=%.4f\n", *std::max_element(reopen.begin(), reopen.end()));
    std::printf("relist_ms=%.4f\n", median(relist));
    std::printf("reopen_read_bytes=%lld\n", reopenBytes);
    return 0;
}
