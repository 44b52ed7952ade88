// Catalogue reading seen from inside: the entry list, the hidden mark,
// hard-link labels and the beep at a damaged top level.
#include <gtest/gtest.h>

#include "archive/catalogue.h"
#include "archive/header_reader.h"
#include "archive/names.h"
#include "archive/opening.h"
#include "readers/file_reader.h"
#include "platform/platform.h"
#include "tests/support/path_check.h"
#include "tests/support/temp_dir.h"
#include "tests/writer/archive_writer.h"

using namespace kivtest;

namespace {

struct Catalogue : ::testing::Test {
    TempDir dir;
    kiv::ArchiveContext context;
    int open(const ArchiveWriter& w) {
        w.writeTo(dir.file("a.kiv"));
        return kiv::openArchive(context, dir.file("a.kiv").c_str());
    }
    std::vector<const kiv::Entry*> entries() {
        std::vector<const kiv::Entry*> out;
        for (const kiv::Entry* e = context.entries.head()->next; e; e = e->next) out.push_back(e);
        return out;
    }
};

}  // namespace

TEST_F(Catalogue, RootAndEntryFields) {
    ArchiveWriter w;
    RecordOptions at;
    at.dataOffset = 500;
    w.file("a", "abc", 0, at).symlink("l", "../t").device('c', "d", -1, 1);
    ASSERT_EQ(0, open(w));
    EXPECT_EQ(kiv::kAttrRoot, context.entries.head()->attribute);
    EXPECT_EQ(context.entries.head(), context.listingCursor);
    const auto e = entries();
    ASSERT_EQ(3u, e.size());
    EXPECT_EQ(0x0262, e[0]->checksum);
    EXPECT_EQ(500u, e[0]->dataOffset);
    EXPECT_EQ(3u, e[0]->size);
    EXPECT_EQ(0u, e[0]->storedSize);
    EXPECT_STREQ("Link: (../t)", e[1]->content);
    EXPECT_EQ(0u, e[1]->size);
    EXPECT_STREQ("(c) device: (-1) (1)", e[2]->content);
    EXPECT_EQ(16u, context.dataStartPosition);
}

TEST_F(Catalogue, DisplayFlagsMarkEntriesHidden) {
    context.hideStoredFiles = 1;
    context.showReferenceFiles = 1;
    ArchiveWriter w;
    w.linkTarget("stored", "x", 1).hardLink("link-to-hidden", 1).refFile("ref", 5, 0);
    ASSERT_EQ(0, open(w));
    const auto e = entries();
    ASSERT_EQ(3u, e.size());
    EXPECT_EQ(kiv::kAttrHidden, e[0]->attribute);
    EXPECT_EQ(kiv::kAttrHidden, e[1]->attribute);  // a link to a hidden file is hidden too
    EXPECT_EQ(kiv::kAttrFile, e[2]->attribute);
    EXPECT_EQ(0u, e[2]->size);
}

TEST_F(Catalogue, DamagedTopLevelBeepsAndKeepsWhatWasRead) {
    const unsigned before = platform::beepCount();
    ArchiveWriter clean;
    clean.file("a", "1");
    ASSERT_EQ(0, open(clean));
    EXPECT_EQ(before, platform::beepCount());

    kiv::ArchiveContext fresh;
    ArchiveWriter w;
    w.file("a", "1").file("b", "2").raw({'q'});
    w.writeTo(dir.file("b.kiv"));
    ASSERT_EQ(0, kiv::openArchive(fresh, dir.file("b.kiv").c_str()));
    EXPECT_EQ(before + 1, platform::beepCount());
    int n = 0;
    for (const kiv::Entry* e = fresh.entries.head()->next; e; e = e->next) ++n;
    EXPECT_EQ(2, n);
}

TEST_F(Catalogue, ManyEntriesCostLittleMemoryEach) {
    ArchiveWriter w;
    for (int d = 0; d < 20; ++d) {
        w.dir("dir" + std::to_string(d));
        for (int f = 0; f < 2000; ++f) w.file("file" + std::to_string(f) + ".txt", "");
        w.end();
    }
    ASSERT_EQ(0, open(w));
    EXPECT_EQ(20u * 2001u, entries().size());
    EXPECT_STREQ("dir19\\file1999.txt", entries().back()->path);
    static_assert(sizeof(kiv::Entry) <= 64, "entry records stay small");
}

