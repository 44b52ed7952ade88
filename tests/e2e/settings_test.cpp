// kiv.ini beside the plug-in: how each switch shapes the listing, how the
// file's lines are read, when it is read, and the default file written on
// close.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "tests/e2e/plugin_fixture.h"

namespace kivtest {
namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

// Written in text mode: lines end in CR LF on Windows.
#if defined(_WIN32)
#define KIV_EOL "\r\n"
#else
#define KIV_EOL "\n"
#endif
const char kDefaultFile[] =
    "flatArchive=0" KIV_EOL
    "hideEmptyDirs=0" KIV_EOL
    "hideStoredFiles=0" KIV_EOL
    "hideStoredLinks=0" KIV_EOL
    "showDeletedFiles=0" KIV_EOL
    "showReferenceFiles=0" KIV_EOL
    "showReferenceLinks=0" KIV_EOL;
#undef KIV_EOL

// One of every kind that a switch affects.
ArchiveWriter everyKind() {
    ArchiveWriter w;
    w.dir("d").file("f", "x").end();
    w.dir("e").end();
    w.linkTarget("s", "stored", 7).hardLink("hl", 7);
    w.symlink("l", "t");
    w.refFile("R", 10, 0x1234);
    w.refSymlink("RL");
    w.refDevice('b', "RB");
    w.deleted("gone");
    w.device('c', "dev", 1, 2);
    return w;
}

const Names kDefaultNames = {"d", "d\\f", "e", "s", "hl", "l", "dev"};
const Names kFlatNames = {"d", "f", "e", "s", "hl", "l", "dev"};

class SettingsTest : public PluginFixture {
protected:
    std::string iniPath() const { return pluginFolder() + "/kiv.ini"; }
    // A fresh plug-in with `ini` beside it lists the every-kind archive.
    std::vector<Listed> listWith(const std::string& ini) {
        loadPluginWithSettings(ini);
        return list(save(everyKind()));
    }
    Names namesWith(const std::string& ini) {
        Names out;
        for (const Listed& e : listWith(ini)) out.push_back(e.name);
        return out;
    }
};

// ---------------------------------------------------------------------------
// Each switch on its own.

struct FlagCase {
    const char* label;
    const char* ini;
    Names expected;
};
std::ostream& operator<<(std::ostream& os, const FlagCase& c) { return os << c.label; }

class SettingsFlags : public SettingsTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(SettingsFlags, ChangesTheListing) {
    EXPECT_EQ(GetParam().expected, namesWith(GetParam().ini));
}

const FlagCase kFlagCases[] = {
    {"none", "", kDefaultNames},
    {"flatArchive", "flatArchive=1\n", kFlatNames},
    {"hideEmptyDirs", "hideEmptyDirs=1\n", {"d\\f", "s", "hl", "l", "dev"}},
    {"hideStoredFiles", "hideStoredFiles=1\n", {"d", "e", "l", "dev"}},
    {"hideStoredLinks", "hideStoredLinks=1\n", {"d", "d\\f", "e", "s", "hl", "dev"}},
    {"showDeletedFiles", "showDeletedFiles=1\n", {"d", "d\\f", "e", "s", "hl", "l", "gone", "dev"}},
    {"showReferenceFiles", "showReferenceFiles=1\n", {"d", "d\\f", "e", "s", "hl", "l", "R", "dev"}},
    {"showReferenceLinks", "showReferenceLinks=1\n", {"d", "d\\f", "e", "s", "hl", "l", "RL", "RB", "dev"}},
    {"onlyReferenceFiles", "hideStoredFiles=1\nshowReferenceFiles=1\n", {"d", "e", "l", "R", "dev"}},
    {"allSeven",
     "flatArchive=1\nhideEmptyDirs=1\nhideStoredFiles=1\nhideStoredLinks=1\nshowDeletedFiles=1\n"
     "showReferenceFiles=1\nshowReferenceLinks=1\n",
     {"R", "RL", "RB", "gone", "dev"}},
};

INSTANTIATE_TEST_SUITE_P(Settings, SettingsFlags, ::testing::ValuesIn(kFlagCases),
                         [](const ::testing::TestParamInfo<FlagCase>& info) { return std::string(info.param.label); });

TEST_F(SettingsTest, ShownEntriesCarryTheirAttributesAndSizes) {
    const std::vector<Listed> entries = listWith("showDeletedFiles=1\nshowReferenceFiles=1\n");
    bool sawGone = false, sawRef = false;
    for (const Listed& e : entries) {
        if (e.name == "gone") {
            sawGone = true;
            EXPECT_EQ(0x02, e.fileAttr);
            EXPECT_EQ(0, e.unpSize);
        }
        if (e.name == "R") {
            sawRef = true;
            EXPECT_EQ(0x20, e.fileAttr);
            EXPECT_EQ(0, e.unpSize);
            EXPECT_EQ(0, e.packSize);
        }
    }
    EXPECT_TRUE(sawGone);
    EXPECT_TRUE(sawRef);
}

// ---------------------------------------------------------------------------
// How lines are read.

struct LineCase {
    const char* label;
    std::string ini;
    bool flat;
};
std::ostream& operator<<(std::ostream& os, const LineCase& c) { return os << c.label; }

class SettingsLines : public SettingsTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(SettingsLines, DecideFlatArchive) {
    EXPECT_EQ(GetParam().flat ? kFlatNames : kDefaultNames, namesWith(GetParam().ini));
}

const std::string k79 = "flatArchive=1" + std::string(66, ' ');  // a whole first piece

const LineCase kLineCases[] = {
    {"plain", "flatArchive=1\n", true},
    {"noLineEnd", "flatArchive=1", true},
    {"crlf", "flatArchive=1\r\n", true},
    {"spaceBeforeEquals", "flatArchive = 1\n", false},
    {"spaceAfterEquals", "flatArchive= 1\n", true},
    {"leadingSpace", " flatArchive=1\n", false},
    {"upperCaseKey", "FlatArchive=1\n", false},
    {"longerKey", "flatArchives=1\n", false},
    {"shorterKey", "flatArchiv=1\n", false},
    {"byteOrderMark", "\xEF\xBB\xBF" "flatArchive=1\n", false},
    {"sectionHeaderIsNoKey", "[kiv]\nflatArchive=1\n", true},
    {"two", "flatArchive=2\n", true},
    {"minusOne", "flatArchive=-1\n", true},
    {"digitsThenText", "flatArchive=7 apples\n", true},
    {"yes", "flatArchive=yes\n", false},
    {"hex", "flatArchive=0x1\n", false},
    {"empty", "flatArchive=\n", false},
    {"zero", "flatArchive=0\n", false},
    {"keyWithoutEquals", "flatArchive\n", false},
    {"laterLineOverridesOn", "flatArchive=0\nflatArchive=1\n", true},
    {"laterLineOverridesOff", "flatArchive=1\nhideStoredLinks=0\nflatArchive=0\n", false},
    // 100 characters: the 80th onwards is read as a line of its own.
    {"secondPieceOfALongLine", std::string(79, '#') + "flatArchive=1" + std::string(8, ' ') + "\n", true},
    {"keySplitByThePieceBoundary", std::string(72, '#') + "flatArchive=1" + std::string(15, ' ') + "\n",
     false},
    {"equalsPastThe79th", "flatArchive" + std::string(70, ' ') + "=1" + std::string(17, ' ') + "\n", false},
};

INSTANTIATE_TEST_SUITE_P(Settings, SettingsLines, ::testing::ValuesIn(kLineCases),
                         [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.label); });

