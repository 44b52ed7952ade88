// The threads that may decode for readers, one budget for the whole
// process: as many as it has processors, at most 8. Every reader that
// decodes on threads holds a share of them while it lives, so that two
// extractions at once do not start twice as many; the threads themselves
// belong to the reader and are joined before it is gone.
#pragma once

namespace kiv {

constexpr int kMaxDecodingWorkers = 8;

// The size of the budget. The environment variable KIV_BZIP2_WORKERS, read
// once, sets it for benchmarks and tests (0 to 8; 0 keeps every stream on
// the calling thread).
int decodingWorkerLimit();
// For tests: a new size of the budget, while no reader holds a share.
void setDecodingWorkerLimit(int workers);

class WorkerLease {
public:
    WorkerLease() = default;
    // As many workers as are free, up to `wanted`; possibly none.
    static WorkerLease take(int wanted);
    ~WorkerLease();
    WorkerLease(WorkerLease&& other) noexcept : count_(other.count_) { other.count_ = 0; }
    WorkerLease& operator=(WorkerLease&& other) noexcept;
    WorkerLease(const WorkerLease&) = delete;
    WorkerLease& operator=(const WorkerLease&) = delete;

    int count() const { return count_; }

private:
    int count_ = 0;
};

}  // namespace kiv
