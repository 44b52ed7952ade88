// bzip2 data decoded on several threads, delivering exactly what BZ2Reader
// delivers over the same source: the same bytes, the same count from every
// call, the same end, for a damaged or cut stream too.
//
// The calling thread reads the stream ahead, finds the candidate block
// starts (bz2_blocks.h) and hands each stretch between two of them to a
// worker, which decodes it with libbz2 as a stream of its own. A stretch
// that decodes whole, CRC included, is a proved block. Behind the shared
// buffering the reader then plays the sequential decoder: it takes input
// and gives out bytes at the very points libbz2 would, from the proved
// blocks in order. A stretch that fails is tried joined with the next ones
// (a magic inside a block's data); where that does not help (damage, a
// missing end, a worker without memory) the rest of the stream goes to a
// libbz2 decoder of the calling thread, built to stand exactly where the
// sequential decoder would stand, which carries on from there. After the
// end of the stream nothing is decoded, as before.
//
// The workers are threads of this reader, started at its first read and
// joined when it ends or is destroyed; at most two blocks per worker are in
// flight, and their memory within a fixed budget.
#pragma once

#include <bzlib.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "readers/bz2_blocks.h"
#include "readers/decoding_reader.h"
#include "readers/decoding_workers.h"

namespace kiv {

class ParallelBZ2Reader : public DecodingReader {
public:
    // `packedSize`: the stream's length in the source from `start` (the
    // entry's stored size), or 0 when unknown; nothing beyond it is read
    // ahead. The workers come from `lease` (at least one). Throws as
    // BZ2Reader does.
    ParallelBZ2Reader(Reader* source, int64_t start, uint64_t packedSize, WorkerLease lease);
    ~ParallelBZ2Reader() override;

    // For tests: blocks decoding to more than `bytes` are not kept by the
    // workers but decoded again on the calling thread.
    void setOutputCap(uint64_t bytes) { capOverride_ = bytes; }
    // For tests: bit offsets taken for magics as well, as if a block's data
    // held one there.
    void addFalseCandidates(std::vector<uint64_t> bits) { falseCandidates_ = std::move(bits); }
    // For tests: whether the rest of the stream went to libbz2 on the
    // calling thread, and from which bit (the block it stood at).
    bool handedOver() const { return phase_ == Phase::HandedOver; }
    uint64_t handOverBit() const { return boundary_; }

protected:
    void setInput(uint8_t* data, unsigned length) override;
    unsigned inputLeft() const override;
    void setOutput(uint8_t* data, unsigned room) override;
    uint8_t* outputNext() const override { return out_; }
    Step decode() override;

private:
    struct Job;
    struct Slot {
        bz2::Candidate at;
        std::shared_ptr<Job> job;  // the stretch up to the next slot, once handed out
    };
    class Crew;

    enum class Phase { Decode, Output, HandedOver };
    enum class Next { Block, End, HandOver };

    void begin();
    Step play();
    Next resolve();
    bool readMore();
    void dispatch();
    void feed();
    void dropSlotsBefore(uint64_t bit);
    void discard(std::shared_ptr<Job>& job);
    void settleZombies();
    bool sourceBytes(uint64_t from, uint64_t to, std::vector<uint8_t>& out);
    std::shared_ptr<Job> merged(uint64_t toBit, uint32_t crc, bz2::UnitResult& result);
    bool deliver();
    Step handOver();
    Step decodeHandedOver();
    void stopWorkers();

    Reader* source_;
    int64_t start_;
    uint64_t scanLimit_;
    WorkerLease lease_;
    std::unique_ptr<Crew> crew_;
    bool begun_ = false;
    uint64_t capOverride_ = 0;
    std::vector<uint64_t> falseCandidates_;
    uint64_t cap_ = 0;

    // Read ahead: stream bytes [storeFirst_, storeFirst_ + store_.size()).
    std::vector<uint8_t> store_;
    uint64_t storeFirst_ = 0;
    bool sourceDry_ = false;
    uint64_t scannedTo_ = bz2::kHeaderBits;  // candidates are known below this bit
    bool scanDone_ = false;
    uint8_t level_ = 0;
    std::deque<Slot> slots_;  // candidates from the current block on
    std::vector<std::shared_ptr<Job>> zombies_;  // given up, maybe still running
    int inFlight_ = 0;
    uint64_t reserved_ = 0;
    bool blocked_ = false;  // the last dispatch stopped at the limits
    int maxInFlight_ = 0;
    uint64_t budget_ = 0;

    // The sequential decoder as played: input consumed and given, in
    // stream bytes, and the output window.
    Phase phase_ = Phase::Decode;
    uint64_t boundary_ = bz2::kHeaderBits;  // the next block's magic, while decoding
    uint64_t consumed_ = 0;
    uint64_t given_ = 0;
    uint8_t* out_ = nullptr;
    unsigned room_ = 0;
    uint32_t combined_ = 0;
    std::shared_ptr<Job> block_;  // in Output: the block being delivered
    uint32_t blockCrc_ = 0;
    uint64_t delivered_ = 0;
    bool streaming_ = false;      // a large block, decoded again here
    bz_stream stream_{};

    // After the hand-over: libbz2 itself.
    bz_stream real_{};
    bool realActive_ = false;
    std::vector<uint8_t> handOverInput_;
};

}  // namespace kiv
