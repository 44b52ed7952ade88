// A fresh folder per test, removed afterwards, and small file helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kivtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
void writeText(const std::string& path, const std::string& text);
std::vector<uint8_t> readFile(const std::string& path);
std::string readText(const std::string& path);
bool fileExists(const std::string& path);

}  // namespace kivtest
