// The password must not survive in freed memory: every heap block released
// while an archive context lives and dies is searched for it.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "archive/opening.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"
#include "tests/writer/archive_writer.h"

namespace {

const char kPassword[] = "Wipe-Me-9f3c2a71-secret";
std::atomic<bool> watching{false};
std::atomic<int> leftBehind{0};

void inspect(void* p) {
    if (!p || !watching.load(std::memory_order_relaxed)) return;
    const size_t n = malloc_usable_size(p);
    if (memmem(p, n, kPassword, sizeof kPassword - 1)) ++leftBehind;
}

int answer(char*, char*, int, char* value, int maxLength) {
    std::strncpy(value, kPassword, static_cast<size_t>(maxLength));
    value[maxLength] = 0;
    return 1;
}

}  // namespace

void operator delete(void* p) noexcept {
    inspect(p);
    std::free(p);
}
void operator delete[](void* p) noexcept {
    inspect(p);
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    inspect(p);
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    inspect(p);
    std::free(p);
}

TEST(PasswordWipe, TheDetectorSeesAnUnwipedCopy) {
    leftBehind = 0;
    watching = true;
    { std::string copy(kPassword); }  // long enough to live on the heap
    watching = false;
    EXPECT_GT(leftBehind.load(), 0);
}

TEST(PasswordWipe, ContextsAndReadersWipeThePassword) {
    kivtest::TempDir dir;
    kivtest::ArchiveWriter w;
    kivtest::ScrambleOptions s;
    s.password = kPassword;
    w.compression('z').file("a.txt", "some text that is not the password").scramble(s);
    w.writeTo(dir.file("s.kiv"));
    platform::setInputBox(answer);

    leftBehind = 0;
    watching = true;
    {
        kiv::ArchiveContext context;
        ASSERT_EQ(0, kiv::openArchive(context, dir.file("s.kiv").c_str()));
        ASSERT_STREQ(kPassword, context.password.data());  // kept while the context lives
        context.releaseReaders();
        // Reopen of the unchanged file rebuilds the unscrambling from the kept password.
        ASSERT_EQ(0, kiv::openArchive(context, dir.file("s.kiv").c_str()));
    }
    watching = false;
    platform::setInputBox(nullptr);
    EXPECT_EQ(0, leftBehind.load());
}
