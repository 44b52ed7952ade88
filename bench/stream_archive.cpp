#include "bench/stream_archive.h"

#include <bzlib.h>
#include <zlib.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/writer/archive_writer.h"
#include "tests/writer/pads.h"

namespace kivbench {
namespace {

using kivtest::Bytes;

constexpr size_t kChunk = 1 << 20;
const char kVersion[] = "08";

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File openOut(const std::string& path) {
    File f(std::fopen(path.c_str(), "wb"));
    if (!f)
        throw std::runtime_error("cannot create " + path);
    return f;
}

void writeAll(FILE* f, const uint8_t* p, size_t n) {
    if (n && std::fwrite(p, 1, n, f) != n)
        throw std::runtime_error("write failed");
}

// Writes the archive body (everything after the slice header), adding the
// password byte of the body offset to every byte past the plain header.
class BodySink {
public:
    BodySink(FILE* out, std::string password, size_t plainPrefix)
        : out_(out), password_(std::move(password)), plainPrefix_(plainPrefix) {}

    void write(const uint8_t* p, size_t n) {
        if (password_.empty() || position_ + n <= plainPrefix_) {
            writeAll(out_, p, n);
        } else {
            scratch_.assign(p, p + n);
            const uint64_t length = password_.size();
            uint64_t key = (position_) % length;
            for (size_t i = 0; i < n; ++i) {
                if (position_ + i >= plainPrefix_)
                    scratch_[i] = static_cast<uint8_t>(scratch_[i] + static_cast<uint8_t>(password_[key]));
                if (++key == length)
                    key = 0;
            }
            writeAll(out_, scratch_.data(), n);
        }
        position_ += n;
    }
    void write(const Bytes& b) { write(b.data(), b.size()); }
    uint64_t position() const { return position_; }

private:
    FILE* out_;
    std::string password_;
    size_t plainPrefix_;
    uint64_t position_ = 0;
    Bytes scratch_;
};

Bytes number(uint64_t v) { return kivtest::encodeNumber(v, (v >> 32) ? 8 : 4); }

void append(Bytes& out, const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); }

// The stored data goes to the archive and, unscrambled, to the copy.
struct StoredOut {
    BodySink& sink;
    FILE* copy;
    uint64_t bytes = 0;
    void write(const uint8_t* p, size_t n) {
        sink.write(p, n);
        if (copy)
            writeAll(copy, p, n);
        bytes += n;
    }
};

class ChecksumFold {
public:
    void add(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i, odd_ = !odd_)
            (odd_ ? low_ : high_) ^= p[i];
    }
    uint16_t value() const { return static_cast<uint16_t>(high_ << 8 | low_); }

private:
    bool odd_ = false;
    uint8_t high_ = 0, low_ = 0;
};

// Pulls `size` bytes from the producer and hands them on chunk by chunk.
template <class Consume>
void pump(uint64_t size, const Producer& produce, ChecksumFold& sum, Consume consume) {
    std::vector<uint8_t> buffer(kChunk);
    uint64_t left = size;
    while (left > 0) {
        const size_t want = left < kChunk ? static_cast<size_t>(left) : kChunk;
        const size_t got = produce(buffer.data(), want);
        if (got == 0)
            throw std::runtime_error("the entry's data ended early");
        sum.add(buffer.data(), got);
        consume(buffer.data(), got);
        left -= got;
    }
}

void deflateStream(uint64_t size, const Producer& produce, ChecksumFold& sum, StoredOut& out, int level) {
    z_stream z{};
    if (deflateInit(&z, level) != Z_OK)
        throw std::runtime_error("deflateInit failed");
    std::vector<uint8_t> buffer(kChunk);
    auto drain = [&](int flush) {
        int rc;
        do {
            z.next_out = buffer.data();
            z.avail_out = static_cast<uInt>(buffer.size());
            rc = deflate(&z, flush);
            if (rc == Z_STREAM_ERROR)
                throw std::runtime_error("deflate failed");
            out.write(buffer.data(), buffer.size() - z.avail_out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    };
    pump(size, produce, sum, [&](const uint8_t* p, size_t n) {
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = static_cast<uInt>(n);
        drain(Z_NO_FLUSH);
    });
    z.next_in = nullptr;
    z.avail_in = 0;
    drain(Z_FINISH);
    deflateEnd(&z);
}

void bzip2Stream(uint64_t size, const Producer& produce, ChecksumFold& sum, StoredOut& out) {
    bz_stream z{};
    // The writer's settings: block size 9, quiet, default work factor.
    if (BZ2_bzCompressInit(&z, 9, 0, 0) != BZ_OK)
        throw std::runtime_error("BZ2_bzCompressInit failed");
    std::vector<char> buffer(kChunk);
    auto drain = [&](int action) {
        int rc;
        do {
            z.next_out = buffer.data();
            z.avail_out = static_cast<unsigned>(buffer.size());
            rc = BZ2_bzCompress(&z, action);
            if (rc < 0)
                throw std::runtime_error("BZ2_bzCompress failed");
            out.write(reinterpret_cast<uint8_t*>(buffer.data()), buffer.size() - z.avail_out);
        } while (action == BZ_FINISH ? rc != BZ_STREAM_END : z.avail_in > 0);
    };
    pump(size, produce, sum, [&](const uint8_t* p, size_t n) {
        z.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(p));
        z.avail_in = static_cast<unsigned>(n);
        drain(BZ_RUN);
    });
    drain(BZ_FINISH);
    BZ2_bzCompressEnd(&z);
}

}  // namespace

