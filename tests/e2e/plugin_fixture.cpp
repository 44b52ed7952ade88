#include "tests/e2e/plugin_fixture.h"

#include <filesystem>

namespace kivtest {

void PluginFixture::SetUp() { loadPlugin(); }

void PluginFixture::TearDown() { host.reset(); }

void PluginFixture::loadPlugin(const std::string* ini, const std::string& built) {
    host.reset();
    pluginDirs_.push_back(std::make_unique<TempDir>());
    pluginFolder_ = pluginDirs_.back()->path();
    // Under the built file's own name (kiv.wcx64 on 64-bit Windows).
    const std::string copy =
        pluginDirs_.back()->file(std::filesystem::path(built).filename().string());
    std::filesystem::copy_file(built, copy);
    if (ini) writeText(pluginDirs_.back()->file("kiv.ini"), *ini);
    host = std::make_unique<PluginHost>(copy);
}

std::string PluginFixture::save(const ArchiveWriter& w, const std::string& name) {
    const std::string path = dir.file(name);
    w.writeTo(path);
    return path;
}

std::vector<Listed> PluginFixture::list(const std::string& path, int* result) {
    std::vector<Listed> out;
    const int r = host->list(path, out);
    if (result) *result = r;
    else EXPECT_EQ(0, r) << "open of " << path;
    return out;
}

std::vector<std::string> PluginFixture::names(const std::string& path) {
    std::vector<std::string> out;
    for (const Listed& e : list(path)) out.push_back(e.name);
    return out;
}

int PluginFixture::extractOne(const std::string& archive, const std::string& entry, const std::string& dest) {
    int result = 0;
    void* h = host->open(archive, result);
    if (!h) return result;
    int code = -1;
    host->walk(h, [&](const Listed& e) {
        if (e.name == entry && code == -1) {
            std::string d = dest;
            code = dest.empty() ? host->ProcessFile(h, PK_TEST, nullptr, nullptr)
                                : host->ProcessFile(h, PK_EXTRACT, nullptr, &d[0]);
        } else {
            host->ProcessFile(h, PK_SKIP, nullptr, nullptr);
        }
    });
    host->CloseArchive(h);
    return code;
}

}  // namespace kivtest
