// The reader operations and the archive-integer decoder. The input is a file
// and a script of operations, played on three readers at once: the file
// reader, a view onto a second file reader over the same file, and a plain
// in-memory model. The file reader serves most operations from its own
// block with fast paths of its own, so every answer and every position must
// agree with the model's.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "readers/file_reader.h"
#include "tests/support/memory_reader.h"

namespace {

[[noreturn]] void breach(const char* what, size_t step) {
    std::fprintf(stderr, "reader breach: %s at step %zu\n", what, step);
    std::abort();
}

struct Script {
    const uint8_t* p;
    const uint8_t* end;
    bool more() const { return p < end; }
    uint8_t byte() { return p < end ? *p++ : 0; }
    int64_t offset() {
        // Mostly small steps, sometimes far ones and the extremes.
        const uint8_t kind = byte();
        const int64_t small = static_cast<int8_t>(byte());
        switch (kind & 7) {
            case 0: return INT64_MAX - (small & 0x7F);
            case 1: return INT64_MIN + (small & 0x7F);
            case 2: return small * 70000;
            default: return small;
        }
    }
};

// One file per process, as several fuzzers may run at once; removed at exit.
struct TempFile {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("kivfuzz-reader-" +
                         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".bin"))
                           .string();
    ~TempFile() { std::remove(path.c_str()); }
};

const std::string& tempFile() {
    static const TempFile file;
    return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t fileLength = std::min<size_t>(size - 2, (size_t(data[0]) << 8 | data[1]) * 37);
    const std::vector<uint8_t> bytes(data + 2, data + 2 + fileLength);
    const std::string& path = tempFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    kiv::FileReader file(path.c_str());
    kiv::FileReader shared(path.c_str());
    kiv::Reader view(&shared, 0);
    kivtest::MemoryReader model(bytes);
    kiv::Reader* readers[] = {&file, &view, &model};

    Script script{data + 2 + fileLength, data + size};
    std::vector<uint8_t> buffers[3];
    for (size_t step = 0; script.more() && step < 4096; ++step) {
        const uint8_t op = script.byte();
        long long answers[3];
        std::string strings[3];
        const int64_t offset = script.offset();
        const int origin = op >> 4 & 3;
        const int length = static_cast<int>(script.byte()) * ((op & 0x80) ? 700 : 1);
        for (int r = 0; r < 3; ++r) {
            kiv::Reader& reader = *readers[r];
            switch (op & 7) {
                case 0: answers[r] = reader.readChar(); break;
                case 1: answers[r] = reader.readCharBackward(); break;
                case 2: answers[r] = reader.readShort(); break;
                case 3: answers[r] = reader.readInt(); break;
                case 4: answers[r] = static_cast<long long>(reader.readNumber()); break;
                case 5: strings[r] = reader.readString(); answers[r] = 0; break;
                case 6:
                    buffers[r].assign(static_cast<size_t>(length), 0);
                    answers[r] = reader.read(buffers[r].data(), length);
                    break;
                default: answers[r] = reader.seek(offset, origin); break;
            }
        }
        for (int r = 0; r < 2; ++r) {
            if (answers[r] != answers[2]) breach("answer differs from the model", step);
            if (strings[r] != strings[2]) breach("string differs from the model", step);
            if ((op & 7) == 6 && buffers[r] != buffers[2]) breach("bytes differ from the model", step);
            if (readers[r]->tell() != model.tell()) breach("position differs from the model", step);
        }
    }
    return 0;
}
