#include "readers/decoding_workers.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "platform/platform.h"

namespace kiv {

namespace {

int readLimit() {
    if (const char* text = std::getenv("KIV_BZIP2_WORKERS")) {
        char* end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (end != text && *end == 0 && n >= 0) return static_cast<int>(std::min<long>(n, kMaxDecodingWorkers));
    }
    return static_cast<int>(std::min<unsigned>(platform::processorCount(), kMaxDecodingWorkers));
}

std::atomic<int>& limit() {
    static std::atomic<int> workers{readLimit()};
    return workers;
}

std::atomic<int>& freeWorkers() {
    static std::atomic<int> free{limit().load()};
    return free;
}

}  // namespace

int decodingWorkerLimit() { return limit().load(); }

void setDecodingWorkerLimit(int workers) {
    workers = std::max(0, std::min(workers, kMaxDecodingWorkers));
    limit().store(workers);
    freeWorkers().store(workers);
}

WorkerLease WorkerLease::take(int wanted) {
    WorkerLease lease;
    std::atomic<int>& free = freeWorkers();
    int now = free.load();
    while (wanted > 0 && now > 0) {
        const int n = std::min(wanted, now);
        if (free.compare_exchange_weak(now, now - n)) {
            lease.count_ = n;
            break;
        }
    }
    return lease;
}

WorkerLease::~WorkerLease() {
    if (count_ > 0) freeWorkers() += count_;
}

WorkerLease& WorkerLease::operator=(WorkerLease&& other) noexcept {
    if (this != &other) {
        if (count_ > 0) freeWorkers() += count_;
        count_ = other.count_;
        other.count_ = 0;
    }
    return *this;
}

}  // namespace kiv
