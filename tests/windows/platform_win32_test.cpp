// The Win32 platform layer on its own, under Wine (TZ=UTC, code page 1252):
// names, times, 64-bit streams beyond 4 GiB, the extraction file helpers and
// the settings path.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/utime.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

// A fresh folder under the system's temporary folder, removed with its files.
class TempDir {
public:
    TempDir() {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        path_ = std::string(base) + "kivplat" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempDir() {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((path_ + "*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string p = path_ + fd.cFileName;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryA(p.c_str());
                else DeleteFileA(p.c_str());
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA(path_.c_str());
    }
    std::string operator/(const std::string& name) const { return path_ + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void writeText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

std::string readText(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "<missing>";
    std::string s;
    int c;
    while ((c = std::fgetc(f)) != EOF) s += char(c);
    std::fclose(f);
    return s;
}

TEST(Win32Names, Utf8BecomesAnsiCodePage) {
    ASSERT_EQ(GetACP(), 1252u);
    EXPECT_EQ(platform::utf8ToHost("caf\xC3\xA9"), "caf\xE9");
    EXPECT_EQ(platform::utf8ToHost("plain.txt"), "plain.txt");
    EXPECT_EQ(platform::utf8ToHost(""), "");
    // Not representable in 1252, and not UTF-8 at all: both become '?'.
    EXPECT_EQ(platform::utf8ToHost("\xE2\x82\xAC"), "\x80");  // the euro sign is 0x80 in 1252
    EXPECT_EQ(platform::utf8ToHost("\xE6\x97\xA5"), "?");
    EXPECT_EQ(platform::utf8ToHost("a\xFF" "b"), "a?b");
}

TEST(Win32Names, LongNamesAreNotCut) {
    std::string utf8, ansi;
    for (int i = 0; i < 400; ++i) {
        utf8 += "\xC3\xA4";
        ansi += '\xE4';
    }
    EXPECT_EQ(platform::utf8ToHost(utf8), ansi);
}

TEST(Win32Time, LocalTimeOfSignedSeconds) {
    std::tm tm = {};
    ASSERT_TRUE(platform::localTime(1000000000, tm));  // 2001-09-09 01:46:40 UTC
    EXPECT_EQ(tm.tm_year, 101);
    EXPECT_EQ(tm.tm_mon, 8);
    EXPECT_EQ(tm.tm_mday, 9);
    EXPECT_EQ(tm.tm_hour, 1);
    EXPECT_EQ(tm.tm_min, 46);
    EXPECT_EQ(tm.tm_sec, 40);
    ASSERT_TRUE(platform::localTime(0, tm));
    EXPECT_EQ(tm.tm_year, 70);
    ASSERT_TRUE(platform::localTime(INT32_MAX, tm));  // 2038-01-19 03:14:07
    EXPECT_EQ(tm.tm_year, 138);
    EXPECT_FALSE(platform::localTime(-1, tm));
    EXPECT_FALSE(platform::localTime(INT32_MIN, tm));
}

TEST(Win32Files, ModificationTime) {
    TempDir dir;
    std::string path = dir / "dated.bin";
    writeText(path, "x");
    struct _utimbuf times = {1234567890, 1234567890};
    ASSERT_EQ(_utime(path.c_str(), &times), 0);
    int64_t mtime = 0;
    ASSERT_TRUE(platform::fileModTime(path.c_str(), mtime));
    EXPECT_EQ(mtime, 1234567890);
    EXPECT_FALSE(platform::fileModTime((dir / "missing.bin").c_str(), mtime));
}

TEST(Win32Files, StreamsBeyondFourGiB) {
    TempDir dir;
    std::string path = dir / "big.bin";
    const int64_t size = (int64_t(5) << 30) + 3;  // sparse: only the last bytes are written
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(_chsize_s(_fileno(f), size - 3), 0);
        ASSERT_TRUE(platform::seekFile(f, size - 3));
        std::fwrite("END", 1, 3, f);
        // Unflushed bytes count: the length call flushes first.
        EXPECT_EQ(platform::fileLength(f), size);
        std::fclose(f);
    }
    FILE* f = platform::openRead(path.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(platform::fileLength(f), size);
    ASSERT_TRUE(platform::seekFile(f, size - 2));
    EXPECT_EQ(std::fgetc(f), 'N');
    fpos_t pos;
    ASSERT_EQ(std::fgetpos(f, &pos), 0);
    EXPECT_EQ(int64_t(pos), size - 1);
    ASSERT_TRUE(platform::seekFile(f, 0));
    EXPECT_EQ(std::fgetc(f), 0);
    std::fclose(f);
    EXPECT_EQ(platform::openRead((dir / "missing.bin").c_str()), nullptr);
}

TEST(Win32Files, PathKinds) {
    TempDir dir;
    writeText(dir / "file.txt", "x");
    CreateDirectoryA((dir / "sub").c_str(), nullptr);
    EXPECT_EQ(platform::pathKind((dir / "file.txt").c_str()), platform::PathKind::Regular);
    EXPECT_EQ(platform::pathKind((dir / "sub").c_str()), platform::PathKind::Other);
    EXPECT_EQ(platform::pathKind((dir / "none.txt").c_str()), platform::PathKind::Missing);
    EXPECT_EQ(platform::pathKind((dir / "none\\deeper.txt").c_str()), platform::PathKind::Missing);
    EXPECT_EQ(platform::maxPathBytes(), 260u);
}

TEST(Win32Files, TempBesideAndReplace) {
    TempDir dir;
    std::string dest = dir / "out.txt";
    writeText(dest, "old contents, longer than the new ones");

    std::string t1, t2;
    FILE* f1 = platform::createTempBeside(dest, t1);
    FILE* f2 = platform::createTempBeside(dest, t2);
    ASSERT_NE(f1, nullptr);
    ASSERT_NE(f2, nullptr);
    EXPECT_NE(t1, t2);
    EXPECT_NE(t1, dest);
    EXPECT_EQ(t1.substr(0, dir.path().size()), dir.path());  // same folder
    EXPECT_EQ(t1.find('\\', dir.path().size()), std::string::npos);
    std::fwrite("new", 1, 3, f1);
    std::fclose(f1);
    std::fclose(f2);
    platform::removeFile(t2.c_str());
    EXPECT_EQ(platform::pathKind(t2.c_str()), platform::PathKind::Missing);

    ASSERT_TRUE(platform::replaceFile(t1.c_str(), dest.c_str()));
    EXPECT_EQ(readText(dest), "new");
    EXPECT_EQ(platform::pathKind(t1.c_str()), platform::PathKind::Missing);
    // To a name that does not exist yet, and from one that does not exist.
    std::string t3;
    FILE* f3 = platform::createTempBeside(dest, t3);
    ASSERT_NE(f3, nullptr);
    std::fclose(f3);
    EXPECT_TRUE(platform::replaceFile(t3.c_str(), (dir / "fresh.txt").c_str()));
    EXPECT_FALSE(platform::replaceFile((dir / "gone.tmp").c_str(), dest.c_str()));

    std::string t4 = "unchanged";
    EXPECT_EQ(platform::createTempBeside(dir / "nofolder\\out.txt", t4), nullptr);
}

TEST(Win32Module, SettingsPathBesideTheModule) {
    platform::setModuleHandle(nullptr);  // this program's own file
    char exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    std::string folder(exe);
    folder.erase(folder.find_last_of('\\') + 1);
    EXPECT_EQ(platform::modulePath(), std::string(exe));
    EXPECT_EQ(platform::besideModule("kiv.ini"), folder + "kiv.ini");
    // A name that does not fit the 260-byte buffer gives no path at all.
    EXPECT_EQ(platform::besideModule(std::string(300, 'n').c_str()), "");
}

TEST(Win32Beep, CountsEveryBeep) {
    unsigned before = platform::beepCount();
    platform::beep();
    platform::beep();
    EXPECT_EQ(platform::beepCount(), before + 2);
}

}  // namespace
