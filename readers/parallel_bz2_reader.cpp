#include "readers/parallel_bz2_reader.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace kiv {

namespace {

constexpr size_t kReadPiece = 256 * 1024;
// Stretches one block may be joined from: a magic inside a block's data is
// rare (about one in 2^48 bit positions), several in one block are damage.
constexpr size_t kMerges = 4;
// Compressed stretches and decoded blocks in flight, per worker and in
// all. With 8 workers: 8 decoders of 3.6 MB at level 9 and 18 MiB of
// blocks, which keeps an extraction under 64 MB.
constexpr uint64_t kBudgetPerWorker = uint64_t(3) << 20;
constexpr uint64_t kBudgetAll = uint64_t(18) << 20;

uint64_t ceilBytes(uint64_t bits) { return (bits + 7) / 8; }

bool proved(bz2::UnitResult r) { return r == bz2::UnitResult::Good || r == bz2::UnitResult::Large; }

}  // namespace

struct ParallelBZ2Reader::Job {
    std::vector<uint8_t> stream;  // the stretch as a stream of its own (kept for a large block)
    uint64_t endBit = 0;          // where the stretch ends in the stream
    uint64_t reserved = 0;        // counted against the budget
    bz2::BlockOutput output;
    bz2::UnitResult result = bz2::UnitResult::Bad;
    bool done = false;  // under the crew's lock; the fields above are the worker's until then
    std::atomic<bool> cancel{false};
};

// The reader's worker threads and the stretches waiting for them.
class ParallelBZ2Reader::Crew {
public:
    Crew(int threads, uint64_t cap) : cap_(cap) {
        for (int i = 0; i < threads; ++i) {
            try {
                threads_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // as many as the system gives
            }
        }
    }
    ~Crew() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    int size() const { return static_cast<int>(threads_.size()); }

    // `urgent` jobs go before the others: the reader waits for them.
    void push(std::shared_ptr<Job> job, bool urgent) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (urgent) queue_.push_front(std::move(job));
            else queue_.push_back(std::move(job));
        }
        wake_.notify_one();
    }
    void wait(const Job& job) {
        std::unique_lock<std::mutex> hold(lock_);
        finished_.wait(hold, [&] { return job.done; });
    }
    bool finished(const Job& job) {
        std::lock_guard<std::mutex> hold(lock_);
        return job.done;
    }

private:
    void work() {
        bz2::DecoderMemory memory;
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock<std::mutex> hold(lock_);
                wake_.wait(hold, [&] { return stop_ || !queue_.empty(); });
                if (stop_) return;
                job = std::move(queue_.front());
                queue_.pop_front();
            }
            if (job->cancel.load()) job->result = bz2::UnitResult::Cancelled;
            else job->result = bz2::decodeUnit(job->stream, cap_, job->output, &job->cancel, &memory);
            // Only a large block is decoded again from its stretch.
            if (job->result != bz2::UnitResult::Large) std::vector<uint8_t>().swap(job->stream);
            {
                std::lock_guard<std::mutex> hold(lock_);
                job->done = true;
            }
            finished_.notify_all();
        }
    }

    const uint64_t cap_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Job>> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

ParallelBZ2Reader::ParallelBZ2Reader(Reader* source, int64_t start, uint64_t packedSize, WorkerLease lease)
    : DecodingReader(source, start),
      source_(source),
      start_(start),
      // A little beyond the stored size: the end magic and its CRC must be seen.
      scanLimit_(packedSize != 0 && packedSize < UINT64_MAX - 16 ? packedSize + 16 : UINT64_MAX),
      lease_(std::move(lease)) {
    setInput(inputBuffer(), 0);
}

ParallelBZ2Reader::~ParallelBZ2Reader() {
    stopWorkers();
    if (streaming_) BZ2_bzDecompressEnd(&stream_);
    if (realActive_) BZ2_bzDecompressEnd(&real_);
}

void ParallelBZ2Reader::setInput(uint8_t* data, unsigned length) {
    if (phase_ == Phase::HandedOver) {
        real_.next_in = reinterpret_cast<char*>(data);
        real_.avail_in = length;
        return;
    }
    // Called only once the input given before is used up.
    given_ = consumed_ + length;
}

