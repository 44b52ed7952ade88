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
#include "tests/support/test_data.h"

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
                                            "ReadHeaderEx",       "PackSetDefaultParams", "GetBackgroundFlags"};
    EXPECT_EQ(expected, names);
    EXPECT_EQ(132, host->GetPackerCaps());
    ASSERT_NE(nullptr, host->GetBackgroundFlags);
    EXPECT_EQ(BACKGROUND_UNPACK, host->GetBackgroundFlags());
}
#endif

TEST_F(Slots, TwoOpenAtOnceInTheSlots) {
    const std::string a = one("a");
    void* h1 = open(a);
    void* h2 = open(a);
    ASSERT_NE(nullptr, h1);
    ASSERT_NE(nullptr, h2);
    EXPECT_NE(h1, h2);  // the same path open twice: two independent contexts
    EXPECT_EQ((std::vector<std::string>{"a"}), walkNames(h1));
    EXPECT_EQ((std::vector<std::string>{"a"}), walkNames(h2));
    host->CloseArchive(h1);
    host->CloseArchive(h2);
    // Both parked with the same path: the first is found first.
    EXPECT_EQ(h1, open(a));
    host->CloseArchive(h1);
}

// With both slots busy (a worker thread copying out of one archive, another
// testing a second, the user opening a third), further opens get contexts of
// their own, which close destroys: the slots' kept contexts never notice.
TEST_F(Slots, OpensBeyondTheSlotsGetContextsOfTheirOwn) {
    const std::string a = one("a", "a.kiv"), b = one("b", "b.kiv");
    struct Extra {
        std::string path, name;
        Bytes data;
        void* handle = nullptr;
    };
    std::vector<Extra> extras;
    for (int i = 3; i <= 5; ++i) {
        Extra e;
        e.name = "third-" + std::to_string(i) + ".txt";
        e.data = noise(5000 + 1000 * i, static_cast<uint32_t>(i));
        ArchiveWriter w;
        w.compression('z');
        w.dir("d").file(e.name, e.data).end().file("x", std::to_string(i)).dir("empty").end();
        e.path = save(w, "extra" + std::to_string(i) + ".kiv");
        extras.push_back(e);
    }
    void* ha = open(a);
    void* hb = open(b);
    ASSERT_NE(nullptr, ha);
    ASSERT_NE(nullptr, hb);
    std::set<void*> handles = {ha, hb};
    for (Extra& e : extras) {
        int result = -1;
        e.handle = open(e.path, &result);
        ASSERT_NE(nullptr, e.handle) << e.path;
        EXPECT_EQ(0, result);
        EXPECT_TRUE(handles.insert(e.handle).second) << "a handle given out twice";
    }
    // Interleaved: every handle walks and extracts its own archive.
    for (Extra& e : extras) {
        tHeaderData header{};
        ASSERT_EQ(0, host->ReadHeader(e.handle, &header));
        EXPECT_STREQ("d", header.FileName);
        ASSERT_EQ(0, host->ReadHeader(e.handle, &header));
        EXPECT_EQ(e.data.size(), static_cast<size_t>(header.UnpSize));
        std::string dest = dir.file("out-" + e.name);
        EXPECT_EQ(0, host->ProcessFile(e.handle, PK_EXTRACT, nullptr, &dest[0]));
        EXPECT_EQ(e.data, readFile(dest));
    }
    EXPECT_EQ((std::vector<std::string>{"a"}), walkNames(ha));
    for (Extra& e : extras) {
        tHeaderData header{};
        ASSERT_EQ(0, host->ReadHeader(e.handle, &header));
        EXPECT_STREQ("x", header.FileName);
        EXPECT_EQ(0, host->ProcessFile(e.handle, PK_TEST, nullptr, nullptr));
        ASSERT_EQ(0, host->ReadHeader(e.handle, &header));
        EXPECT_STREQ("empty", header.FileName);
        EXPECT_EQ(E_END_ARCHIVE, host->ReadHeader(e.handle, &header));
        EXPECT_EQ(0, host->CloseArchive(e.handle));
        // A closed extra context is gone: its handle answers nothing.
        EXPECT_EQ(E_END_ARCHIVE, host->ReadHeader(e.handle, &header));
        EXPECT_EQ(E_BAD_ARCHIVE, host->ProcessFile(e.handle, PK_TEST, nullptr, nullptr));
    }
    EXPECT_EQ((std::vector<std::string>{"b"}), walkNames(hb));

    // A busy slot is never taken over, even for its own path; an extra
    // context reads the settings as they are at its open (this switch hides
    // the folder entries).
    writeText(pluginFolder() + "/kiv.ini", "hideEmptyDirs=1\n");
    void* again = open(extras[0].path);
    ASSERT_NE(nullptr, again);
    EXPECT_NE(ha, again);
    EXPECT_NE(hb, again);
    EXPECT_EQ((std::vector<std::string>{"d\\" + extras[0].name, "x"}), walkNames(again));
    void* sameAsA = open(a);
    ASSERT_NE(nullptr, sameAsA);
    EXPECT_NE(ha, sameAsA);
    host->CloseArchive(sameAsA);
    host->CloseArchive(again);

    // The slots park as before; their kept catalogues are found again (the
    // files are rewritten with the same length and time, so only a kept
    // catalogue still shows the old names), and nothing parked in an extra.
    struct stat st;
    ASSERT_EQ(0, stat(a.c_str(), &st));
    host->CloseArchive(ha);
    host->CloseArchive(hb);
    ASSERT_EQ(a, one("A", "a.kiv"));
    setMtime(a, st.st_mtime);
    EXPECT_EQ(ha, open(a));
    EXPECT_EQ((std::vector<std::string>{"a"}), walkNames(ha));
    // An extra context's path gets the free slot, never a context of its own.
    void* third = open(extras[1].path);
    EXPECT_EQ(hb, third);
    host->CloseArchive(third);
    host->CloseArchive(ha);
}

TEST_F(Slots, ExtraContextsAreBounded) {
    const std::string a = one("a");
    std::vector<void*> open_;
    for (int i = 0; i < 32; ++i) {
        int result = -1;
        void* h = open(a, &result);
        ASSERT_NE(nullptr, h) << "open " << i + 1 << " gave " << result;
        open_.push_back(h);
    }
    EXPECT_EQ(32u, std::set<void*>(open_.begin(), open_.end()).size());
    int result = 0;
    EXPECT_EQ(nullptr, open(a, &result));
    EXPECT_EQ(E_NO_MEMORY, result);
    // One closed: one more fits.
    host->CloseArchive(open_.back());
    open_.back() = open(a, &result);
    ASSERT_NE(nullptr, open_.back());
    EXPECT_EQ((std::vector<std::string>{"a"}), walkNames(open_.back()));
    EXPECT_EQ(nullptr, open(a, &result));
    // Half left open: unloading the plug-in (TearDown) must destroy them,
    // or the sanitizer build's leak checker reports them.
    for (size_t i = 0; i < open_.size(); i += 2) host->CloseArchive(open_[i]);
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
