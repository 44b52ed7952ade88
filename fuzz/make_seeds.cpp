// Writes the seed corpora of the fuzz targets, all made by the test archive
// writer: every record kind, compression, terminator form and scrambling.
//   kivfuzzseeds DIR   fills DIR/plugin, DIR/scrambled, DIR/catalogue,
//                      DIR/reader, DIR/decoders, DIR/inflate and DIR/bzip2
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <zlib.h>

#include "fuzz/seed_password.h"
#include "tests/support/crafted_streams.h"
#include "tests/writer/archive_writer.h"

using namespace kivtest;
namespace fs = std::filesystem;

namespace {

void save(const fs::path& dir, const std::string& name, const Bytes& b) {
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                                      static_cast<std::streamsize>(b.size()));
}

std::string text(int lines) {
    std::string t;
    for (int i = 0; i < lines; ++i) t += "line " + std::to_string(i) + " of a seed file\n";
    return t;
}

// Every record kind, nested, with tail codes and a stored-plain file.
void everyKind(ArchiveWriter& w) {
    RecordOptions tail1, tail2, wide, plain;
    tail1.tailCode = 1;
    tail1.tailNumbers[0] = 7;
    tail2.tailCode = 2;
    wide.numberBytes = 8;
    plain.storedPlain = true;
    w.dir("docs", 1000000000, tail1).file("readme.txt", text(40), 1200000000, tail2);
    w.dir("deeper").file("tiny", "x", 0, wide).end().end();
    w.linkTarget("shared", "shared data", 3).hardLink("alias", 3).refLinkTarget("refshared", 10, 0x1234, 4);
    w.hardLink("alias2", 4);
    w.symlink("link", "docs/readme.txt").refSymlink("reflink");
    w.device('b', "disk", 8, 1).device('c', "tty", 4, 64).refDevice('c', "refdev");
    w.special('p', "fifo").special('s', "socket");
    w.file("plain", text(3), 0, plain);
    w.deleted("old").refFile("remote", 99, 0x1111);
}

struct Seed {
    std::string name;
    ArchiveWriter writer;
};

std::vector<Seed> plainSeeds() {
    std::vector<Seed> seeds;
    for (uint8_t code : {'n', 'z', 'p', 'y'}) {
        Seed s{std::string("kinds-") + static_cast<char>(code), {}};
        s.writer.compression(code);
        everyKind(s.writer);
        seeds.push_back(std::move(s));
    }
    {
        Seed s{"names-utf8", {}};
        s.writer.version("08").file("caf\xc3\xa9.txt", "1").file("..", "2").file("a\\..\\b", "3").file("", "4");
        seeds.push_back(std::move(s));
    }
    {
        Seed s{"names-old", {}};
        s.writer.version("03").headerString("made for seeds").file("caf\xe9.txt", "1");
        seeds.push_back(std::move(s));
    }
    for (unsigned k : {0u, 3u, 7u}) {
        TerminatorOptions t;
        t.k = k;
        t.fill = k == 0 ? 1 : 0;
        t.offsetBytes = 8;
        Seed s{"terminator-" + std::to_string(k), {}};
        s.writer.terminator(t).file("a", "abc");
        seeds.push_back(std::move(s));
    }
    {
        Seed s{"many", {}};
        s.writer.compression('z');
        for (int d = 0; d < 8; ++d) {
            s.writer.dir("d" + std::to_string(d));
            for (int f = 0; f < 40; ++f) s.writer.file("f" + std::to_string(f), std::to_string(f * d));
            s.writer.end();
        }
        seeds.push_back(std::move(s));
    }
    {
        Seed s{"empty", {}};
        seeds.push_back(std::move(s));
    }
    return seeds;
}

std::vector<Seed> scrambledSeeds() {
    std::vector<Seed> seeds;
    int n = 0;
    for (const char* version : {"06", "08"}) {
        for (uint8_t code : {'n', 'z', 'y'}) {
            for (unsigned digits : {1u, 2u, 4u}) {
                ScrambleOptions o;
                o.password = kivfuzz::kSeedPassword;
                o.head.digits = digits;
                o.tail.digits = 5 - digits;
                o.tail.zeroGroups = digits == 1 ? n % 2 : 0;
                o.tail.filler = 3 + n % 4;
                Seed s{"scrambled-" + std::to_string(n++), {}};
                s.writer.version(version).compression(code);
                if (code == 'n') everyKind(s.writer);
                else s.writer.dir("sub").file("a.txt", text(20)).end().symlink("l", "sub/a.txt");
                s.writer.scramble(o);
                seeds.push_back(std::move(s));
            }
        }
    }
    return seeds;
}

// Raw deflate of `plain` at `level` with `strategy` (fixed codes, Huffman
// only, runs, stored blocks at level 0).
Bytes rawDeflate(const Bytes& plain, int level, int strategy) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    Bytes out(deflateBound(&z, plain.size()) + 16);
    z.next_in = const_cast<uint8_t*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

