// The scrambled path: the same host, answering the password prompt with the
// password the seed archives were scrambled with.
#include "fuzz/plugin_driver.h"
#include "fuzz/seed_password.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kivfuzz::runThroughExports(data, size, kivfuzz::kSeedPassword);
    return 0;
}
