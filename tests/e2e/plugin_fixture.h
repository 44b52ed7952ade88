// End-to-end fixture: a private copy of the built plug-in (so its settings
// file and its module-wide state belong to this test alone), a folder for
// archives and output, and helpers that list and extract through the exports.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/plugin_host.h"
#include "tests/support/temp_dir.h"
#include "tests/writer/archive_writer.h"

namespace kivtest {

class PluginFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads a fresh instance of the plug-in (`built`) from its own folder;
    // `ini`, when given, is written there as kiv.ini first.
    void loadPlugin(const std::string* ini = nullptr, const std::string& built = builtPlugin());
    void loadPluginWithSettings(const std::string& ini) { loadPlugin(&ini); }
    std::string pluginFolder() const { return pluginFolder_; }

    // Writes the archive into the test folder.
    std::string save(const ArchiveWriter& w, const std::string& name = "a.kiv");
    // Opens, lists and closes; the open result goes to `result`.
    std::vector<Listed> list(const std::string& path, int* result = nullptr);
    std::vector<std::string> names(const std::string& path);
    // Extracts the entry called `entry` to `dest` (or tests it when dest is
    // empty). Returns ProcessFile's result, or -1 when the entry is absent.
    int extractOne(const std::string& archive, const std::string& entry, const std::string& dest);

    TempDir dir;
    std::unique_ptr<PluginHost> host;

private:
    std::vector<std::unique_ptr<TempDir>> pluginDirs_;
    std::string pluginFolder_;
};

}  // namespace kivtest
