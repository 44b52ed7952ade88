// Catalogue reading seen from inside: the entry list, the hidden mark,
// hard-link labels and the beep at a damaged top level.
#include <gtest/gtest.h>

#include "archive/opening.h"
#include "platform/platform.h"
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
