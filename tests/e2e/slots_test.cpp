// The exported surface and the two archive slots: which slot an open takes,
// when a kept catalogue is reused and when it is read again.
#include <sys/stat.h>
#if defined(_WIN32)
#include <sys/utime.h>
#else
#include <sys/time.h>
#endif

#include <cstdio>
#include <set>

#include "tests/e2e/plugin_fixture.h"

using namespace kivtest;

namespace {

struct Slots : PluginFixture {
    std::string one(const std::string& fileName, const std::string& archiveName = "a.kiv") {
        ArchiveWriter w;
        w.file(fileName, "content");
        return save(w, archiveName);
    }
    void* open(const std::string& path, int* result = nullptr) {
        int r = 0;
        void* h = host->open(path, r);
        if (result) *result = r;
        return h;
    }
    std::vector<std::string> walkNames(void* h) {
        std::vector<std::string> out;
        for (const auto& e : host->walk(h)) out.push_back(e.name);
        return out;
    }
};

// Whole seconds, as the plug-in compares them.
void setMtime(const std::string& path, time_t t) {
#if defined(_WIN32)
    struct _utimbuf times = {t, t};
    _utime(path.c_str(), &times);
#else
    struct timeval tv[2] = {{t, 0}, {t, 0}};
    utimes(path.c_str(), tv);
#endif
}

}  // namespace

#if !defined(_WIN32)  // the Windows export table is inspected by its own test
TEST_F(Slots, ExportsExactlyTheInterface) {
    FILE* p = popen(("nm -D --defined-only " + builtPlugin()).c_str(), "r");
    ASSERT_NE(nullptr, p);
    std::set<std::string> names;
    char line[512];
    while (fgets(line, sizeof line, p)) {
        char addr[64], type[8], name[256];
        if (sscanf(line, "%63s %7s %255s", addr, type, name) == 3) names.insert(name);
    }
    pclose(p);
    const std::set<std::string> expected = {"OpenArchive",        "ReadHeader",          "ProcessFile",
                                            "CloseArchive",       "SetChangeVolProc",    "SetProcessDataProc",
                                            "GetPackerCaps",      "ExtensionInitialize", "ExtensionFinalize",
                                            "ReadHeaderEx",       "PackSetDefaultParams"};
    EXPECT_EQ(expected, names);
    EXPECT_EQ(132, host->GetPackerCaps());
}
#endif

TEST_F(Slots, TwoOpenAtOnceAndNoThird) {
    const std::string a = one("a");
    void* h1 = open(a);
    void* h2 = open(a);
    ASSERT_NE(nullptr, h1);
    ASSERT_NE(nullptr, h2);
    EXPECT_NE(h1, h2);  // the same path open twice: two independent contexts
    EXPECT_EQ((std::vector<std::string>{"a"}), walkNames(h1));
    int result = 0;
    EXPECT_EQ(nullptr, open(one("b", "b.kiv"), &result));
    EXPECT_EQ(E_NO_MEMORY, result);
    EXPECT_EQ((std::vector<std::string>{"a"}), walkNames(h2));
    host->CloseArchive(h1);
    host->CloseArchive(h2);
}

TEST_F(Slots, ReopenKeepsTheCatalogueWhileTheFileIsUnchanged) {
    const std::string a = one("first");
    struct stat st;
    ASSERT_EQ(0, stat(a.c_str(), &st));
    void* h = open(a);
    EXPECT_EQ((std::vector<std::string>{"first"}), walkNames(h));
    host->CloseArchive(h);

    // Same length and time, different catalogue: the kept one is used.
    const std::string b = one("secnd");
    ASSERT_EQ(b, a);
    setMtime(a, st.st_mtime);
    void* again = open(a);
    EXPECT_EQ(h, again);
    EXPECT_EQ((std::vector<std::string>{"first"}), walkNames(again));
    host->CloseArchive(again);

    // A new time is a change even with the same bytes.
    setMtime(a, st.st_mtime + 100);
    again = open(a);
    EXPECT_EQ((std::vector<std::string>{"secnd"}), walkNames(again));
    host->CloseArchive(again);

    // A new length is a change even with the same time.
    ASSERT_EQ(0, stat(a.c_str(), &st));
    one("longer-name");
    setMtime(a, st.st_mtime);
    again = open(a);
    EXPECT_EQ((std::vector<std::string>{"longer-name"}), walkNames(again));
    host->CloseArchive(again);
}

TEST_F(Slots, FreeSlotsAreTakenInOrder) {
    const std::string a = one("a", "a.kiv"), b = one("b", "b.kiv");
    void* ha = open(a);
    host->CloseArchive(ha);
    void* hb = open(b);
    EXPECT_EQ(ha, hb);  // slot 0 was free: A's kept context gives way
    host->CloseArchive(hb);

    // A in slot 0 kept open, B in slot 1; both closed; B is found in slot 1.
    ha = open(a);
    hb = open(b);
    EXPECT_NE(ha, hb);
    host->CloseArchive(ha);
    host->CloseArchive(hb);
    EXPECT_EQ(hb, open(b));
    host->CloseArchive(hb);

    // Another spelling of the same file is another archive.
    void* other = open(dir.path() + "/./a.kiv");
    EXPECT_NE(nullptr, other);
    host->CloseArchive(other);
}

TEST_F(Slots, AFailedOpenKeepsNothing) {
    const std::string a = one("a");
    void* h = open(a);
    host->CloseArchive(h);
    // Damage the file: the open fails and the slot is emptied, so repairing
    // the file (same length, same time) reads it afresh.
    struct stat st;
    stat(a.c_str(), &st);
    Bytes bytes = readFile(a);
    Bytes broken = bytes;
    broken[14] = 'N';
    writeFile(a, broken);
    setMtime(a, st.st_mtime + 50);
    int result = 0;
    EXPECT_EQ(nullptr, open(a, &result));
    EXPECT_EQ(E_UNKNOWN_FORMAT, result);
    writeFile(a, bytes);
    setMtime(a, st.st_mtime + 50);
    h = open(a, &result);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(1u, host->walk(h).size());
    host->CloseArchive(h);
}

TEST_F(Slots, ForeignHandlesAndOperationsAreHarmless) {
    host->SetProcessDataProc(reinterpret_cast<void*>(-1), nullptr);
    host->SetChangeVolProc(reinterpret_cast<void*>(-1), nullptr);
    tHeaderData header{};
    EXPECT_EQ(E_END_ARCHIVE, host->ReadHeader(reinterpret_cast<void*>(-1), &header));
    EXPECT_EQ(0, host->CloseArchive(nullptr));
    const std::string a = one("a");
    void* h = open(a);
    ASSERT_EQ(0, host->ReadHeader(h, &header));
    EXPECT_EQ(0, host->ProcessFile(h, PK_SKIP, nullptr, nullptr));
    EXPECT_EQ(0, host->ProcessFile(h, 7, nullptr, nullptr));
    EXPECT_EQ(0, host->ProcessFile(h, PK_TEST, nullptr, nullptr));
    EXPECT_EQ(0, host->CloseArchive(h));
    EXPECT_EQ(0, host->CloseArchive(h));  // a second close changes nothing
}
