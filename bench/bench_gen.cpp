// kivbenchgen: makes the benchmark's inputs.
//   kivbenchgen listing OUT.kiv DIRS FILES     DIRS directories of FILES empty files
//   kivbenchgen names OUT.txt DIRS FILES       the same paths, one a line ('/' separated)
//   kivbenchgen text OUT SIZE                  SIZE bytes of text-like data
//   kivbenchgen archive OUT.kiv DATA SIZE n|z|y [--password PW] [--stream OUT]
//                                              one entry holding DATA's first SIZE bytes
//   kivbenchgen entries OUT.kiv DATA COUNT SIZE n|z|y [--streams PREFIX]
//                                              COUNT entries of SIZE bytes, DATA's first
//                                              COUNT * SIZE bytes in turn; PREFIX-NN.stream
//                                              get each entry's stored data
//   kivbenchgen tree DIR DIRS FILES            DIRS folders of FILES text files of 1-16 KiB
//   kivbenchgen packtree OUT.kiv DIR DIRS FILES n|z   those files as an archive
//   kivbenchgen selfcheck                      the streamed archives equal the writer's
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/stream_archive.h"
#include "bench/text_source.h"
#include "tests/writer/archive_writer.h"

namespace {

constexpr uint64_t kBaseTime = 1717243200;  // 2024-06-01 12:00:00 UTC

std::string dirName(unsigned d) {
    char b[32];
    std::snprintf(b, sizeof b, "dir%04u", d);
    return b;
}

std::string fileName(unsigned long n) {
    char b[32];
    std::snprintf(b, sizeof b, "file%07lu.txt", n);
    return b;
}

unsigned long parseCount(const char* s) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(s, &end, 10);
    if (!*s || *end)
        throw std::invalid_argument(std::string("not a number: ") + s);
    return v;
}

// The listing archive: every directory holds its files; file numbers run on
// across directories, so every path is unique.
int makeListing(const std::string& out, unsigned dirs, unsigned files) {
    kivtest::ArchiveWriter w;
    unsigned long n = 0;
    for (unsigned d = 1; d <= dirs; ++d) {
        w.dir(dirName(d), kBaseTime + d);
        for (unsigned f = 0; f < files; ++f, ++n)
            w.file(fileName(n), std::string(), kBaseTime + n % 86400);
        w.end();
    }
    w.writeTo(out);
    return 0;
}

int makeNames(const std::string& out, unsigned dirs, unsigned files) {
    std::ofstream o(out, std::ios::trunc);
    unsigned long n = 0;
    for (unsigned d = 1; d <= dirs; ++d) {
        o << dirName(d) << "/\n";
        for (unsigned f = 0; f < files; ++f, ++n)
            o << dirName(d) << '/' << fileName(n) << '\n';
    }
    if (!o.flush())
        throw std::runtime_error("cannot write " + out);
    return 0;
}

int makeText(const std::string& out, uint64_t size) {
    kivbench::TextSource text;
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(out.c_str(), "wb"), std::fclose);
    if (!f)
        throw std::runtime_error("cannot create " + out);
    std::vector<uint8_t> buffer(1 << 20);
    while (size > 0) {
        const size_t n = size < buffer.size() ? static_cast<size_t>(size) : buffer.size();
        text.fill(buffer.data(), n);
        if (std::fwrite(buffer.data(), 1, n, f.get()) != n)
            throw std::runtime_error("cannot write " + out);
        size -= n;
    }
    if (std::fflush(f.get()) != 0)
        throw std::runtime_error("cannot write " + out);
    return 0;
}