// The inflate target: two control bytes, then a zlib stream (trailer mode
// 0) or raw deflate to which the target adds one (modes 1-3).
void inflateSeeds(const fs::path& dir) {
    int n = 0;
    const auto put = [&](uint8_t c0, uint8_t c1, const Bytes& body) {
        Bytes input = {c0, c1};
        input.insert(input.end(), body.begin(), body.end());
        save(dir, "inflate-" + std::to_string(n++), input);
    };
    for (const auto& c : craftedZlibStreams()) {
        put(0x00, 0x00, c.stream);
        // The crafted blocks as raw deflate, trailed by each engine's reading.
        if (c.stream.size() > 6) {
            const Bytes raw(c.stream.begin() + 2, c.stream.end() - 4);
            put(0x09, 0x10, raw);
            put(0x0E, 0x21, raw);
        }
    }
    const std::string t = text(400);
    const Bytes plain(t.begin(), t.end());
    const struct {
        int level, strategy;
    } kinds[] = {{9, Z_DEFAULT_STRATEGY}, {1, Z_DEFAULT_STRATEGY}, {6, Z_FIXED}, {6, Z_HUFFMAN_ONLY}, {6, Z_RLE},
                 {0, Z_DEFAULT_STRATEGY}};
    uint8_t c0 = 0;
    for (const auto& k : kinds) {
        const Bytes raw = rawDeflate(plain, k.level, k.strategy);
        put(static_cast<uint8_t>(c0 | 0x04), static_cast<uint8_t>(c0 * 37), raw);  // trailer from zlib's reading
        put(static_cast<uint8_t>((c0 + 1) & 3 | 0x80), 0x01, raw);                  // kept raw: zlib refuses
        c0 = static_cast<uint8_t>(c0 + 0x51);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kivfuzzseeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (auto& seed : plainSeeds()) {
        const Bytes archive = seed.writer.build();
        save(root / "plugin", seed.name, archive);
        // The catalogue target: flags byte, code and encoding byte, catalogue.
        const auto& layout = seed.writer.layout();
        const Bytes catalogue(archive.begin() + static_cast<long>(layout.catalogueStart),
                              archive.begin() + static_cast<long>(layout.terminatorStart));
        const uint8_t compression = archive[16 + 3];
        const uint8_t selector = (compression == 'y' ? 2 : compression == 'n' ? 0 : 1) | 4;
        for (uint8_t flags : {0x00, 0x15, 0x6A}) {
            Bytes input = {flags, selector};
            input.insert(input.end(), catalogue.begin(), catalogue.end());
            save(root / "catalogue", seed.name + "-" + std::to_string(flags), input);
        }
        // The reader target: the archive as the file, then a script.
        Bytes input = {static_cast<uint8_t>(archive.size() / 37 >> 8), static_cast<uint8_t>(archive.size() / 37)};
        const size_t fileLength = std::min(archive.size(), (archive.size() / 37) * 37);
        input.insert(input.end(), archive.begin(), archive.begin() + static_cast<long>(fileLength));
        for (uint8_t op = 0; op < 8; ++op) input.insert(input.end(), {op, 3, 2, 5, op, 1, 7, 4, 9});
        save(root / "reader", seed.name, input);
    }
    int unusable = 0;
    for (auto& seed : scrambledSeeds()) {
        try {
            save(root / "scrambled", seed.name, seed.writer.build());
        } catch (const std::invalid_argument& e) {
            // Some pad layouts cannot be made with this password.
            std::fprintf(stderr, "%s: %s\n", seed.name.c_str(), e.what());
            ++unusable;
        }
    }
    int n = 0;
    for (int lines : {0, 1, 300, 5000}) {
        const std::string t = text(lines) + std::string(lines, '\0') + "tail";
        const Bytes plain(t.begin(), t.end());
        for (int chunk = 0; chunk < 4; ++chunk) {
            for (int codec = 0; codec < 2; ++codec) {
                Bytes input = {static_cast<uint8_t>(codec | chunk << 1)};
                const Bytes stream = codec ? bzip2Compress(plain) : zlibCompress(plain);
                input.insert(input.end(), stream.begin(), stream.end());
                save(root / "decoders", "stream-" + std::to_string(n++), input);
            }
        }
    }
    inflateSeeds(root / "inflate");
    // Streams of several small blocks (level 1): periodic text that packs
    // tight, words, long runs (blocks decoding to megabytes), a stream
    // cut short and one with bytes after its end.
    {
        std::string periodic, words, runs;
        for (int i = 0; periodic.size() < 450000; ++i) periodic += "abcdefghij"[i % 10];
        for (unsigned i = 0; words.size() < 420000; ++i) words += "w" + std::to_string(i * 7919u % 613u) + (i % 9 ? " " : "\n");
        for (int i = 0; runs.size() < 3000000; ++i) runs += std::string(1000 + i % 3000, static_cast<char>('a' + i % 3));
        int k = 0;
        for (const std::string* t : {&periodic, &words, &runs}) {
            const Bytes stream = bzip2Compress(Bytes(t->begin(), t->end()), 1);
            for (uint8_t config : {0x00, 0x05, 0x0a, 0x3f, 0x40}) {
                Bytes input = {config, static_cast<uint8_t>(k * 37 + config)};
                input.insert(input.end(), stream.begin(), stream.end());
                if (config == 0x0a) input.resize(input.size() - input.size() / 3);
                if (config == 0x3f) input.insert(input.end(), stream.begin(), stream.begin() + 64);
                save(root / "bzip2", "stream-" + std::to_string(k++), input);
            }
        }
    }
    return 0;
}
