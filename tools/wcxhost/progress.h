// Progress of a test or extraction run: the process-data callback handed
// to the plug-in, the Ctrl-C flag it answers with, and the bar on stderr.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "plugin/wcxapi.h"

namespace progress {

// Installs the Ctrl-C handler; from then on interrupted() tells whether the
// user asked to stop.
void catchInterrupt();
bool interrupted();

class Meter {
public:
    // `total` is the sum of the sizes of the selected entries; the bar is
    // drawn only when `visible` (stderr is a terminal).
    Meter(uint64_t total, bool visible);
    // Becomes the meter the callback feeds; the previous one comes back
    // when this one is destroyed.
    ~Meter();
    Meter(const Meter&) = delete;
    Meter& operator=(const Meter&) = delete;

    void startEntry(const std::string& name);
    void add(int64_t bytes);
    // Removes the bar so that normal output can follow on a clean line.
    void clear();
    uint64_t done() const { return done_; }

private:
    void draw(bool force);

    uint64_t total_;
    uint64_t done_ = 0;
    bool visible_;
    bool drawn_ = false;
    std::string entry_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    Meter* previous_;
};

// The process-data callback: adds Size to the active meter and answers 0
// (abort) once Ctrl-C was pressed, 1 otherwise.
int WCX_CALL processData(char* fileName, int size);
// The same for the wide functions.
int WCX_CALL processDataW(WCHAR* fileName, int size);

// "1.5 MiB" style byte counts for the bar.
std::string humanBytes(uint64_t bytes);

}  // namespace progress