int makeArchive(int argc, char** argv) {
    if (argc < 6)
        throw std::invalid_argument("archive needs OUT DATA SIZE n|z|y");
    const std::string out = argv[2];
    const uint64_t size = parseCount(argv[4]);
    kivbench::OneEntryOptions options;
    options.compression = static_cast<uint8_t>(argv[5][0]);
    std::string streamCopy;
    for (int i = 6; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--password") && i + 1 < argc)
            options.password = argv[++i];
        else if (!std::strcmp(argv[i], "--stream") && i + 1 < argc)
            streamCopy = argv[++i];
        else
            throw std::invalid_argument(std::string("unknown argument ") + argv[i]);
    }
    std::unique_ptr<FILE, int (*)(FILE*)> data(std::fopen(argv[3], "rb"), std::fclose);
    if (!data)
        throw std::runtime_error(std::string("cannot open ") + argv[3]);
    const auto layout = kivbench::writeOneEntryArchive(
        out, options, size,
        [&](uint8_t* p, size_t max) { return std::fread(p, 1, max, data.get()); }, streamCopy);
    std::printf("data at %llu, %llu bytes stored, checksum %04x\n",
                static_cast<unsigned long long>(layout.dataOffset),
                static_cast<unsigned long long>(layout.storedSize), layout.checksum);
    return 0;
}

std::string entryName(unsigned long n) {
    char b[32];
    std::snprintf(b, sizeof b, "entry%03lu.txt", n);
    return b;
}

void writeFile(const std::string& path, const kivtest::Bytes& bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size() || std::fflush(f.get()) != 0)
        throw std::runtime_error("cannot write " + path);
}

// Many entries of one size, made by the test archive writer itself; the
// stream copies are its own compressions of the same slices, so the
// baseline decodes exactly the stored streams.
int makeEntries(int argc, char** argv) {
    if (argc != 7 && argc != 9)
        throw std::invalid_argument("entries needs OUT DATA COUNT SIZE n|z|y [--streams PREFIX]");
    const unsigned long count = parseCount(argv[4]);
    const size_t size = parseCount(argv[5]);
    const uint8_t code = static_cast<uint8_t>(argv[6][0]);
    std::string prefix;
    if (argc == 9) {
        if (std::strcmp(argv[7], "--streams") != 0)
            throw std::invalid_argument(std::string("unknown argument ") + argv[7]);
        prefix = argv[8];
    }
    std::unique_ptr<FILE, int (*)(FILE*)> data(std::fopen(argv[3], "rb"), std::fclose);
    if (!data)
        throw std::runtime_error(std::string("cannot open ") + argv[3]);
    kivtest::ArchiveWriter w;
    w.compression(code);
    kivtest::Bytes slice(size);
    for (unsigned long n = 0; n < count; ++n) {
        if (std::fread(slice.data(), 1, size, data.get()) != size)
            throw std::runtime_error(std::string(argv[3]) + " is too short");
        w.file(entryName(n), slice, kBaseTime + n);
        if (!prefix.empty()) {
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, "-%03lu.stream", n);
            writeFile(prefix + suffix, code == 'n'   ? slice
                                       : code == 'y' ? kivtest::bzip2Compress(slice)
                                                     : kivtest::zlibCompress(slice));
        }
    }
    w.writeTo(argv[2]);
    return 0;
}

kivtest::Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return kivtest::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The many-small-files tree: file n of the whole tree is 1-16 KiB long, its
// bytes the next ones of one text stream.
std::string treeFile(const std::string& root, unsigned d, unsigned long n) {
    return root + "/" + dirName(d) + "/" + fileName(n);
}

size_t treeFileSize(unsigned long n) {
    uint64_t x = (n + 1) * 6364136223846793005ULL + 1442695040888963407ULL;
    x ^= x >> 29;
    return 1024 + static_cast<size_t>(x % (15 * 1024 + 1));
}

int makeTree(const std::string& root, unsigned dirs, unsigned files) {
    kivbench::TextSource text;
    std::vector<uint8_t> buffer(16 * 1024);
    unsigned long n = 0;
    if (mkdir(root.c_str(), 0777) != 0 && errno != EEXIST) throw std::runtime_error("cannot create " + root);
    for (unsigned d = 1; d <= dirs; ++d) {
        const std::string folder = root + "/" + dirName(d);
        if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) throw std::runtime_error("cannot create " + folder);
        for (unsigned f = 0; f < files; ++f, ++n) {
            const size_t size = treeFileSize(n);
            text.fill(buffer.data(), size);
            std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(treeFile(root, d, n).c_str(), "wb"), std::fclose);
            if (!out || std::fwrite(buffer.data(), 1, size, out.get()) != size)
                throw std::runtime_error("cannot write " + treeFile(root, d, n));
        }
    }
    return 0;
}