TEST_F(Catalogue, EntryListCapFailsTheOpenWith11) {
    ArchiveWriter w;
    for (int i = 0; i < 20000; ++i) w.file("f" + std::to_string(i), "");
    // Far below the real cap, so the test needs little memory.
    context.entries.setByteLimit(512 * 1024);
    EXPECT_EQ(E_NO_MEMORY, open(w));
    EXPECT_LE(context.entries.bytesUsed(), 512u * 1024u);

    // Hard-link labels count too: one block of entries and one of paths fit
    // under this cap, the labels of 3000 linked files on top do not.
    const size_t twoBlocks = 2 * 256 * 1024 + 100000;
    ArchiveWriter plain, labelled;
    for (int i = 0; i < 3000; ++i) {
        plain.file("t" + std::to_string(i), "");
        labelled.linkTarget("t" + std::to_string(i), "", i);
    }
    context.entries.setByteLimit(twoBlocks);
    EXPECT_EQ(0, open(plain));
    EXPECT_EQ(E_NO_MEMORY, open(labelled));

    context.entries.setByteLimit(kiv::kMaxEntryListBytes);
    EXPECT_EQ(0, open(w));
    EXPECT_EQ(20000u, entries().size());
}

TEST_F(Catalogue, CompressedCatalogueIsCutAtItsCapAndFails) {
    // Deleted records make no entries, so only the expanded size can stop
    // them: many megabytes of them from a few kilobytes.
    Bytes catalogue = {'d', 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 2; ++i) catalogue.insert(catalogue.end(), {0x80, 0, 0, 0, 0});
    const Bytes record = {'x', 'n', 'a', 'm', 'e', 0, 0};
    while (catalogue.size() < (8u << 20)) catalogue.insert(catalogue.end(), record.begin(), record.end());
    catalogue.push_back('z');
    writeFile(dir.file("cat.z"), zlibCompress(catalogue));
    kiv::FileReader file(dir.file("cat.z").c_str());
    const auto readWithCap = [&](uint64_t cap) {
        context.catalogueReader = kiv::makeDecodingReader('z', &file, 0);
        return kiv::readCatalogue(context, cap);
    };
    EXPECT_EQ(E_NO_MEMORY, readWithCap(1u << 20));
    EXPECT_EQ(0, readWithCap(catalogue.size()));
    EXPECT_EQ(0, readWithCap(kiv::kMaxCatalogueBytes));
}

// Found by fuzzing: names made of separators grew past the path cap when
// made safe, one level deeper each time, and a cut at the cap could leave a
// fresh "." or ".." at the end. Every path stays within the cap and safe.
TEST_F(Catalogue, PathsAtTheCapStaySafeAndBounded) {
    ArchiveWriter w;
    const std::string level(1000, 'a');
    for (int d = 0; d < 4; ++d) w.dir(level);  // a prefix of 4004 bytes
    for (size_t pad = 85; pad < 96; ++pad) {
        w.file(std::string(pad, 'b') + "\\..x", "");
        w.file(std::string(pad, 'c') + "/.y", "");
        w.file(std::string(pad, '\\'), "");
        // UTF-8: a character the cap splits right after a separator, and a
        // run of stray continuation bytes, which is no character to keep whole.
        w.file(std::string(pad, 'd') + "/\xE6\x97\xA5\xE6\x9C\xAC", "");
        w.file(std::string(pad, 'e') + "/" + std::string(200, '\x84'), "");
    }
    for (int d = 0; d < 40; ++d) w.dir(std::string(30, '/'));  // each level wants 60 bytes more
    w.file("..", "");
    ASSERT_EQ(0, open(w));
    size_t atCap = 0;
    for (const kiv::Entry* e : entries()) {
        const std::string path(e->path, e->pathLength);
        ASSERT_LE(path.size(), kiv::kMaxPathBytes);
        atCap += path.size() == kiv::kMaxPathBytes;
        EXPECT_TRUE(pathIsSafe(path)) << path.substr(3990);
    }
    EXPECT_GT(atCap, 40u);
}