unsigned ParallelBZ2Reader::inputLeft() const {
    if (phase_ == Phase::HandedOver) return real_.avail_in;
    return static_cast<unsigned>(given_ - consumed_);
}

void ParallelBZ2Reader::setOutput(uint8_t* data, unsigned room) {
    out_ = data;
    room_ = room;
}

DecodingReader::Step ParallelBZ2Reader::decode() {
    if (phase_ == Phase::HandedOver) return decodeHandedOver();
    try {
        if (!begun_) begin();
        return play();
    } catch (const std::bad_alloc&) {
        // No memory to read ahead: while between blocks, the rest can still
        // go the sequential way exactly.
        if (phase_ == Phase::Decode) return handOver();
        return Step::Fail;
    }
}

void ParallelBZ2Reader::begin() {
    begun_ = true;
    std::vector<uint8_t> header;
    if (!sourceBytes(0, 4, header) || header[0] != 'B' || header[1] != 'Z' || header[2] != 'h' || header[3] < '1' ||
        header[3] > '9')
        return;  // level_ stays 0: the sequential decoder says what it makes of it
    level_ = header[3];
    const unsigned level = static_cast<unsigned>(level_ - '0');
    // Room for a block of ordinary data; one that decodes to more (long
    // runs) is decoded again on this thread rather than kept.
    const uint64_t piece = bz2::BlockOutput::kPiece;
    cap_ = capOverride_ != 0 ? capOverride_ : (uint64_t(level) * 125000 + piece - 1) / piece * piece;
    crew_ = std::make_unique<Crew>(lease_.count(), cap_);
    if (crew_->size() == 0) {
        crew_.reset();
        return;
    }
    maxInFlight_ = 2 * crew_->size();
    budget_ = std::min(kBudgetPerWorker * static_cast<uint64_t>(crew_->size()), kBudgetAll);
}

DecodingReader::Step ParallelBZ2Reader::play() {
    for (;;) {
        if (phase_ == Phase::Output) {
            if (!deliver()) return streaming_ || block_ ? Step::Ok : Step::Fail;
            // libbz2 checks the block's CRC and reads on in the same call.
            combined_ = bz2::combineCrc(combined_, blockCrc_);
            boundary_ = block_->endBit;
            discard(block_);
            phase_ = Phase::Decode;
        }
        const Next next = resolve();
        if (next == Next::HandOver) return handOver();
        // What libbz2 reads before it gives out the block's first byte (or
        // ends): the block up to its last bit, or the end magic and CRC.
        const uint64_t need =
            next == Next::End ? ceilBytes(boundary_ + bz2::kMarkBits) : ceilBytes(slots_.front().job->endBit);
        if (given_ < need) {
            consumed_ = given_;
            return Step::Ok;
        }
        consumed_ = need;
        if (next == Next::End) {
            const bool intact = slots_.front().at.crc == combined_;
            stopWorkers();
            return intact ? Step::End : Step::Fail;
        }
        block_ = std::move(slots_.front().job);
        blockCrc_ = slots_.front().at.crc;
        slots_.pop_front();
        delivered_ = 0;
        phase_ = Phase::Output;
        if (block_->result == bz2::UnitResult::Large) {
            stream_ = bz_stream{};
            if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) return Step::Fail;
            streaming_ = true;
            stream_.next_in = reinterpret_cast<char*>(block_->stream.data());
            stream_.avail_in = static_cast<unsigned>(block_->stream.size());
        }
    }
}

bool ParallelBZ2Reader::deliver() {
    const uint64_t total = block_->output.size;
    if (streaming_) {
        while (delivered_ < total && room_ > 0) {
            const unsigned want = static_cast<unsigned>(std::min<uint64_t>(room_, total - delivered_));
            stream_.next_out = reinterpret_cast<char*>(out_);
            stream_.avail_out = want;
            const int r = BZ2_bzDecompress(&stream_);
            const unsigned got = want - stream_.avail_out;
            out_ += got;
            room_ -= got;
            delivered_ += got;
            if (got == 0 || (r != BZ_OK && r != BZ_STREAM_END)) {
                // The worker decoded the same stretch whole; only memory can
                // make this differ.
                BZ2_bzDecompressEnd(&stream_);
                streaming_ = false;
                block_.reset();
                return false;
            }
        }
        if (delivered_ < total) return false;
        BZ2_bzDecompressEnd(&stream_);
        streaming_ = false;
        return true;
    }
    auto& pieces = block_->output.pieces;
    while (delivered_ < total && room_ > 0) {
        const size_t index = static_cast<size_t>(delivered_ / bz2::BlockOutput::kPiece);
        const size_t offset = static_cast<size_t>(delivered_ % bz2::BlockOutput::kPiece);
        const size_t n = static_cast<size_t>(
            std::min<uint64_t>({room_, bz2::BlockOutput::kPiece - offset, total - delivered_}));
        std::memcpy(out_, pieces[index].get() + offset, n);
        out_ += n;
        room_ -= static_cast<unsigned>(n);
        delivered_ += n;
        if (offset + n == bz2::BlockOutput::kPiece) pieces[index].reset();
    }
    return delivered_ == total;
}

