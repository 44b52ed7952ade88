// kivmkrealhost PLAIN.kiv SCRAMBLED.kiv EXPECTED.txt PASSWORD
// kivmkrealhost --legacy 1252|1251 ARCHIVE.kiv EXPECTED.txt
// Writes the archives the real-host test opens in the file manager: the same
// entries twice, zlib-compressed, the second scrambled with PASSWORD; or an
// archive of format version 3, whose names are bytes of code page 1252 or
// 1251 as a Windows machine of that code page wrote them. EXPECTED lists the
// tree that copying every entry out must write, one entry a line:
//   d MTIME PATH
//   f MTIME HEXDATA PATH        (HEXDATA is "-" for an empty file)
// with '/' between path components, names in UTF-8 and MTIME in seconds
// since 1970.
//
// kivmkrealhost --many ARCHIVE.kiv EXPECTED.txt FOLDERS FILES MIB SEED
// Writes a bzip2 archive for copy-outs that take a while: FOLDERS folders of
// FILES small files each (kept uncompressed), and MIB MiB of text in files
// of up to 32 MiB in the folder big/, all depending on SEED. Large files
// are listed by their CRC-32 and length:
//   f MTIME crc32=CRC/LENGTH PATH
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <zlib.h>

#include "tests/writer/archive_writer.h"

