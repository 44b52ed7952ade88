// Password-scrambled archives through the exports: every pad form of both
// parameter sets, compressed or not, and when the input box is asked.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>

#include "tests/e2e/plugin_fixture.h"
#include "tests/support/test_data.h"

namespace kivtest {
namespace {

namespace fs = std::filesystem;

std::string textLike(size_t n) {
    std::string out;
    unsigned i = 0;
    while (out.size() < n) out += "line " + std::to_string(i++) + " of a scrambled text file\n";
    out.resize(n);
    return out;
}

PadOptions singleX() {
    PadOptions p;
    p.form = PadOptions::SingleX;
    return p;
}
PadOptions edgePair() {
    PadOptions p;
    p.form = PadOptions::EdgePair;
    return p;
}

struct Case {
    const char* label;
    std::string version;
    char compression;
    PadOptions head;
    PadOptions tail;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.label; }

// The archive every case scrambles: a folder, several data entries at
// different key offsets, and an entry without data.
ArchiveWriter contents(const std::string& version, char compression) {
    ArchiveWriter w;
    w.version(version).compression(static_cast<uint8_t>(compression));
    w.dir("sub").file("a.txt", "hello, scrambled world\n").end();
    w.file("big.bin", noise(10000, 3)).file("text.txt", textLike(50000)).symlink("l", "../t");
    return w;
}

const std::vector<std::string> kNames = {"sub", "sub\\a.txt", "big.bin", "text.txt", "l"};

class ScrambleCases : public PluginFixture, public ::testing::WithParamInterface<Case> {};

// Scrambles `w`; the leading password bytes are chosen so that the first
// header bytes read as the head pad the case asks for.
std::string makePassword(ArchiveWriter& w, const Case& c) {
    std::string password = "Kiwi-7#scramble";
    // The version decides the marks a pad uses.
    const PadParameters p = padParameters(c.version);
    if (c.head.form == PadOptions::SingleX) password[0] = static_cast<char>(w.headKeyByte(0, 'X'));
    if (c.head.form == PadOptions::EdgePair) {
        password[0] = static_cast<char>(w.headKeyByte(0, p.markBefore));
        password[1] = static_cast<char>(w.headKeyByte(1, p.markAfter));
    }
    ScrambleOptions s;
    s.password = password;
    s.head = c.head;
    s.tail = c.tail;
    w.scramble(s);
    return password;
}

TEST_P(ScrambleCases, ListsTestsAndExtractsWithTheRightPasswordAskedOnce) {
    const Case& c = GetParam();
    ArchiveWriter w = contents(c.version, c.compression);
    const std::string password = makePassword(w, c);
    const std::string archive = save(w);

    host->setPassword(password.c_str());
    EXPECT_EQ(kNames, names(archive));
    EXPECT_EQ(1, host->passwordPrompts());

    // Every later open reuses the kept password.
    const std::string out = dir.file("x");
    EXPECT_EQ(0, extractOne(archive, "sub\\a.txt", out));
    EXPECT_EQ("hello, scrambled world\n", readText(out));
    EXPECT_EQ(0, extractOne(archive, "big.bin", out));
    EXPECT_EQ(noise(10000, 3), readFile(out));
    EXPECT_EQ(0, extractOne(archive, "text.txt", out));
    EXPECT_EQ(textLike(50000), readText(out));
    EXPECT_EQ(0, extractOne(archive, "l", out));
    EXPECT_EQ("Link: (../t)", readText(out));
    EXPECT_EQ(0, extractOne(archive, "text.txt", ""));
    EXPECT_EQ(1, host->passwordPrompts());
}

TEST_P(ScrambleCases, WrongPasswordGives14AndTheNextOpenAsksAgain) {
    const Case& c = GetParam();
    ArchiveWriter w = contents(c.version, c.compression);
    const std::string password = makePassword(w, c);
    const std::string archive = save(w);

    host->setPassword("not the password");
    int result = 0;
    EXPECT_TRUE(list(archive, &result).empty());
    EXPECT_EQ(14, result);
    EXPECT_EQ(1, host->passwordPrompts());

    host->setPassword(password.c_str());
    EXPECT_EQ(kNames, names(archive));
    EXPECT_EQ(2, host->passwordPrompts());
}

const Case kCases[] = {
    {"v06_stored_digits1", "06", 'n', digits(1), digits(1)},
    {"v06_zlib_digits2_3", "06", 'z', digits(2), digits(3)},
    {"v06_bzip2_digits4", "06", 'y', digits(4), digits(4)},
    {"v06_stored_singleX_edgePair", "06", 'n', singleX(), edgePair()},
    {"v06_zlib_edgePair_singleX", "06", 'z', edgePair(), singleX()},
    {"v06_stored_zeroGroups", "06", 'n', digits(1, 1), digits(2, 2)},
    {"v06_bzip2_longPads", "06", 'y', digits(2, 0, 600), digits(3, 0, 70000)},
    {"v07_stored_digits2", "07", 'n', digits(2), digits(2)},
    {"v08_stored_digits1", "08", 'n', digits(1), digits(1)},
    {"v08_zlib_digits3_2", "08", 'z', digits(3), digits(2)},
    {"v08_bzip2_digits4", "08", 'y', digits(4), digits(4)},
    {"v08_stored_edgePair_singleX", "08", 'n', edgePair(), singleX()},
    {"v08_bzip2_singleX_edgePair", "08", 'y', singleX(), edgePair()},
    {"v08_zlib_zeroGroups", "08", 'z', digits(1, 2), digits(1, 1)},
    {"v08_stored_zeroGroups2", "08", 'n', digits(1, 1, 300), digits(3, 2)},
    {"v08_stored_longPads", "08", 'n', digits(2, 0, 600), digits(3, 0, 70000)},
};

INSTANTIATE_TEST_SUITE_P(Scramble, ScrambleCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------

class ScrambleTest : public PluginFixture {
protected:
    // A stored, version 8 archive with two-digit pads.
    std::string makeArchive(const std::string& password, const std::string& name = "s.kiv",
                            const std::string& extra = "") {
        ArchiveWriter w = contents("08", 'n');
        if (!extra.empty()) w.file(extra, "one more");
        ScrambleOptions s;
        s.password = password;
        s.head = digits(2);
        s.tail = digits(2);
        w.scramble(s);
        return save(w, name);
    }
    int openResult(const std::string& archive) {
        int result = -1;
        list(archive, &result);
        return result;
    }
};

TEST_F(ScrambleTest, CancelAndEmptyPasswordGive14AfterOnePrompt) {
    const std::string archive = makeArchive("secret");
    host->setPassword(nullptr);
    EXPECT_EQ(14, openResult(archive));
    EXPECT_EQ(1, host->passwordPrompts());

    host->setPassword("");
    EXPECT_EQ(14, openResult(archive));
    EXPECT_EQ(2, host->passwordPrompts());

    host->setPassword("secret");
    EXPECT_EQ(0, openResult(archive));
    EXPECT_EQ(3, host->passwordPrompts());
}

TEST_F(ScrambleTest, CancelAfterAnEarlierPasswordStillFails) {
    const std::string first = makeArchive("shared", "first.kiv");
    const std::string second = makeArchive("shared", "second.kiv");
    host->setPassword("shared");
    EXPECT_EQ(0, openResult(first));
    host->setPassword(nullptr);
    EXPECT_EQ(14, openResult(second));
    EXPECT_EQ(2, host->passwordPrompts());
}

TEST_F(ScrambleTest, ReopeningTheUnchangedArchiveUsesTheKeptPassword) {
    const std::string archive = makeArchive("secret");
    host->setPassword("secret");
    EXPECT_EQ(kNames, names(archive));
    host->setPassword("wrong");  // would fail if it were asked
    EXPECT_EQ(kNames, names(archive));
    const std::string out = dir.file("out");
    EXPECT_EQ(0, extractOne(archive, "big.bin", out));
    EXPECT_EQ(noise(10000, 3), readFile(out));
    EXPECT_EQ(1, host->passwordPrompts());
}

TEST_F(ScrambleTest, TouchingTheFileAsksAgain) {
    const std::string archive = makeArchive("secret");
    host->setPassword("secret");
    EXPECT_EQ(kNames, names(archive));
    EXPECT_EQ(1, host->passwordPrompts());

    fs::last_write_time(archive, fs::last_write_time(archive) + std::chrono::seconds(10));
    EXPECT_EQ(kNames, names(archive));
    EXPECT_EQ(2, host->passwordPrompts());

    fs::last_write_time(archive, fs::last_write_time(archive) + std::chrono::seconds(10));
    host->setPassword("wrong");
    EXPECT_EQ(14, openResult(archive));
    EXPECT_EQ(3, host->passwordPrompts());
    host->setPassword("secret");
    EXPECT_EQ(0, openResult(archive));
    EXPECT_EQ(4, host->passwordPrompts());
}

TEST_F(ScrambleTest, ANewLengthWithTheSameTimeAsksAgainAndListsTheNewCatalogue) {
    const std::string archive = makeArchive("secret");
    host->setPassword("secret");
    EXPECT_EQ(kNames, names(archive));
    const auto stamp = fs::last_write_time(archive);

    makeArchive("secret", "s.kiv", "added.txt");
    fs::last_write_time(archive, stamp);
    std::vector<std::string> expected = kNames;
    expected.push_back("added.txt");
    EXPECT_EQ(expected, names(archive));
    EXPECT_EQ(2, host->passwordPrompts());
}

TEST_F(ScrambleTest, PasswordOf79CharactersIsTakenWholeAndAn80thIsDropped) {
    std::string p79;
    for (int i = 0; i < 79; ++i) p79 += static_cast<char>('a' + (i * 7) % 26);
    const std::string archive = makeArchive(p79, "p79.kiv");

    host->setPassword(p79.c_str());
    EXPECT_EQ(kNames, names(archive));

    // A fresh plug-in instance asks again; the input box may offer more than
    // the plug-in takes, and the 80th character must be cut off.
    loadPlugin();
    const std::string p80 = p79 + "Q";
    host->setPassword(p80.c_str());
    EXPECT_EQ(kNames, names(archive));
    EXPECT_EQ(1, host->passwordPrompts());
}

#if !defined(_WIN32)  // Windows builds prompt with their own dialog, not the host's input box
// An input box of our own that fills in as much as it is offered.
struct BoxLog {
    int calls = 0;
    int maxLength = -1;
    int masked = -1;
    std::string caption, prompt, answer;
};
BoxLog box;

int recordingInputBox(char* caption, char* prompt, int masked, char* value, int maxLength) {
    ++box.calls;
    box.maxLength = maxLength;
    box.masked = masked;
    box.caption = caption ? caption : "<null>";
    box.prompt = prompt ? prompt : "<null>";
    const size_t n = std::min(box.answer.size(), static_cast<size_t>(maxLength < 0 ? 0 : maxLength));
    std::memcpy(value, box.answer.data(), n);
    value[n] = 0;
    return 1;
}

TEST_F(ScrambleTest, TheInputBoxIsOffered79CharactersAndOnlyItsFunctionIsKept) {
    std::string p79;
    for (int i = 0; i < 79; ++i) p79 += static_cast<char>('a' + (i * 5) % 26);
    const std::string archive = makeArchive(p79, "p79.kiv");
    ASSERT_NE(nullptr, host->ExtensionInitialize);
    {
        // The start-up record lives only for the call, as on the host's stack.
        auto info = std::make_unique<tExtensionStartupInfo>();
        std::memset(info.get(), 0x5A, sizeof *info);
        info->StructSize = sizeof *info;
        info->InputBox = recordingInputBox;
        host->ExtensionInitialize(info.get());
        std::memset(info.get(), 0, sizeof *info);
    }
    box = BoxLog();
    box.answer = p79 + "QRS";
    EXPECT_EQ(kNames, names(archive));
    EXPECT_EQ(1, box.calls);
    EXPECT_EQ(79, box.maxLength);
    EXPECT_EQ(1, box.masked);
    EXPECT_EQ("Password required!", box.caption);
    EXPECT_EQ("Password:", box.prompt);
}
#endif

TEST_F(ScrambleTest, ArchiveScrambledWithAn80CharacterPasswordNeverOpens) {
    std::string p80;
    for (int i = 0; i < 80; ++i) p80 += static_cast<char>('A' + (i * 11) % 26);
    const std::string archive = makeArchive(p80, "p80.kiv");
    host->setPassword(p80.c_str());
    EXPECT_EQ(14, openResult(archive));
    host->setPassword(p80.substr(0, 79).c_str());
    EXPECT_EQ(14, openResult(archive));
    EXPECT_EQ(2, host->passwordPrompts());
}

TEST_F(ScrambleTest, MalformedPadsFailEvenWithTheRightPassword) {
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which == 0 ? "head" : "tail");
        ArchiveWriter w = contents("08", 'n');
        ScrambleOptions s;
        s.password = "secret";
        s.head = digits(2);
        s.tail = digits(2);
        (which == 0 ? s.head : s.tail).digits = 5;  // five digits between the marks
        w.scramble(s);
        const std::string archive = save(w, which == 0 ? "head.kiv" : "tail.kiv");
        host->setPassword("secret");
        EXPECT_EQ(14, openResult(archive));
    }
}

TEST_F(ScrambleTest, DataIsStillVerifiedThroughTheUnscrambling) {
    const Bytes data = noise(7000, 9);
    RecordOptions bad;
    bad.checksumOverride = static_cast<uint16_t>(checksum(data) ^ 0x8000);
    ArchiveWriter w;
    w.compression('z').file("good", data).file("bad", data, 0, bad);
    ScrambleOptions s;
    s.password = "secret";
    w.scramble(s);
    const std::string archive = save(w);

    host->setPassword("secret");
    EXPECT_EQ(0, extractOne(archive, "good", ""));
    EXPECT_EQ(13, extractOne(archive, "bad", ""));
    EXPECT_EQ(13, extractOne(archive, "bad", dir.file("bad")));
    EXPECT_FALSE(fileExists(dir.file("bad")));
}

}  // namespace
}  // namespace kivtest
