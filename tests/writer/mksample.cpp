// kivmksample OUT.kiv [--compression n|z|y]
// Writes a small demo archive for trying the plug-in by hand. The output is
// the same on every run: fixed times, fixed contents.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tests/writer/archive_writer.h"

namespace {

constexpr uint64_t kBaseTime = 1717243200;  // 2024-06-01 12:00:00 UTC

const char kReadme[] =
    "Garden planner\n"
    "==============\n"
    "\n"
    "A small tool that keeps track of what grows where, and when to water it.\n"
    "\n"
    "Build:   make\n"
    "Run:     ./planner beds.txt\n"
    "\n"
    "See docs/usage.txt for the file format.\n";

const char kUsage[] =
    "Each line of a bed file names one bed and what it holds:\n"
    "\n"
    "    north   tomatoes  water=daily   sun=full\n"
    "    shade   lettuce   water=2d      sun=half\n"
    "\n"
    "Blank lines and lines starting with # are ignored.\n";

const char kChanges[] =
    "1.2  watering reminders respect rain days\n"
    "1.1  beds can be renamed\n"
    "1.0  first release\n";

const char kMain[] =
    "#include <stdio.h>\n"
    "#include \"beds.h\"\n"
    "\n"
    "int main(int argc, char **argv)\n"
    "{\n"
    "    if (argc < 2) {\n"
    "        fprintf(stderr, \"usage: %s BEDFILE\\n\", argv[0]);\n"
    "        return 2;\n"
    "    }\n"
    "    return beds_report(argv[1]) ? 0 : 1;\n"
    "}\n";

const char kBedsH[] =
    "#ifndef BEDS_H\n"
    "#define BEDS_H\n"
    "int beds_report(const char *path);\n"
    "#endif\n";

const char kBeds[] =
    "north   tomatoes  water=daily   sun=full\n"
    "shade   lettuce   water=2d      sun=half\n"
    "fence   beans     water=daily   sun=full\n";

std::string repeatedLog() {
    // Long and repetitive, so that compression visibly pays off.
    std::string log;
    for (int day = 1; day <= 30; ++day)
        log += "2024-06-" + std::string(day < 10 ? "0" : "") + std::to_string(day) +
               "  north watered, shade skipped (rain), fence watered\n";
    return log;
}

int usage() {
    std::fprintf(stderr, "usage: kivmksample OUT.kiv [--compression n|z|y] [--password TEXT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const char* out = nullptr;
    char compression = 'z';
    const char* password = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--compression") == 0 && i + 1 < argc) {
            const std::string c = argv[++i];
            if (c != "n" && c != "z" && c != "y")
                return usage();
            compression = c[0];
        } else if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc && argv[i + 1][0]) {
            password = argv[++i];
        } else if (!out && argv[i][0] != '-') {
            out = argv[i];
        } else {
            return usage();
        }
    }
    if (!out)
        return usage();

    kivtest::ArchiveWriter w;
    w.version("08").compression(static_cast<uint8_t>(compression));
    // Entries a minute apart, in catalogue order.
    auto at = [](int minute) { return kBaseTime + 60 * uint64_t(minute); };
    w.file("README.txt", kReadme, at(1));
    w.dir("docs", at(2))
        .file("usage.txt", kUsage, at(3))
        .file("CHANGES.txt", kChanges, at(4))
        .file("r\xC3\xA9sum\xC3\xA9.txt", "One-page summary, still to be written.\n", at(5))
        .end();
    w.dir("src", at(6))
        .file("main.c", kMain, at(7))
        .dir("include", at(8))
        .file("beds.h", kBedsH, at(9))
        .end()
        .end();
    w.dir("data", at(10))
        .linkTarget("beds.txt", kBeds, 1, at(11))
        .hardLink("beds-backup.txt", 1)
        .file("watering.log", repeatedLog(), at(12))
        .file("empty.txt", "", at(13))
        .end();
    w.symlink("usage", "docs/usage.txt", at(14));
    w.dir("dev", at(15)).device('c', "null", 1, 3, at(16)).device('b', "sda", 8, 0, at(17)).end();
    w.special('p', "control.fifo", at(18));
    if (password) {
        kivtest::ScrambleOptions scramble;
        scramble.password = password;
        w.scramble(scramble);
    }

    try {
        w.writeTo(out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kivmksample: %s\n", e.what());
        return 1;
    }
    return 0;
}
