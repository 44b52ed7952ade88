// kivmkrealhost PLAIN.kiv SCRAMBLED.kiv EXPECTED.txt PASSWORD
// Writes the archives the real-host test opens in the file manager: the same
// entries twice, zlib-compressed, the second scrambled with PASSWORD. EXPECTED
// lists the tree that copying every entry out must write, one entry a line:
//   d MTIME PATH
//   f MTIME HEXDATA PATH        (HEXDATA is "-" for an empty file)
// with '/' between path components and MTIME in seconds since 1970.
#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/writer/archive_writer.h"

namespace {

struct Expected {
    char kind;  // 'd' or 'f'
    uint64_t time;
    std::string path;
    std::string data;
};

// Odd seconds a day and a minute apart: a host that rounds to the packed
// two-second form or shifts by a time zone shows up at once.
uint64_t at(int k) { return 1717243201 + uint64_t(k) * 86462; }

std::string wateringLog() {
    // Larger than one extraction chunk and repetitive, so it is really inflated.
    std::string log;
    for (int day = 1; day <= 400; ++day)
        log += "day " + std::to_string(day) + ": north watered, shade skipped (rain), fence watered\n";
    return log;
}

// Adds the entries to the writer and records what they must become on disk.
void describe(kivtest::ArchiveWriter& w, std::vector<Expected>& tree) {
    auto dir = [&](const std::string& path, const std::string& name, int k) {
        w.dir(name, at(k));
        tree.push_back({'d', at(k), path, ""});
    };
    auto file = [&](const std::string& path, const std::string& name, const std::string& data, int k) {
        w.file(name, data, at(k));
        tree.push_back({'f', at(k), path, data});
    };
    file("notes.txt", "notes.txt", "Plant the beans after the last frost.\n", 1);
    dir("docs", "docs", 2);
    file("docs/read me.txt", "read me.txt", "A name with a space.\n", 3);
    file("docs/r\xC3\xA9sum\xC3\xA9.txt", "r\xC3\xA9sum\xC3\xA9.txt", "A name in UTF-8.\n", 4);
    w.end();
    dir("src", "src", 5);
    file("src/main.c", "main.c", "int main(void) { return 0; }\n", 6);
    dir("src/lib", "lib", 7);
    dir("src/lib/util", "util", 8);
    file("src/lib/util/deep.txt", "deep.txt", "Three folders down.\n", 9);
    w.end().end().end();
    dir("empty", "empty", 10);
    w.end();
    dir("data", "data", 11);
    file("data/watering.log", "watering.log", wateringLog(), 12);
    file("data/zero.txt", "zero.txt", "", 13);
    w.end();
}

std::string hex(const std::string& data) {
    if (data.empty()) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : data) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || !argv[4][0]) {
        std::fprintf(stderr, "usage: kivmkrealhost PLAIN.kiv SCRAMBLED.kiv EXPECTED.txt PASSWORD\n");
        return 2;
    }
    try {
        std::vector<Expected> tree;
        kivtest::ArchiveWriter plain;
        plain.compression('z');
        describe(plain, tree);
        plain.writeTo(argv[1]);

        std::vector<Expected> same;
        kivtest::ArchiveWriter scrambled;
        scrambled.compression('z');
        describe(scrambled, same);
        kivtest::ScrambleOptions s;
        s.password = argv[4];
        scrambled.scramble(s);
        scrambled.writeTo(argv[2]);

        std::ofstream out(argv[3], std::ios::binary);
        for (const Expected& e : tree) {
            out << e.kind << ' ' << e.time << ' ';
            if (e.kind == 'f') out << hex(e.data) << ' ';
            out << e.path << '\n';
        }
        if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kivmkrealhost: %s\n", e.what());
        return 1;
    }
    return 0;
}