OneEntryLayout writeOneEntryArchive(const std::string& path, const OneEntryOptions& options,
                                    uint64_t size, const Producer& produce,
                                    const std::string& streamCopy) {
    const uint8_t c = options.compression;
    if (c != 'n' && c != 'z' && c != 'y')
        throw std::invalid_argument("compression must be n, z or y");
    const bool scrambled = !options.password.empty();

    kivtest::ArchiveWriter config;
    config.version(kVersion).compression(c);
    if (scrambled)
        config.scramble({options.password, {}, {}});
    const Bytes header = config.headerBytes();

    File out = openOut(path);
    File copy = streamCopy.empty() ? File() : openOut(streamCopy);

    // Slice header: magic 123, ten zero bytes, slice flag 'T', a zero byte.
    const Bytes slice = {0, 0, 0, 123, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'T', 0};
    writeAll(out.get(), slice.data(), slice.size());

    BodySink body(out.get(), options.password, header.size());
    body.write(header);
    const kivtest::PadParameters pads = kivtest::padParameters(kVersion);
    if (scrambled)
        body.write(kivtest::detail::makeHeadPad({}, pads, header, options.password).bytes);

    OneEntryLayout layout;
    const uint64_t dataOffset = body.position();
    layout.dataOffset = slice.size() + dataOffset;
    StoredOut stored{body, copy.get()};
    ChecksumFold sum;
    if (c == 'n')
        pump(size, produce, sum, [&](const uint8_t* p, size_t n) { stored.write(p, n); });
    else if (c == 'z')
        deflateStream(size, produce, sum, stored, options.zlibLevel);
    else
        bzip2Stream(size, produce, sum, stored);
    layout.storedSize = stored.bytes;
    layout.checksum = sum.value();

    // Catalogue: the root record, one file record, the closing 'z'.
    Bytes catalogue = {'d', 0, 0, 0, 0, 0, 0, 0, 0};
    append(catalogue, number(0));
    append(catalogue, number(0));
    catalogue.push_back('f');
    catalogue.insert(catalogue.end(), options.name.begin(), options.name.end());
    catalogue.push_back(0);
    catalogue.insert(catalogue.end(), 7, 0);  // tail code 0 and the six bytes
    append(catalogue, number(0));
    append(catalogue, number(options.time));
    append(catalogue, number(size));
    append(catalogue, number(dataOffset));
    append(catalogue, number(c == 'n' ? 0 : stored.bytes));
    catalogue.push_back(static_cast<uint8_t>(layout.checksum >> 8));
    catalogue.push_back(static_cast<uint8_t>(layout.checksum));
    catalogue.push_back('z');
    if (c == 'z')
        catalogue = kivtest::zlibCompress(catalogue);
    else if (c == 'y')
        catalogue = kivtest::bzip2Compress(catalogue);
    const uint64_t catalogueOffset = body.position();
    body.write(catalogue);

    // Terminator: the catalogue offset, filler up to 8 bytes, count byte of two one-bits.
    Bytes terminator = number(catalogueOffset);
    if (terminator.size() > 8)
        throw std::runtime_error("archive too large for this terminator");
    terminator.resize(8, 0);
    terminator.push_back(0xC0);
    body.write(terminator);
    if (scrambled)
        body.write(kivtest::detail::makeTailPad({}, pads).bytes);

    if (std::fflush(out.get()) != 0 || std::ferror(out.get()))
        throw std::runtime_error("cannot write " + path);
    if (copy && (std::fflush(copy.get()) != 0 || std::ferror(copy.get())))
        throw std::runtime_error("cannot write " + streamCopy);
    return layout;
}

}  // namespace kivbench
