// Writes a scrambled test archive with the test archive writer:
//   kiv_make_scrambled.exe OUT PASSWORD
// One zlib-compressed file, "secret.txt", holding "opened with the password".
#include <cstdio>
#include <exception>

#include "tests/writer/archive_writer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: %s OUT PASSWORD\n", argv[0]);
        return 2;
    }
    try {
        kivtest::ScrambleOptions s;
        s.password = argv[2];
        kivtest::ArchiveWriter w;
        w.compression('z').scramble(s).file("secret.txt", "opened with the password", 1000000000);
        w.writeTo(argv[1]);
    } catch (const std::exception& e) {
        std::printf("writer failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