ParallelBZ2Reader::Next ParallelBZ2Reader::resolve() {
    if (level_ == 0 || !crew_) return Next::HandOver;
    dropSlotsBefore(boundary_);
    feed();
    while (slots_.empty() && readMore()) {
    }
    if (slots_.empty() || slots_.front().at.bit != boundary_) return Next::HandOver;
    if (slots_.front().at.end) return Next::End;
    while (slots_.size() < 2 && readMore()) {
    }
    if (slots_.size() < 2) return Next::HandOver;
    if (!slots_.front().job) {
        // Handed out before anything else can be, and waited for now.
        Slot& s = slots_.front();
        s.job = std::make_shared<Job>();
        std::vector<uint8_t> bytes;
        const uint64_t first = s.at.bit / 8;
        if (!sourceBytes(first, ceilBytes(slots_[1].at.bit), bytes)) return Next::HandOver;
        s.job->stream = bz2::unitStream(bytes.data(), first, s.at.bit, slots_[1].at.bit, level_, s.at.crc);
        s.job->endBit = slots_[1].at.bit;
        s.job->reserved = s.job->stream.size() + cap_;
        ++inFlight_;
        reserved_ += s.job->reserved;
        crew_->push(s.job, true);
    }
    crew_->wait(*slots_.front().job);
    const bz2::UnitResult result = slots_.front().job->result;
    if (proved(result)) return Next::Block;
    if (result != bz2::UnitResult::Bad) return Next::HandOver;
    // A magic inside the block's data cut it short: join the next stretches.
    for (size_t n = 2; n <= kMerges; ++n) {
        while (slots_.size() < n + 1 && readMore()) {
        }
        if (slots_.size() < n + 1 || slots_[n].at.bit - boundary_ > bz2::kMaxBlockBytes * 8) break;
        bz2::UnitResult joined = bz2::UnitResult::Bad;
        std::shared_ptr<Job> job = merged(slots_[n].at.bit, slots_.front().at.crc, joined);
        if (!job || (joined != bz2::UnitResult::Bad && !proved(joined))) break;
        if (!proved(joined)) continue;
        for (size_t k = 0; k < n; ++k) discard(slots_[k].job);
        slots_.erase(slots_.begin() + 1, slots_.begin() + static_cast<long>(n));
        ++inFlight_;
        reserved_ += job->reserved;
        slots_.front().job = std::move(job);
        return Next::Block;
    }
    return Next::HandOver;
}

std::shared_ptr<ParallelBZ2Reader::Job> ParallelBZ2Reader::merged(uint64_t toBit, uint32_t crc,
                                                                  bz2::UnitResult& result) {
    auto job = std::make_shared<Job>();
    std::vector<uint8_t> bytes;
    const uint64_t first = boundary_ / 8;
    if (!sourceBytes(first, ceilBytes(toBit), bytes)) return nullptr;
    job->stream = bz2::unitStream(bytes.data(), first, boundary_, toBit, level_, crc);
    job->endBit = toBit;
    job->reserved = job->stream.size() + cap_;
    result = bz2::decodeUnit(job->stream, cap_, job->output, nullptr);
    job->result = result;
    job->done = true;
    if (result != bz2::UnitResult::Large) std::vector<uint8_t>().swap(job->stream);
    return job;
}

