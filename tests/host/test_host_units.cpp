// The host's pure pieces: glob matching, target path checks, the header
// record's formatting and the code names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "codes.h"
#include "entry_format.h"
#include "pattern.h"
#include "target_path.h"

namespace {

TEST(HostPattern, GlobOperatorsAndEitherSeparator) {
    using pattern::matches;
    EXPECT_TRUE(matches("*.txt", "docs\\a.txt"));  // '*' crosses separators
    EXPECT_FALSE(matches("*.txt", "docs\\a.txt.bak"));
    EXPECT_TRUE(matches("docs\\*", "docs\\sub\\x"));
    EXPECT_TRUE(matches("docs/sub/?", "docs\\sub\\x"));  // '/' and '\\' stand for either separator
    EXPECT_FALSE(matches("docs/sub/?", "docs\\sub\\xy"));
    EXPECT_TRUE(matches("docs\\sub\\?", "docs/sub/x"));
    EXPECT_TRUE(matches("docs[/]*", "docs\\x"));
    EXPECT_FALSE(matches("docs\\x", "docsx"));
    EXPECT_TRUE(matches("[ab]*.bin", "b1.bin"));
    EXPECT_FALSE(matches("[ab]*.bin", "c1.bin"));
    EXPECT_TRUE(matches("[!ab]*", "c"));
    EXPECT_FALSE(matches("[^ab]*", "a"));
    EXPECT_TRUE(matches("file[0-9]", "file7"));
    EXPECT_FALSE(matches("file[0-9]", "filex"));
    EXPECT_TRUE(matches("[]]", "]"));       // ']' first in a class is literal
    EXPECT_TRUE(matches("a[b", "a[b"));     // an unclosed '[' is an ordinary character
    EXPECT_FALSE(matches("README", "readme"));  // case matters
    EXPECT_TRUE(matches("*", ""));
    EXPECT_FALSE(matches("?", ""));
    EXPECT_TRUE(matches("*a*b*c*", "xxaxxbxxcxx"));
    EXPECT_FALSE(matches("*a*b*c*", "xxaxxcxxbxx"));
    // Many stars must not blow up in time.
    EXPECT_FALSE(matches("*a*a*a*a*a*a*a*a*a*b", std::string(200, 'a')));
}

TEST(HostPattern, NoPatternSelectsEverything) {
    EXPECT_TRUE(pattern::selects({}, "x"));
    EXPECT_TRUE(pattern::selects({"y", "x"}, "x"));
    EXPECT_FALSE(pattern::selects({"y"}, "x"));
}

TEST(HostTargetPath, SplitsAndRefusesEscapes) {
    std::vector<std::string> parts;
    std::string why;
    ASSERT_TRUE(target::split("a\\b\\\\.\\c.txt", parts, why));
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", "c.txt"}));
    ASSERT_TRUE(target::split("a/b", parts, why));
    EXPECT_EQ(parts.size(), 2u);
    ASSERT_TRUE(target::split("dir\\", parts, why));
    EXPECT_EQ(parts, (std::vector<std::string>{"dir"}));
    ASSERT_TRUE(target::split("..name", parts, why));  // only a whole ".." component is refused

    for (const char* bad : {"..\\x", "a\\..\\..\\x", "a\\..", "\\x", "/x", "\\\\server\\share\\x", "C:\\x", "c:x",
                            "", ".", "a\\...\\b", ". .\\x"}) {
        why.clear();
        EXPECT_FALSE(target::split(bad, parts, why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(HostTargetPath, JoinUsesPlatformSeparator) {
    std::vector<std::string> parts{"a", "b", "c"};
    EXPECT_EQ(target::join("/d", parts, 3), "/d/a/b/c");
    EXPECT_EQ(target::join("/d/", parts, 2), "/d/a/b");
    EXPECT_EQ(target::join("/d", parts, 0), "/d");
}

TEST(HostFormat, DosTimeFieldsDecoded) {
    // 2023-05-17 13:45:30
    int t = (43 << 25) | (5 << 21) | (17 << 16) | (13 << 11) | (45 << 5) | 15;
    EXPECT_EQ(entry::dosDateTime(t), "2023-05-17 13:45:30");
    // The top bit set: year 1980 + 127 = 2107, which a signed shift would break.
    int late = static_cast<int>((127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u);
    EXPECT_EQ(entry::dosDateTime(late), "2107-12-31 23:59:58");
    EXPECT_EQ(entry::dosDateTime(0), "1980-00-00 00:00:00");
}

TEST(HostFormat, AttributeLetters) {
    EXPECT_EQ(entry::attributes(0x10), "d----");
    EXPECT_EQ(entry::attributes(0x20), "-a---");
    EXPECT_EQ(entry::attributes(0x27), "-ahsr");
    EXPECT_EQ(entry::attributes(0x00), "-----");
}

TEST(HostFormat, RawLineAndUnsignedSizes) {
    tHeaderData h{};
    std::snprintf(h.FileName, sizeof h.FileName, "dir\\f");
    h.FileTime = 7;
    h.FileAttr = 0x20;
    h.UnpSize = static_cast<int>(3000000000u);
    h.PackSize = 5;
    h.FileCRC = 9;
    entry::Header header;
    entry::fromRecord(h, header);
    EXPECT_EQ(entry::rawLine(header), "7 32 3000000000 5 0 0 9 0 0\tdir\\f");
    EXPECT_EQ(entry::unpackedSize(header), 3000000000u);
    EXPECT_TRUE(entry::tableLine(header).find("3000000000") != std::string::npos);
    // An unterminated FileName is cut at the field's end.
    std::memset(h.FileName, 'n', sizeof h.FileName);
    entry::fromRecord(h, header);
    EXPECT_EQ(entry::name(header), std::string(260, 'n'));
    // The Ex record's halves make whole sizes.
    static tHeaderDataEx ex{};
    std::snprintf(ex.FileName, sizeof ex.FileName, "big");
    ex.UnpSize = 1u << 30;
    ex.UnpSizeHigh = 1;
    ex.PackSize = 7;
    ex.PackSizeHigh = 2;
    entry::fromRecord(ex, header);
    EXPECT_EQ(entry::rawLine(header), "0 0 5368709120 8589934599 0 0 0 0 0\tbig");
}

TEST(HostCodes, EveryInterfaceCodeHasAName) {
    for (int code = 10; code <= 24; ++code) {
        ASSERT_NE(codes::name(code), nullptr) << code;
        std::string d = codes::describe(code);
        EXPECT_NE(d.find(std::string("(") + codes::name(code) + ", " + std::to_string(code) + ")"), std::string::npos);
    }
    EXPECT_EQ(codes::describe(14), "unknown format (E_UNKNOWN_FORMAT, 14)");
    EXPECT_EQ(codes::name(99), nullptr);
    EXPECT_EQ(codes::describe(99), "unrecognised result (99)");
}

}  // namespace