int packTree(const std::string& out, const std::string& root, unsigned dirs, unsigned files, uint8_t code) {
    kivtest::ArchiveWriter w;
    w.compression(code);
    unsigned long n = 0;
    for (unsigned d = 1; d <= dirs; ++d) {
        w.dir(dirName(d), kBaseTime + d);
        for (unsigned f = 0; f < files; ++f, ++n) {
            const kivtest::Bytes data = readFile(treeFile(root, d, n));
            if (data.size() != treeFileSize(n)) throw std::runtime_error("tree file differs: " + treeFile(root, d, n));
            w.file(fileName(n), data, kBaseTime + n % 86400);
        }
        w.end();
    }
    w.writeTo(out);
    return 0;
}

// The streamed archives must be byte for byte what the test archive writer
// makes, or the benchmark would measure some other format.
int selfCheck() {
    kivbench::TextSource text;
    kivtest::Bytes data(300000);
    text.fill(data.data(), data.size());
    const std::string tmp = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                            "/kivbenchgen-selfcheck." +
                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                            ".kiv";
    int failures = 0;
    for (const char c : {'n', 'z', 'y'}) {
        for (const std::string password : {"", "bench-secret"}) {
            kivbench::OneEntryOptions options;
            options.compression = static_cast<uint8_t>(c);
            options.password = password;
            kivtest::ArchiveWriter w;
            w.version("08").compression(static_cast<uint8_t>(c));
            if (!password.empty())
                w.scramble({password, {}, {}});
            w.file(options.name, data, options.time);
            const kivtest::Bytes expected = w.build();
            size_t at = 0;
            kivbench::writeOneEntryArchive(tmp, options, data.size(), [&](uint8_t* p, size_t max) {
                const size_t n = std::min(max, data.size() - at);
                std::memcpy(p, data.data() + at, n);
                at += n;
                return n;
            });
            const bool same = readFile(tmp) == expected;
            std::printf("selfcheck %c%s: %s\n", c, password.empty() ? "" : " scrambled",
                        same ? "same bytes as the test archive writer" : "DIFFERENT");
            failures += !same;
        }
    }
    std::remove(tmp.c_str());
    return failures ? 1 : 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: kivbenchgen listing OUT.kiv DIRS FILES\n"
                 "       kivbenchgen names OUT.txt DIRS FILES\n"
                 "       kivbenchgen text OUT SIZE\n"
                 "       kivbenchgen archive OUT.kiv DATA SIZE n|z|y [--password PW] [--stream OUT]\n"
                 "       kivbenchgen entries OUT.kiv DATA COUNT SIZE n|z|y [--streams PREFIX]\n"
                 "       kivbenchgen tree DIR DIRS FILES\n"
                 "       kivbenchgen packtree OUT.kiv DIR DIRS FILES n|z\n"
                 "       kivbenchgen selfcheck\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    try {
        if (command == "listing" && argc == 5)
            return makeListing(argv[2], parseCount(argv[3]), parseCount(argv[4]));
        if (command == "names" && argc == 5)
            return makeNames(argv[2], parseCount(argv[3]), parseCount(argv[4]));
        if (command == "text" && argc == 4)
            return makeText(argv[2], parseCount(argv[3]));
        if (command == "archive")
            return makeArchive(argc, argv);
        if (command == "entries")
            return makeEntries(argc, argv);
        if (command == "tree" && argc == 5)
            return makeTree(argv[2], parseCount(argv[3]), parseCount(argv[4]));
        if (command == "packtree" && argc == 7)
            return packTree(argv[2], argv[3], parseCount(argv[4]), parseCount(argv[5]),
                            static_cast<uint8_t>(argv[6][0]));
        if (command == "selfcheck" && argc == 2)
            return selfCheck();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kivbenchgen: %s\n", e.what());
        return 1;
    }
    return usage();
}