TEST_F(SettingsTest, ALongLineIsReadAsTwoPieces) {
    // First piece: flatArchive=1 and spaces (79 characters); second: a
    // setting of its own (21 characters and the line end).
    const std::string line = k79 + "hideStoredLinks=1" + std::string(4, ' ') + "\n";
    ASSERT_EQ(101u, line.size());
    EXPECT_EQ((Names{"d", "f", "e", "s", "hl", "dev"}), namesWith(line));
}

// ---------------------------------------------------------------------------
// legacyCodePage: the code page of names in archives of format version 3 and
// below. POSIX hosts are shown them in UTF-8; the ANSI functions of Windows
// builds report the stored bytes (their wide names are checked under Wine).

struct LegacyName {
    std::string stored;
    std::string posix;    // UTF-8, as the Linux file manager is shown it
    std::string windows;  // the stored bytes, made safe
};
struct LegacyCase {
    const char* label;
    const char* ini;
    std::vector<LegacyName> names;  // files at the top level, in this order
};
std::ostream& operator<<(std::ostream& os, const LegacyCase& c) { return os << c.label; }

const std::string kCafe = "caf\xE9.txt";  // code page 1252
const LegacyName kCafe1252 = {kCafe, "caf\xC3\xA9.txt", kCafe};

const LegacyCase kLegacyCases[] = {
    // The default: 1252; a byte it does not map becomes U+FFFD.
    {"default1252", "", {kCafe1252, {"\x81x", "\xEF\xBF\xBDx", "\x81x"}}},
    {"cp1251", "legacyCodePage=1251\n",
     {{"\xEF\xF0\xE8\xE2\xE5\xF2.txt", "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt",
       "\xEF\xF0\xE8\xE2\xE5\xF2.txt"},
      {"\x81x", "\xD0\x83x", "\x81x"}}},
    // Second bytes 5C are no separators; a character cut off or a pair the
    // code page lacks becomes U+FFFD, and what follows is read on its own.
    {"cp932", "legacyCodePage=932\n",
     {{"\x83\x5C", "\xE3\x82\xBD", "\x83\\_"},
      {"\x95\x5C\\..\\x", "\xE8\xA1\xA8\\_\\x", "\x95\\_\\_\\x"},
      {"a\x83", "a\xEF\xBF\xBD", "a\x83"},
      {"\x83 x", "\xEF\xBF\xBD x", "\x83 x"}}},
    // A converter that holds the last character back until it is flushed.
    {"cp1258", "legacyCodePage=1258\n", {{"c\xE0", "c\xC3\xA0", "c\xE0"}}},
    {"unknownKeepsTheDefault", "legacyCodePage=12345\n", {kCafe1252}},
    {"laterLineOverrides", "legacyCodePage=1251\nlegacyCodePage=x\n", {kCafe1252}},
    {"keyCaseMatters", "LegacyCodePage=1251\n", {kCafe1252}},
    {"withTheSwitches", "flatArchive=0\nlegacyCodePage=1251\nhideEmptyDirs=0\n",
     {{kCafe, "caf\xD0\xB9.txt", kCafe}}},
};

