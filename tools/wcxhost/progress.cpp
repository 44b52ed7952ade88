#include "progress.h"

#include <csignal>
#include <cstdio>

#include "os.h"

namespace progress {

namespace {
volatile std::sig_atomic_t gInterrupted = 0;
Meter* gActive = nullptr;

void onSigint(int) { gInterrupted = 1; }

// Redraws are limited so a fast plug-in is not slowed down by the terminal.
constexpr std::chrono::milliseconds kRedrawInterval(100);
}  // namespace

void catchInterrupt() { os::onInterrupt(onSigint); }

bool interrupted() { return gInterrupted != 0; }

std::string humanBytes(uint64_t bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    char buf[32];
    if (unit == 0)
        std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(buf, sizeof buf, "%.1f %s", value, units[unit]);
    return buf;
}

Meter::Meter(uint64_t total, bool visible)
    : total_(total), visible_(visible), start_(std::chrono::steady_clock::now()), lastDraw_(start_),
      previous_(gActive) {
    gActive = this;
}

Meter::~Meter() {
    clear();
    gActive = previous_;
}

void Meter::startEntry(const std::string& name) {
    entry_ = name;
    draw(true);
}

void Meter::add(int64_t bytes) {
    // The interface also allows negative values (percentages); they carry no
    // byte count and are left out.
    if (bytes > 0) done_ += static_cast<uint64_t>(bytes);
    draw(false);
}

void Meter::clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void Meter::draw(bool force) {
    if (!visible_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;

    double seconds = std::chrono::duration<double>(now - start_).count();
    uint64_t rate = seconds > 0.05 ? static_cast<uint64_t>(static_cast<double>(done_) / seconds) : 0;
    // Entries may grow while they are read; never show more than 100 %.
    uint64_t shown = total_ > 0 && done_ > total_ ? total_ : done_;
    int percent = total_ > 0 ? static_cast<int>(shown * 100 / total_) : 100;
    const int barWidth = 20;
    int filled = percent * barWidth / 100;

    std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(barWidth - filled), '-') + "] ";
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%3d%% %s of %s, %s/s  ", percent, humanBytes(done_).c_str(),
                  humanBytes(total_).c_str(), humanBytes(rate).c_str());
    line += numbers;
    // The entry name takes what is left of the line, keeping its end, which
    // is the part that tells entries apart.
    size_t room = static_cast<size_t>(os::terminalColumns() - 1);
    if (line.size() < room) {
        size_t left = room - line.size();
        line += entry_.size() <= left ? entry_ : "..." + entry_.substr(entry_.size() - (left > 3 ? left - 3 : 0));
    }
    if (line.size() > room) line.resize(room);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

int WCX_CALL processData(char*, int size) {
    if (gActive) gActive->add(size);
    return gInterrupted ? 0 : 1;
}

int WCX_CALL processDataW(WCHAR*, int size) { return processData(nullptr, size); }

}  // namespace progress
