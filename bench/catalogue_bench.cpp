// Microbenchmarks of catalogue reading through the plug-in's exports, on
// archives of 100,000 entries made by the test archive writer.
//   kivbench_catalogue [--benchmark_filter=...]   (KIV_PLUGIN overrides the plug-in path)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "plugin.h"
#include "tests/writer/archive_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr unsigned kDirs = 100;
constexpr unsigned kFiles = 1000;
constexpr int64_t kEntries = kDirs * (kFiles + 1);

Plugin& plugin() {
    static std::unique_ptr<Plugin> loaded = [] {
        const char* env = std::getenv("KIV_PLUGIN");
        std::string error;
        auto p = Plugin::load(env ? env : KIV_BUILT_PLUGIN, error);
        if (!p) throw std::runtime_error(error);
        return p;
    }();
    return *loaded;
}

// Two copies per compression: opening them in turn makes every open read
// the catalogue, because a slot keeps only the archive it last held.
std::string archivePath(char compression, int copy) {
    static std::map<std::string, std::string> made;
    const std::string key = std::string(1, compression) + std::to_string(copy);
    auto it = made.find(key);
    if (it != made.end()) return it->second;
    const fs::path dir = fs::temp_directory_path() / "kivbench-catalogue";
    fs::create_directories(dir);
    const std::string path = (dir / ("catalogue-" + key + ".kiv")).string();
    kivtest::ArchiveWriter w;
    w.compression(static_cast<uint8_t>(compression));
    unsigned long n = 0;
    for (unsigned d = 0; d < kDirs; ++d) {
        char name[32];
        std::snprintf(name, sizeof name, "dir%04u", d + 1);
        w.dir(name, 1717243200 + d);
        for (unsigned f = 0; f < kFiles; ++f, ++n) {
            std::snprintf(name, sizeof name, "file%07lu.txt", n);
            w.file(name, std::string(), 1717243200 + n);
        }
        w.end();
    }
    w.writeTo(path);
    return made[key] = path;
}

void* open(const std::string& path) {
    tOpenArchiveData data{};
    data.ArcName = const_cast<char*>(path.c_str());
    void* handle = plugin().openArchive(&data);
    if (!handle) throw std::runtime_error("cannot open " + path);
    return handle;
}

int64_t walk(void* handle) {
    tHeaderData header{};
    int64_t n = 0;
    while (plugin().readHeader(handle, &header) == 0) {
        plugin().processFile(handle, PK_SKIP, nullptr, nullptr);
        ++n;
    }
    return n;
}

// Open (reading the catalogue), walk every header, close.
void BM_OpenAndList(benchmark::State& state, char compression) {
    const std::string paths[2] = {archivePath(compression, 0), archivePath(compression, 1)};
    int turn = 0;
    for (auto _ : state) {
        void* handle = open(paths[turn ^= 1]);
        const int64_t n = walk(handle);
        plugin().closeArchive(handle);
        if (n != kEntries) state.SkipWithError("wrong entry count");
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK_CAPTURE(BM_OpenAndList, stored_catalogue, 'n')->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenAndList, zlib_catalogue, 'z')->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenAndList, bzip2_catalogue, 'y')->Unit(benchmark::kMillisecond);

// Open and close of the unchanged archive: the kept context is used.
void BM_Reopen(benchmark::State& state) {
    const std::string path = archivePath('n', 0);
    plugin().closeArchive(open(path));
    for (auto _ : state) plugin().closeArchive(open(path));
}
BENCHMARK(BM_Reopen)->Unit(benchmark::kMicrosecond);

// Walking the headers of an open archive.
void BM_HeaderWalk(benchmark::State& state) {
    void* handle = open(archivePath('n', 0));
    for (auto _ : state) benchmark::DoNotOptimize(walk(handle));
    plugin().closeArchive(handle);
    state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_HeaderWalk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