class SettingsLegacyNames : public SettingsTest, public ::testing::WithParamInterface<LegacyCase> {};

TEST_P(SettingsLegacyNames, AreReadInTheirCodePage) {
    loadPluginWithSettings(GetParam().ini);
    ArchiveWriter v3;
    v3.version("03");
    Names expected;
    for (const LegacyName& n : GetParam().names) {
        v3.file(n.stored, "");
#if defined(_WIN32)
        expected.push_back(n.windows);
#else
        expected.push_back(n.posix);
#endif
    }
    // Link targets and the other content texts keep their bytes.
    v3.symlink("l", kCafe);
    expected.push_back("l");
    EXPECT_EQ(expected, names(save(v3, "v3.kiv")));
    const std::string link = dir.file("link.txt");
    EXPECT_EQ(0, extractOne(dir.file("v3.kiv"), "l", link));
    EXPECT_EQ("Link: (" + kCafe + ")", readText(link));

    // Names of later versions are UTF-8 whatever the setting.
    ArchiveWriter v4;
    v4.version("04").file("caf\xC3\xA9.txt", "");
#if defined(_WIN32)
    EXPECT_EQ((Names{kCafe}), names(save(v4, "v4.kiv")));  // in the ANSI code page, 1252 under Wine
#else
    EXPECT_EQ((Names{"caf\xC3\xA9.txt"}), names(save(v4, "v4.kiv")));
#endif
}