namespace {

struct Expected {
    char kind;  // 'd', 'f', or 'F' for a file listed by its CRC-32
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

// Names as stored (code-page bytes) and as they must arrive (UTF-8, spelled
// out here rather than converted, so that no converter checks itself).
struct LegacyName {
    const char* stored;
    const char* utf8;
};

void describeLegacy(int codePage, kivtest::ArchiveWriter& w, std::vector<Expected>& tree) {
    w.version("03");
    const bool cyrillic = codePage == 1251;
    // A file, a folder with a file inside, and a file after the folder.
    const LegacyName top = cyrillic ? LegacyName{"\xEF\xF0\xE8\xE2\xE5\xF2.txt", "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt"}
                                    : LegacyName{"caf\xE9.txt", "caf\xC3\xA9.txt"};
    const LegacyName folder = cyrillic ? LegacyName{"\xC4\xEE\xEA\xF3\xEC\xE5\xED\xF2\xFB",
                                                    "\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B"}
                                       : LegacyName{"d\xFCr", "d\xC3\xBCr"};
    const LegacyName inner = cyrillic ? LegacyName{"\xF4\xE0\xE9\xEB.txt", "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt"}
                                      : LegacyName{"Gr\xF6\xDF" "e.txt", "Gr\xC3\xB6\xC3\x9F" "e.txt"};
    const LegacyName after = cyrillic ? LegacyName{"\xB9 1 \xAB\xEB\xE0\xE4\xBB.txt", "\xE2\x84\x96 1 \xC2\xAB\xD0\xBB\xD0\xB0\xD0\xB4\xC2\xBB.txt"}
                                      : LegacyName{"\x80uro \x96 \xBD.txt", "\xE2\x82\xACuro \xE2\x80\x93 \xC2\xBD.txt"};
    const std::string base = std::string("Written in code page ") + (cyrillic ? "1251" : "1252") + ".\n";
    w.file(top.stored, base, at(21));
    tree.push_back({'f', at(21), top.utf8, base});
    w.dir(folder.stored, at(22));
    tree.push_back({'d', at(22), folder.utf8, ""});
    w.file(inner.stored, "inside\n", at(23));
    tree.push_back({'f', at(23), std::string(folder.utf8) + "/" + inner.utf8, "inside\n"});
    w.end();
    w.file(after.stored, "after\n", at(24));
    tree.push_back({'f', at(24), after.utf8, "after\n"});
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

// Folders of small text files, every one different, and large ones.
void describeMany(kivtest::ArchiveWriter& w, std::vector<Expected>& tree, int folders, int files, int mib,
                  int seed) {
    kivtest::RecordOptions plain;
    plain.storedPlain = true;  // a decoder per small file would cost more than the test
    for (int d = 0; d < folders; ++d) {
        const std::string folder = "set" + std::to_string(seed) + "-" + std::to_string(d);
        w.dir(folder, at(d));
        tree.push_back({'d', at(d), folder, ""});
        for (int f = 0; f < files; ++f) {
            const std::string name = "f" + std::to_string(f) + ".txt";
            std::string data;
            for (int line = 0; line < 1 + (f * 7 + d) % 12; ++line)
                data += folder + "/" + name + " line " + std::to_string(line) + "\n";
            w.file(name, data, at(d + f), plain);
            tree.push_back({'f', at(d + f), folder + "/" + name, data});
        }
        w.end();
    }
    if (mib <= 0) return;
    w.dir("big", at(folders));
    tree.push_back({'d', at(folders), "big", ""});
    for (int part = 0; mib > 0; ++part, mib -= 32) {
        const size_t size = size_t(mib < 32 ? mib : 32) << 20;
        std::string data;
        data.reserve(size + 100);
        // Lines of pseudo-random digits: bzip2 takes about as long to
        // decode them as to encode them, so the copy-out takes its time.
        uint64_t x = 0x9E3779B97F4A7C15ull * uint64_t(seed * 64 + part + 1);
        for (uint64_t line = 0; data.size() < size; ++line) {
            data += "part " + std::to_string(part) + " line " + std::to_string(line) + ":";
            for (int k = 0; k < 6; ++k) {
                x = x * 6364136223846793005ull + 1442695040888963407ull;
                data += ' ' + std::to_string(x >> 40);
            }
            data += '\n';
        }
        data.resize(size);
        const std::string name = "part-" + std::to_string(part) + ".txt";
        w.file(name, data, at(folders + part + 1));
        tree.push_back({'F', at(folders + part + 1), "big/" + name, data});
    }
    w.end();
}

void writeExpected(const std::vector<Expected>& tree, const char* path) {
    std::ofstream out(path, std::ios::binary);
    for (const Expected& e : tree) {
        if (e.kind == 'F') {
            const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
            char field[40];
            std::snprintf(field, sizeof field, "crc32=%08lx/%zu", crc, e.data.size());
            out << "f " << e.time << ' ' << field << ' ' << e.path << '\n';
            continue;
        }
        out << e.kind << ' ' << e.time << ' ';
        if (e.kind == 'f') out << hex(e.data) << ' ';
        out << e.path << '\n';
    }
    if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + path);
}

}  // namespace

int main(int argc, char** argv) {
    const bool legacy = argc == 5 && std::string(argv[1]) == "--legacy";
    const bool many = argc == 8 && std::string(argv[1]) == "--many";
    const bool usable = legacy ? std::string(argv[2]) == "1252" || std::string(argv[2]) == "1251"
                               : many || (argc == 5 && argv[4][0]);
    if (!usable) {
        std::fprintf(stderr,
                     "usage: kivmkrealhost PLAIN.kiv SCRAMBLED.kiv EXPECTED.txt PASSWORD\n"
                     "       kivmkrealhost --legacy 1252|1251 ARCHIVE.kiv EXPECTED.txt\n"
                     "       kivmkrealhost --many ARCHIVE.kiv EXPECTED.txt FOLDERS FILES MIB SEED\n");
        return 2;
    }
    try {
        std::vector<Expected> tree;
        if (many) {
            kivtest::ArchiveWriter w;
            w.compression('y');
            describeMany(w, tree, std::stoi(argv[4]), std::stoi(argv[5]), std::stoi(argv[6]), std::stoi(argv[7]));
            w.writeTo(argv[2]);
            writeExpected(tree, argv[3]);
            return 0;
        }
        if (legacy) {
            kivtest::ArchiveWriter w;
            w.compression('z');
            describeLegacy(std::atoi(argv[2]), w, tree);
            w.writeTo(argv[3]);
            writeExpected(tree, argv[4]);
            return 0;
        }
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

        writeExpected(tree, argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kivmkrealhost: %s\n", e.what());
        return 1;
    }
    return 0;
}