bool ParallelBZ2Reader::readMore() {
    if (scanDone_) return false;
    const uint64_t readEnd = storeFirst_ + store_.size();
    if (!sourceDry_ && readEnd < scanLimit_) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadPiece, scanLimit_ - readEnd));
        const size_t at = store_.size();
        store_.resize(at + want);
        size_t got = 0;
        while (got < want) {
            if (source_->seek(start_ + static_cast<int64_t>(readEnd + got), 0) != 0) break;
            const int n = source_->read(store_.data() + at + got, static_cast<int>(want - got));
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        store_.resize(at + got);
        if (got < want) sourceDry_ = true;
    }
    const uint64_t end = storeFirst_ + store_.size();
    const bool last = sourceDry_ || end >= scanLimit_;
    // A candidate needs its CRC's bytes: near the end of what is read only
    // once nothing more comes.
    const uint64_t toBit = last ? end * 8 : (end > 10 ? (end - 10) * 8 : 0);
    if (toBit > scannedTo_) {
        std::vector<bz2::Candidate> found;
        bz2::findCandidates(store_.data(), store_.size(), storeFirst_, scannedTo_, toBit, found);
        for (uint64_t bit : falseCandidates_)
            if (bit >= scannedTo_ && bit < toBit && bit / 8 >= storeFirst_ && ceilBytes(bit + bz2::kMarkBits) <= end) {
                bz2::Candidate c;
                c.bit = bit;
                for (uint64_t b = bit + 48; b < bit + bz2::kMarkBits; ++b)
                    c.crc = (c.crc << 1) | ((store_[static_cast<size_t>(b / 8 - storeFirst_)] >> (7 - b % 8)) & 1u);
                const auto at = std::lower_bound(found.begin(), found.end(), c, [](const bz2::Candidate& a,
                                                                                    const bz2::Candidate& b) {
                    return a.bit < b.bit;
                });
                if (at == found.end() || at->bit != bit) found.insert(at, c);
            }
        for (const bz2::Candidate& c : found) slots_.push_back(Slot{c, nullptr});
        scannedTo_ = toBit;
    }
    if (last) scanDone_ = true;
    // Past the longest block after the last candidate, nothing found later
    // can end it.
    const uint64_t lastStart = slots_.empty() ? boundary_ : slots_.back().at.bit;
    if (scannedTo_ > lastStart + bz2::kMaxBlockBytes * 8) scanDone_ = true;

    // Keep the bytes of every stretch not yet handed out.
    uint64_t keep = scannedTo_ / 8;
    for (const Slot& s : slots_)
        if (!s.job && !s.at.end) {
            keep = std::min(keep, s.at.bit / 8);
            break;
        }
    if (keep > storeFirst_ && (keep - storeFirst_ >= store_.size() / 2 || scanDone_)) {
        const size_t drop = static_cast<size_t>(std::min<uint64_t>(keep - storeFirst_, store_.size()));
        store_.erase(store_.begin(), store_.begin() + static_cast<long>(drop));
        storeFirst_ += drop;
    }
    return true;
}

void ParallelBZ2Reader::dispatch() {
    for (size_t i = 0; i + 1 < slots_.size(); ++i) {
        Slot& s = slots_[i];
        if (s.job || s.at.end) continue;
        const uint64_t to = slots_[i + 1].at.bit;
        const uint64_t first = s.at.bit / 8;
        if (first < storeFirst_) continue;  // handed out when it is needed
        const uint64_t estimate = ceilBytes(to) - first + cap_;
        if (inFlight_ > 0 && (inFlight_ >= maxInFlight_ || reserved_ + estimate > budget_)) {
            blocked_ = true;
            return;
        }
        auto job = std::make_shared<Job>();
        job->stream = bz2::unitStream(store_.data(), storeFirst_, s.at.bit, to, level_, s.at.crc);
        job->endBit = to;
        job->reserved = job->stream.size() + cap_;
        ++inFlight_;
        reserved_ += job->reserved;
        s.job = job;
        crew_->push(std::move(job), false);
    }
    blocked_ = false;
}

void ParallelBZ2Reader::feed() {
    settleZombies();
    dispatch();
    while (!blocked_ && !scanDone_) {
        readMore();
        dispatch();
    }
}

void ParallelBZ2Reader::dropSlotsBefore(uint64_t bit) {
    while (!slots_.empty() && slots_.front().at.bit < bit) {
        discard(slots_.front().job);
        slots_.pop_front();
    }
}

