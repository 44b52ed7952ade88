// The library's load and unload handler. The platform calls it from the
// library entry point (DllMain on Win32, the shared object's constructor and
// destructor on POSIX) with the platform's reason codes.
#pragma once

namespace kiv {

enum : unsigned long {
    kProcessDetach = 0,
    kProcessAttach = 1,
    kThreadAttach = 2,
    kThreadDetach = 3
};

// Always returns 1.
int libraryEntry(void* module, unsigned long reason, void* reserved);

}  // namespace kiv
