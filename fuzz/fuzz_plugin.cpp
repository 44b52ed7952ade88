// The whole plug-in through its exports, with a host that has no password:
// open, list, test, extract, close, reopen.
#include "fuzz/plugin_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kivfuzz::runThroughExports(data, size, nullptr);
    return 0;
}