void ParallelBZ2Reader::discard(std::shared_ptr<Job>& job) {
    if (!job) return;
    job->cancel.store(true);
    if (crew_ && !crew_->finished(*job)) {
        zombies_.push_back(std::move(job));
        return;
    }
    --inFlight_;
    reserved_ -= job->reserved;
    job.reset();
}

void ParallelBZ2Reader::settleZombies() {
    for (size_t i = 0; i < zombies_.size();) {
        if (crew_ && !crew_->finished(*zombies_[i])) {
            ++i;
            continue;
        }
        --inFlight_;
        reserved_ -= zombies_[i]->reserved;
        zombies_.erase(zombies_.begin() + static_cast<long>(i));
    }
}

bool ParallelBZ2Reader::sourceBytes(uint64_t from, uint64_t to, std::vector<uint8_t>& out) {
    if (to <= from) return true;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(to - from));
    size_t got = 0;
    while (got < to - from) {
        if (source_->seek(start_ + static_cast<int64_t>(from + got), 0) != 0) break;
        const int n = source_->read(out.data() + at + got, static_cast<int>(std::min<uint64_t>(to - from - got, 1 << 30)));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    out.resize(at + got);
    return got == to - from;
}

void ParallelBZ2Reader::stopWorkers() {
    for (Slot& s : slots_)
        if (s.job) s.job->cancel.store(true);
    for (auto& z : zombies_) z->cancel.store(true);
    crew_.reset();
    slots_.clear();
    zombies_.clear();
    std::vector<uint8_t>().swap(store_);
    inFlight_ = 0;
    reserved_ = 0;
    scanDone_ = true;
    lease_ = WorkerLease();
}

DecodingReader::Step ParallelBZ2Reader::handOver() {
    stopWorkers();
    block_.reset();
    // From the first block on, the stream itself; from a later block, a
    // stream that stands where the sequential decoder stands: aligned like
    // the original, with a small block of its own in front.
    const bool fromStart = boundary_ <= bz2::kHeaderBits;
    bz2::AlignedStart front;
    try {
        handOverInput_.clear();
        uint64_t first = 0;
        if (!fromStart) {
            std::vector<uint8_t> head;
            if (boundary_ % 8 != 0 && !sourceBytes(boundary_ / 8, boundary_ / 8 + 1, head)) return Step::Fail;
            if (!bz2::alignedStart(boundary_, head.empty() ? 0 : head[0], level_, front)) return Step::Fail;
            handOverInput_ = front.bytes;
            first = ceilBytes(boundary_);
        }
        // Everything the sequential decoder has been given from there on.
        if (!sourceBytes(first, std::max(first, given_), handOverInput_)) return Step::Fail;
    } catch (const std::bad_alloc&) {
        return Step::Fail;
    }
    real_ = bz_stream{};
    if (BZ2_bzDecompressInit(&real_, 0, 0) != BZ_OK) return Step::Fail;
    realActive_ = true;
    phase_ = Phase::HandedOver;
    real_.next_in = reinterpret_cast<char*>(handOverInput_.data());
    real_.avail_in = static_cast<unsigned>(handOverInput_.size());
    if (!fromStart) {
        // The small block's own bytes go nowhere; libbz2 then stands at the
        // next block exactly as the sequential decoder does, in the same call.
        uint8_t own[64];
        if (front.ownOutput > sizeof own) return Step::Fail;
        real_.next_out = reinterpret_cast<char*>(own);
        real_.avail_out = static_cast<unsigned>(front.ownOutput);
        const int r = BZ2_bzDecompress(&real_);
        if (r == BZ_STREAM_END) return Step::End;
        if (r != BZ_OK) return Step::Fail;
        if (real_.avail_out != 0) return Step::Fail;
    }
    return decodeHandedOver();
}

DecodingReader::Step ParallelBZ2Reader::decodeHandedOver() {
    real_.next_out = reinterpret_cast<char*>(out_);
    real_.avail_out = room_;
    const int r = BZ2_bzDecompress(&real_);
    out_ = reinterpret_cast<uint8_t*>(real_.next_out);
    room_ = real_.avail_out;
    switch (r) {
        case BZ_OK: return Step::Ok;
        case BZ_STREAM_END: return Step::End;
        default: return Step::Fail;
    }
}

}  // namespace kiv