INSTANTIATE_TEST_SUITE_P(Settings, SettingsLegacyNames, ::testing::ValuesIn(kLegacyCases),
                         [](const ::testing::TestParamInfo<LegacyCase>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// The default file, and when the file is read.

TEST_F(SettingsTest, WithoutAFileAllIsOffAndCloseWritesTheDefaults) {
    ASSERT_FALSE(fileExists(iniPath()));
    const std::string archive = save(everyKind());
    int result = -1;
    void* h = host->open(archive, result);
    ASSERT_NE(nullptr, h);
    EXPECT_FALSE(fileExists(iniPath())) << "written before the close";
    Names seen;
    for (const Listed& e : host->walk(h)) seen.push_back(e.name);
    EXPECT_EQ(kDefaultNames, seen);
    EXPECT_EQ(0, host->CloseArchive(h));
    EXPECT_EQ(kDefaultFile, readText(iniPath()));

    // Deleted, it comes back at the next close.
    fs::remove(iniPath());
    EXPECT_EQ(kDefaultNames, names(archive));
    EXPECT_EQ(kDefaultFile, readText(iniPath()));
}

TEST_F(SettingsTest, AnExistingFileIsNeverRewritten) {
    const std::string own = "# mine\nhideStoredLinks=1\nnot a setting";
    loadPluginWithSettings(own);
    const std::string archive = save(everyKind());
    list(archive);
    list(archive);
    EXPECT_EQ(own, readText(iniPath()));

    loadPluginWithSettings("");
    list(archive);
    EXPECT_TRUE(readFile(iniPath()).empty());
}

TEST_F(SettingsTest, TheFileIsTakenFromThePluginFolderNotTheWorkingFolder) {
    const std::string archive = save(everyKind());
    writeText(dir.file("kiv.ini"), "flatArchive=1\n");
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    const Names seen = names(archive);
    fs::current_path(before);
    EXPECT_EQ(kDefaultNames, seen);
    EXPECT_EQ("flatArchive=1\n", readText(dir.file("kiv.ini")));
    EXPECT_EQ(kDefaultFile, readText(iniPath()));
}

#if !defined(_WIN32)
// A plug-in installed for all users cannot write beside itself: without a
// kiv.ini there, the one in the host's configuration folder is read and
// written; a kiv.ini beside the plug-in (a portable install) still wins.
void startUp(PluginHost& host, const std::string& confDir) {
    auto info = std::make_unique<tExtensionStartupInfo>();
    std::memset(info.get(), 0, sizeof *info);
    info->StructSize = sizeof *info;
    std::snprintf(info->PluginConfDir, sizeof info->PluginConfDir, "%s", confDir.c_str());
    ASSERT_NE(nullptr, host.ExtensionInitialize);
    host.ExtensionInitialize(info.get());
}

TEST_F(SettingsTest, WithoutAFileBesideItTheHostsConfigurationFolderIsUsed) {
    TempDir conf;
    startUp(*host, conf.path());

    EXPECT_EQ(kDefaultNames, names(save(everyKind(), "a.kiv")));
    EXPECT_EQ(kDefaultFile, readText(conf.file("kiv.ini")));
    EXPECT_FALSE(fileExists(iniPath()));

    writeText(conf.file("kiv.ini"), "flatArchive=1\n");
    EXPECT_EQ(kFlatNames, names(save(everyKind(), "b.kiv")));
    writeText(iniPath(), "hideStoredLinks=0\n");
    EXPECT_EQ(kDefaultNames, names(save(everyKind(), "c.kiv")));
    EXPECT_EQ("flatArchive=1\n", readText(conf.file("kiv.ini")));
}

// PackSetDefaultParams names the host's folder too (the folder of the ini
// file it suggests); the start-up call's folder, when given, comes first.
TEST_F(SettingsTest, TheDefaultIniNamesTheHostsFolderAfterTheStartUpCall) {
    TempDir suggested, conf;
    startUp(*host, "");  // a start-up call that names no folder
    ASSERT_NE(nullptr, host->PackSetDefaultParams);
    PackDefaultParamStruct dps = {};
    dps.size = sizeof dps;
    std::snprintf(dps.DefaultIniName, sizeof dps.DefaultIniName, "%s", suggested.file("wcx.ini").c_str());
    host->PackSetDefaultParams(&dps);

    EXPECT_EQ(kDefaultNames, names(save(everyKind(), "a.kiv")));
    EXPECT_EQ(kDefaultFile, readText(suggested.file("kiv.ini")));
    EXPECT_FALSE(fileExists(iniPath()));
    writeText(suggested.file("kiv.ini"), "flatArchive=1\n");
    EXPECT_EQ(kFlatNames, names(save(everyKind(), "b.kiv")));

    startUp(*host, conf.path());
    EXPECT_EQ(kDefaultNames, names(save(everyKind(), "c.kiv")));
    EXPECT_EQ(kDefaultFile, readText(conf.file("kiv.ini")));

    // A record shorter than the published one is not read.
    TempDir other;
    startUp(*host, "");
    std::snprintf(dps.DefaultIniName, sizeof dps.DefaultIniName, "%s", other.file("wcx.ini").c_str());
    dps.size = 12;
    host->PackSetDefaultParams(&dps);
    EXPECT_EQ(kFlatNames, names(save(everyKind(), "d.kiv")));
    EXPECT_FALSE(fileExists(other.file("kiv.ini")));
}
#endif

TEST_F(SettingsTest, AKeptArchiveKeepsItsFlagsAndANewOneReadsTheEditedFile) {
    loadPluginWithSettings("flatArchive=0\n");
    const std::string a = save(everyKind(), "a.kiv");
    const std::string b = save(everyKind(), "b.kiv");
    EXPECT_EQ(kDefaultNames, names(a));

    writeText(iniPath(), "flatArchive=1\n");
    EXPECT_EQ(kDefaultNames, names(a)) << "reopened from its slot";
    // Even a changed file is read again with the flags the context has.
    fs::last_write_time(a, fs::last_write_time(a) + std::chrono::seconds(5));
    EXPECT_EQ(kDefaultNames, names(a));

    EXPECT_EQ(kFlatNames, names(b)) << "a different archive gets a new context";
    EXPECT_EQ(kFlatNames, names(a)) << "its slot was taken over by b";
}

TEST_F(SettingsTest, TwoOpenArchivesEachReadTheFileWhenCreated) {
    loadPluginWithSettings("hideStoredLinks=1\n");
    const std::string a = save(everyKind(), "a.kiv");
    const std::string b = save(everyKind(), "b.kiv");
    int result = -1;
    void* ha = host->open(a, result);
    ASSERT_NE(nullptr, ha);
    writeText(iniPath(), "flatArchive=1\n");
    void* hb = host->open(b, result);
    ASSERT_NE(nullptr, hb);
    Names na, nb;
    for (const Listed& e : host->walk(ha)) na.push_back(e.name);
    for (const Listed& e : host->walk(hb)) nb.push_back(e.name);
    host->CloseArchive(ha);
    host->CloseArchive(hb);
    EXPECT_EQ((Names{"d", "d\\f", "e", "s", "hl", "dev"}), na);
    EXPECT_EQ(kFlatNames, nb);
}

}  // namespace
}  // namespace kivtest
